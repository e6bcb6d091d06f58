#include "gui/qt_user_interface.h"

#include "gui/app_resources.h"
#include "gui/splash_window.h"
#include "gui/text.h"

#include <QCursor>
#include <QMenu>
#include <QMessageBox>
#include <QWidget>

namespace velto {

namespace {

// The style's low four bits choose the buttons, the next four the icon, as
// in the system's message box.
QMessageBox::StandardButtons ButtonsFor(int style) {
  switch (style & 0x0F) {
    case 1:
      return QMessageBox::Ok | QMessageBox::Cancel;
    case 3:
      return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case kMbYesNo:
      return QMessageBox::Yes | QMessageBox::No;
    default:
      return QMessageBox::Ok;
  }
}

QMessageBox::Icon IconFor(int style) {
  switch (style & 0xF0) {
    case 0x10:
      return QMessageBox::Critical;
    case 0x20:
      return QMessageBox::Question;
    case 0x30:
      return QMessageBox::Warning;
    case 0x40:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

int AnswerFor(int button) {
  switch (button) {
    case QMessageBox::Yes:
      return kIdYes;
    case QMessageBox::No:
      return kIdNo;
    case QMessageBox::Cancel:
      return 2;  // IDCANCEL
    default:
      return kIdOk;
  }
}

}  // namespace

QtUserInterface::QtUserInterface(std::string programName)
    : mProgramName(std::move(programName)), mTray(std::make_unique<TrayIcon>([this] { return mTitle; })) {
  QObject::connect(mTray.get(), &TrayIcon::mouseMessage, mTray.get(), [this](int message) { OnTrayMouse(message); });
}

QtUserInterface::~QtUserInterface() = default;

int QtUserInterface::ShowAppMessage(const std::string& text, int style, const std::string& title) {
  // No owner: the box must show even while no window is.
  QMessageBox box(IconFor(style), ToQt(title.empty() ? mProgramName : title), ToQt(text), ButtonsFor(style));
  box.setWindowIcon(AppIcon());
  return AnswerFor(box.exec());
}

bool QtUserInterface::StartTrayIcon() { return mTray->StartTrayService(); }

void QtUserInterface::StopTrayIcon() { mTray->StopTrayService(); }

void QtUserInterface::ShowMainWindow(bool visible) {
  mWantVisible = visible;
  if (!mMainWindow) return;
  if (!visible) {
    mMainWindow->hide();
    return;
  }
  mMainWindow->showNormal();
  mMainWindow->raise();
  mMainWindow->activateWindow();
}

void QtUserInterface::SetTitle(const std::string& title) {
  mTitle = title;
  if (mMainWindow) mMainWindow->setWindowTitle(ToQt(title));
  mTray->TitleChanged();
}

void QtUserInterface::SplashStatus(const std::string& text) {
  if (!mSplash) {
    mSplash = std::make_unique<FSplash>();
    mSplash->show();
  }
  mSplash->SetStatus(ToQt(text));
}

void QtUserInterface::SplashReady() {
  if (mSplash) mSplash->AppIsReady();
}

void QtUserInterface::AttachMainWindow(QWidget* window) {
  mMainWindow = window;
  if (!window) return;
  if (!mTitle.empty()) window->setWindowTitle(ToQt(mTitle));
  ShowMainWindow(mWantVisible);
}

void QtUserInterface::SetTrayMenu(QMenu* menu) { mTrayMenu = menu; }

void QtUserInterface::OnTrayMouse(int message) {
  switch (ReactionTo(message)) {
    case TrayReaction::kShowMainWindow:
      ShowMainWindow(true);
      break;
    case TrayReaction::kPopupMenu:
      if (mMainWindow && mMainWindow->isVisible()) {
        mMainWindow->raise();
        mMainWindow->activateWindow();
      }
      // Modal, as the desktop's popup menu: clicks on the icon meanwhile are
      // dropped by the tray service.
      if (mTrayMenu) mTrayMenu->exec(QCursor::pos());
      break;
    case TrayReaction::kNone:
      break;
  }
}

}  // namespace velto
