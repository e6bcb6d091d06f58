// What the program asks of a person or a desktop: message boxes, the tray
// icon, the splash window and the main window's visible state. The headless
// implementation serves a machine without a display; the Qt views implement
// the same interface.
#pragma once

#include <string>

namespace velto {

// Message box styles and answers, as the system values.
inline constexpr int kMbOk = 0;
inline constexpr int kMbYesNo = 4;
inline constexpr int kMbStop = 16;
inline constexpr int kMbQuestion = 36;
inline constexpr int kIdOk = 1;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

class IUserInterface {
 public:
  virtual ~IUserInterface() = default;
  // Modal message; returns the pressed button.
  virtual int ShowAppMessage(const std::string& text, int style, const std::string& title) = 0;
  // False when no system tray exists (or the icon already shows).
  virtual bool StartTrayIcon() = 0;
  virtual void StopTrayIcon() = 0;
  virtual bool TrayIconStarted() const { return false; }
  virtual void ShowMainWindow(bool visible) = 0;
  virtual void SetTitle(const std::string& title) = 0;
  virtual void SplashStatus(const std::string& text) = 0;
  // Start-up is done: the start-up window may close (once it has been
  // shown for its minimum time).
  virtual void SplashReady() {}
};

// No display: messages go to standard error and syslog, questions are
// answered No, and there is no tray.
class HeadlessUserInterface final : public IUserInterface {
 public:
  explicit HeadlessUserInterface(std::string programName) : programName_(std::move(programName)) {}
  int ShowAppMessage(const std::string& text, int style, const std::string& title) override;
  bool StartTrayIcon() override { return false; }
  void StopTrayIcon() override {}
  void ShowMainWindow(bool visible) override { visible_ = visible; }
  void SetTitle(const std::string& title) override { title_ = title; }
  void SplashStatus(const std::string&) override {}

  const std::string& Title() const { return title_; }
  bool Visible() const { return visible_; }

 private:
  std::string programName_;
  std::string title_;
  bool visible_ = false;
};

}  // namespace velto
