// The desktop front end: the windows over the running server. The program
// runs them when a display exists; without one (a service on a server, a
// test run) it runs headless with the same core.
#pragma once

#include "server/globals.h"
#include "server/main_window.h"
#include "server/server_facade.h"
#include "server/user_interface.h"

#include <functional>
#include <memory>

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

// Made by the windowing library; `argc`/`argv` lose the options it takes.
std::unique_ptr<IFrontEnd> CreateDesktopFrontEnd(int& argc, char** argv);

}  // namespace velto
