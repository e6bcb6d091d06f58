// The start-up window: logo, version line and a status line that start-up
// writes its progress into. It stays on top, takes no focus, and closes once
// it has been shown for its minimum time and start-up is ready.
#pragma once

#include "admin/splash_model.h"

#include <QTimer>
#include <QWidget>

#include <chrono>

class QLabel;

namespace velto {

class FSplash final : public QWidget {
  Q_OBJECT

 public:
  explicit FSplash(std::chrono::milliseconds minimumShown = std::chrono::milliseconds(SplashModel::kMinimumShownMs));
  ~FSplash() override;

  QString Version() const;
  // Shows the text at once, also while start-up keeps the loop busy.
  void SetStatus(const QString& status);
  QString Status() const;
  void AppIsReady() { model_.AppIsReady(); }
  bool Closed() const { return model_.Closed(); }

 private:
  SplashModel model_;
  QTimer timer_;
  QLabel* version_ = nullptr;
  QLabel* status_ = nullptr;
};

}  // namespace velto
