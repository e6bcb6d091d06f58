// The program's front end when a display exists: the Qt application, the
// desktop user interface and, once the server is loaded, the windows, with
// Qt's loop driving the server's.
#pragma once

#include "gui/desk_dialogs.h"
#include "gui/qt_user_interface.h"
#include "server/front_end.h"

#include <memory>

class QApplication;

namespace velto {

class DesktopFrontEnd final : public IFrontEnd {
 public:
  DesktopFrontEnd(int& argc, char** argv);
  ~DesktopFrontEnd() override;

  IUserInterface& UserInterface() override { return *ui_; }
  void Prepare(MGlobal& g, CServerFacade& facade) override;
  int Run(std::function<void()> requestExit) override;

 private:
  std::unique_ptr<QApplication> app_;
  std::unique_ptr<QtUserInterface> ui_;
  MGlobal* globals_ = nullptr;
  CServerFacade* facade_ = nullptr;
  DeskDialogs dialogs_;
};

}  // namespace velto
