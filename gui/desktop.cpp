#include "gui/desktop.h"

#include "gui/app_resources.h"
#include "gui/desk.h"
#include "gui/loop_bridge.h"
#include "gui/main_view.h"

#include <QApplication>

namespace velto {

DesktopFrontEnd::DesktopFrontEnd(int& argc, char** argv) : app_(std::make_unique<QApplication>(argc, argv)) {
  QApplication::setApplicationName(QStringLiteral("Velto"));
  QApplication::setWindowIcon(AppIcon());
  // The main window hides in the tray; the program ends by Exit only.
  QApplication::setQuitOnLastWindowClosed(false);
  ui_ = std::make_unique<QtUserInterface>("velto");
}

DesktopFrontEnd::~DesktopFrontEnd() {
  ui_.reset();
  app_.reset();
}

void DesktopFrontEnd::Prepare(MGlobal& g, CServerFacade& facade) {
  globals_ = &g;
  facade_ = &facade;
  dialogs_ = MakeDeskDialogs(facade);
  // The first-start offer comes before the main window exists.
  facade.SetAccountImport([this] {
    if (dialogs_.importAccounts) dialogs_.importAccounts(nullptr);
  });
}

int DesktopFrontEnd::Run(std::function<void()> requestExit) {
  LoopBridge bridge(globals_->loop);
  facade_->SetExitHandler(std::move(requestExit));
  int code = 0;
  {
    Desk desk(*facade_, *ui_, dialogs_);
    ui_->AttachMainWindow(&desk.MainView());
    ui_->SetTrayMenu(&desk.Popup());
    code = QApplication::exec();
    ui_->SetTrayMenu(nullptr);
    ui_->AttachMainWindow(nullptr);
  }
  facade_->SetExitHandler(nullptr);
  return code;
}

}  // namespace velto
