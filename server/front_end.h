// The desktop front end: the windows over the running server. The program
// runs them when a display exists; without one (a service on a server, a
// test run) it runs headless with the same core. The Qt views live in
// libvelto_desktop.so beside the executable, loaded only then, so the
// program itself maps no Qt, GL or X library.
#pragma once

#include "server/globals.h"
#include "server/main_window.h"
#include "server/server_facade.h"
#include "server/user_interface.h"

#include <functional>
#include <memory>
#include <string>

namespace velto {

class IFrontEnd {
 public:
  virtual ~IFrontEnd() = default;
  // Message boxes, tray, start-up status and title, from the start on.
  virtual IUserInterface& UserInterface() = 0;
  // Before the load step: the hooks the load step may call. Both are
  // borrowed until Run has returned.
  virtual void Prepare(MGlobal& g, CServerFacade& facade) = 0;
  // After the load step: shows the windows and runs until `requestExit`
  // has ended the program's loop (the menus' Exit calls it). The windows
  // are gone when it returns; the unload step comes next.
  virtual int Run(std::function<void()> requestExit) = 0;
};

// A display is there: X11 or Wayland say where, or Qt is told a platform.
bool DisplayAvailable();

// The view library's one export. The library carries its own copy of the
// server's classes, so it must come from the same build: it refuses
// (nullptr) an interface version other than its own. `argc`/`argv` lose
// the options the windowing library takes. The object is deleted through
// its virtual destructor, before the library is closed.
inline constexpr const char* kDesktopLibraryFile = "libvelto_desktop.so";
inline constexpr const char* kDesktopFactoryName = "VeltoDesktopCreateObject";
inline constexpr int kDesktopInterfaceVersion = 1;
extern "C" {
using DesktopCreateFn = IFrontEnd* (*)(int interfaceVersion, int* argc, char** argv);
}

// The loaded view library and the front end made by it: the front end goes
// first, then the library is closed.
class DesktopInstance {
 public:
  DesktopInstance() = default;
  DesktopInstance(DesktopInstance&& other) noexcept;
  DesktopInstance& operator=(DesktopInstance&& other) noexcept;
  DesktopInstance(const DesktopInstance&) = delete;
  DesktopInstance& operator=(const DesktopInstance&) = delete;
  ~DesktopInstance() { Reset(); }

  // Null when nothing is loaded; borrowed.
  IFrontEnd* get() const { return frontEnd_.get(); }
  explicit operator bool() const { return frontEnd_ != nullptr; }
  void Reset();

  // Loads the library at `path` and makes its front end. On failure the
  // result is empty and `error` holds the loader's message.
  static DesktopInstance Load(const std::string& path, int& argc, char** argv, std::string& error);

 private:
  void* library_ = nullptr;
  std::unique_ptr<IFrontEnd> frontEnd_;
};

// The windows from the view library beside the executable. A library that
// is missing or cannot be loaded is said on standard error and syslog; the
// result is then empty and the program runs headless.
DesktopInstance OpenDesktop(int& argc, char** argv);

}  // namespace velto
