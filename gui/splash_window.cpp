#include "gui/splash_window.h"

#include "admin/about_info.h"
#include "gui/app_resources.h"
#include "gui/text.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

namespace velto {

FSplash::FSplash(std::chrono::milliseconds minimumShown)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      model_([this] { close(); }) {
  setAttribute(Qt::WA_ShowWithoutActivating);
  // Frameless, so the title only names it to the desktop.
  setWindowTitle(QStringLiteral("Velto"));
  setWindowIcon(AppIcon());

  auto* frame = new QFrame(this);
  frame->setFrameStyle(QFrame::Box | QFrame::Plain);
  auto* logo = new QLabel(frame);
  logo->setPixmap(LogoPixmap(96));
  logo->setAlignment(Qt::AlignCenter);
  version_ = new QLabel(ToQt(VersionLine()), frame);
  version_->setAlignment(Qt::AlignCenter);
  status_ = new QLabel(frame);
  status_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  status_->setMinimumWidth(360);

  auto* inner = new QVBoxLayout(frame);
  inner->setContentsMargins(24, 24, 24, 12);
  inner->addWidget(logo);
  inner->addWidget(version_);
  inner->addSpacing(16);
  inner->addWidget(status_);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->addWidget(frame);

  adjustSize();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }

  timer_.setSingleShot(true);
  timer_.setInterval(minimumShown);
  connect(&timer_, &QTimer::timeout, this, [this] { model_.TimerTick(); });
  timer_.start();
}

FSplash::~FSplash() = default;

QString FSplash::Version() const { return version_->text(); }

void FSplash::SetStatus(const QString& status) {
  status_->setText(status);
  status_->repaint();
}

QString FSplash::Status() const { return status_->text(); }

}  // namespace velto
