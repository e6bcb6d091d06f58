// The real server in a program folder of its own, for tests of the windows'
// models and views: the socket component from the build is linked in, the
// settings make it listen on a free high port (reached on 127.0.0.1), and
// raw clients connect to it. The caller drives the process loop (PumpUntil,
// or Qt's loop through the loop bridge).
#pragma once

#include "platform/event_loop.h"
#include "platform/host_info.h"
#include "server/globals.h"
#include "server/main_window.h"
#include "server/user_interface.h"
#include "tests/platform/loop_pump.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace velto::test {

inline int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

// Runs the process loop until `done` holds or the time is up.
inline bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  return PumpLoopUntil(platform::EventLoop::Instance(), done, limit);
}

// A temporary program folder; removed with everything in it.
class ListeningFolder {
 public:
  // `settings`: more lines (CR LF each) of the section [Settings].
  explicit ListeningFolder(const std::string& settings = "") : port_(FreePort()) {
    char name[] = "/tmp/velto-desk-XXXXXX";
    path_ = std::string(::mkdtemp(name)) + "/";
    const std::string bin = platform::ExecutableFolder() + "../bin/";
    for (const char* library : {"libportwell.so", "libvelto_platform.so"}) {
      std::filesystem::create_symlink(bin + library, path_ + library);
    }
    std::ofstream(path_ + "Velto.ini", std::ios::binary)
        << "[Settings]\r\nHideSplashScreen=True\r\n"
        << settings << "[FTP Settings]\r\nFTPPort=" << port_ << "\r\nFTPBindToIP=-1\r\n";
  }
  ~ListeningFolder() { std::filesystem::remove_all(path_); }
  ListeningFolder(const ListeningFolder&) = delete;
  ListeningFolder& operator=(const ListeningFolder&) = delete;

  const std::string& Path() const { return path_; }
  int Port() const { return port_; }
  std::string Read(const std::string& file) const {
    std::ostringstream text;
    text << std::ifstream(path_ + file, std::ios::binary).rdbuf();
    return text.str();
  }

 private:
  int port_;
  std::string path_;
};

// A user interface without a desktop that remembers what it was asked.
class RecordingUi final : public IUserInterface {
 public:
  std::vector<std::string> messages;
  int answer = kIdNo;
  int trayAttempts = 0;
  int trayShowsAfter = -1;  // attempts before the tray takes the icon; -1: never
  bool trayStarted = false;

  int ShowAppMessage(const std::string& text, int, const std::string&) override {
    messages.push_back(text);
    return answer;
  }
  bool StartTrayIcon() override {
    if (trayStarted) return false;
    ++trayAttempts;
    trayStarted = trayShowsAfter >= 0 && trayAttempts > trayShowsAfter;
    return trayStarted;
  }
  void StopTrayIcon() override { trayStarted = false; }
  bool TrayIconStarted() const override { return trayStarted; }
  void ShowMainWindow(bool) override {}
  void SetTitle(const std::string&) override {}
  void SplashStatus(const std::string&) override {}
};

// The program's objects, loaded as the start routine does, with the account
// bob (password "secret") whose home is the program folder.
class LiveServer {
 public:
  LiveServer(ListeningFolder& folder, IUserInterface& ui, bool service = false)
      : g(platform::EventLoop::Instance()), main(g) {
    g.loop.ResetQuit();
    g.gsAppPath = folder.Path();
    g.ui = &ui;
    g.gbRunningAsService = service;
    main.Load();
    if (!g.gbAbortStart) g.gobjFTPUsers->pAddUser("bob", "secret", folder.Path(), true, true, true, true, false, true);
  }
  ~LiveServer() { main.Unload(); }
  LiveServer(const LiveServer&) = delete;
  LiveServer& operator=(const LiveServer&) = delete;

  MGlobal g;
  FMain main;
};

// A raw FTP client on 127.0.0.1; reads are collected as the loop runs.
class Client {
 public:
  explicit Client(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Loopback connects complete in the kernel, before the server accepts.
    ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::fcntl(fd_, F_SETFL, O_NONBLOCK);
  }
  ~Client() { Close(); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  void Send(const std::string& text) { ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL); }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  // Everything received so far.
  const std::string& Received() {
    char buffer[4096];
    ssize_t n = 0;
    while (fd_ >= 0 && (n = ::recv(fd_, buffer, sizeof buffer, 0)) > 0)
      received_.append(buffer, static_cast<std::size_t>(n));
    if (n == 0) ended_ = true;
    return received_;
  }
  bool Has(const std::string& text) { return Received().find(text) != std::string::npos; }
  int LocalPort() const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
  }
  // The server closed the connection.
  bool Ended() {
    Received();
    return ended_;
  }

 private:
  int fd_;
  std::string received_;
  bool ended_ = false;
};

}  // namespace velto::test
