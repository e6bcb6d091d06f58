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
    : programName_(std::move(programName)), tray_(std::make_unique<TrayIcon>([this] { return title_; })) {
  QObject::connect(tray_.get(), &TrayIcon::mouseMessage, tray_.get(), [this](int message) { OnTrayMouse(message); });
}

QtUserInterface::~QtUserInterface() = default;

int QtUserInterface::ShowAppMessage(const std::string& text, int style, const std::string& title) {
  // No owner: the box must show even while no window is.
  QMessageBox box(IconFor(style), ToQt(title.empty() ? programName_ : title), ToQt(text), ButtonsFor(style));
  box.setWindowIcon(AppIcon());
  return AnswerFor(box.exec());
}

bool QtUserInterface::StartTrayIcon() { return tray_->StartTrayService(); }

void QtUserInterface::StopTrayIcon() { tray_->StopTrayService(); }

void QtUserInterface::ShowMainWindow(bool visible) {
  wantVisible_ = visible;
  if (!mainWindow_) return;
  if (!visible) {
    mainWindow_->hide();
    return;
  }
  mainWindow_->showNormal();
  mainWindow_->raise();
  mainWindow_->activateWindow();
}

void QtUserInterface::SetTitle(const std::string& title) {
  title_ = title;
  if (mainWindow_) mainWindow_->setWindowTitle(ToQt(title));
  tray_->TitleChanged();
}

void QtUserInterface::SplashStatus(const std::string& text) {
  if (!splash_) {
    splash_ = std::make_unique<FSplash>();
    splash_->show();
  }
  splash_->SetStatus(ToQt(text));
}

void QtUserInterface::SplashReady() {
  if (splash_) splash_->AppIsReady();
}

void QtUserInterface::AttachMainWindow(QWidget* window) {
  mainWindow_ = window;
  if (!window) return;
  if (!title_.empty()) window->setWindowTitle(ToQt(title_));
  ShowMainWindow(wantVisible_);
}

void QtUserInterface::SetTrayMenu(QMenu* menu) { trayMenu_ = menu; }

void QtUserInterface::OnTrayMouse(int message) {
  switch (ReactionTo(message)) {
    case TrayReaction::kShowMainWindow:
      ShowMainWindow(true);
      break;
    case TrayReaction::kPopupMenu:
      if (mainWindow_ && mainWindow_->isVisible()) {
        mainWindow_->raise();
        mainWindow_->activateWindow();
      }
      // Modal, as the desktop's popup menu: clicks on the icon meanwhile are
      // dropped by the tray service.
      if (trayMenu_) trayMenu_->exec(QCursor::pos());
      break;
    case TrayReaction::kNone:
      break;
  }
}

}  // namespace velto
