// The server's core loaded in the test process from a program folder of
// its own, as the program loads it, for the dialogs to work on; unloading
// writes its files as the program does when it ends. No listener runs
// unless a test starts one (on 127.0.0.1 only).
#pragma once

#include "server/globals.h"
#include "server/main_window.h"
#include "server/server_facade.h"
#include "server/user_interface.h"

#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>

namespace velto::test {

// A fresh folder with the socket component and the given Velto.ini.
class ProgramFolder {
 public:
  explicit ProgramFolder(const std::string& ini = {}) {
    std::filesystem::create_symlink(std::string(VELTO_BIN_DIR) + "/libportwell.so", Path() + "libportwell.so");
    std::ofstream(Path() + "Velto.ini", std::ios::binary)
        << "[FTP Settings]\r\nFTPActive=False\r\n" << ini;
  }
  // Ends in "/", as the program's folder does.
  std::string Path() const { return dir_.path().toStdString() + "/"; }
  std::string Read(const std::string& name) const {
    std::ifstream file(Path() + name, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
  }

 private:
  QTemporaryDir dir_;
};

class ServerCore {
 public:
  // `beforeLoad` runs once the facade exists and before the load step (to
  // set what start-up calls back).
  explicit ServerCore(const ProgramFolder& folder, IUserInterface* ui = nullptr,
                      const std::function<void(CServerFacade&)>& beforeLoad = {}) {
    g.gsAppPath = folder.Path();
    g.ui = ui != nullptr ? ui : &headless_;
    if (beforeLoad) beforeLoad(facade);
    main.Load();
    if (g.gbAbortStart) throw std::runtime_error("the server's core did not load from " + folder.Path());
  }

  bool AddUser(const std::string& id, const std::string& password) {
    return facade.Users().pAddUser(id, password, g.gsAppPath, false, true, true, true, false, true);
  }

 private:
  HeadlessUserInterface headless_{"velto"};

 public:
  MGlobal g{platform::EventLoop::Instance()};
  FMain main{g};
  CServerFacade facade{g, main};
};

}  // namespace velto::test
