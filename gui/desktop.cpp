#include "gui/desktop.h"

#include "gui/app_resources.h"
#include "gui/desk.h"
#include "gui/loop_bridge.h"
#include "gui/main_view.h"

#include <QApplication>

namespace velto {

std::unique_ptr<IFrontEnd> CreateDesktopFrontEnd(int& argc, char** argv) {
  return std::make_unique<DesktopFrontEnd>(argc, argv);
}

DesktopFrontEnd::DesktopFrontEnd(int& argc, char** argv) : mApp(std::make_unique<QApplication>(argc, argv)) {
  QApplication::setApplicationName(QStringLiteral("Velto"));
  QApplication::setWindowIcon(AppIcon());
  // The main window hides in the tray; the program ends by Exit only.
  QApplication::setQuitOnLastWindowClosed(false);
  mUi = std::make_unique<QtUserInterface>("velto");
}

DesktopFrontEnd::~DesktopFrontEnd() {
  mUi.reset();
  mApp.reset();
}

void DesktopFrontEnd::Prepare(MGlobal& g, CServerFacade& facade) {
  mGlobals = &g;
  mFacade = &facade;
  mDialogs = MakeDeskDialogs(facade);
  // The first-start offer comes before the main window exists.
  facade.SetAccountImport([this] {
    if (mDialogs.importAccounts) mDialogs.importAccounts(nullptr);
  });
}

int DesktopFrontEnd::Run(std::function<void()> requestExit) {
  LoopBridge bridge(mGlobals->loop);
  mFacade->SetExitHandler(std::move(requestExit));
  int code = 0;
  {
    Desk desk(*mFacade, *mUi, mDialogs);
    mUi->AttachMainWindow(&desk.MainView());
    mUi->SetTrayMenu(&desk.Popup());
    code = QApplication::exec();
    mUi->SetTrayMenu(nullptr);
    mUi->AttachMainWindow(nullptr);
  }
  mFacade->SetExitHandler(nullptr);
  return code;
}

}  // namespace velto
