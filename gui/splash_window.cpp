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
      mModel([this] { close(); }) {
  setAttribute(Qt::WA_ShowWithoutActivating);
  // Frameless, so the title only names it to the desktop.
  setWindowTitle(QStringLiteral("Velto"));
  setWindowIcon(AppIcon());

  auto* frame = new QFrame(this);
  frame->setFrameStyle(QFrame::Box | QFrame::Plain);
  auto* logo = new QLabel(frame);
  logo->setPixmap(LogoPixmap(96));
  logo->setAlignment(Qt::AlignCenter);
  mVersion = new QLabel(ToQt(VersionLine()), frame);
  mVersion->setAlignment(Qt::AlignCenter);
  mStatus = new QLabel(frame);
  mStatus->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  mStatus->setMinimumWidth(360);

  auto* inner = new QVBoxLayout(frame);
  inner->setContentsMargins(24, 24, 24, 12);
  inner->addWidget(logo);
  inner->addWidget(mVersion);
  inner->addSpacing(16);
  inner->addWidget(mStatus);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->addWidget(frame);

  adjustSize();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }

  mTimer.setSingleShot(true);
  mTimer.setInterval(minimumShown);
  connect(&mTimer, &QTimer::timeout, this, [this] { mModel.TimerTick(); });
  mTimer.start();
}

FSplash::~FSplash() = default;

QString FSplash::Version() const { return mVersion->text(); }

void FSplash::SetVersion(const QString& version) { mVersion->setText(version); }

void FSplash::SetStatus(const QString& status) {
  mStatus->setText(status);
  mStatus->repaint();
}

QString FSplash::Status() const { return mStatus->text(); }

}  // namespace velto
