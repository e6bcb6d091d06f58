// The notification-area icon without the desktop: whether it is started,
// whether the desktop shows it, the tip text, and which mouse messages reach
// the main window and what the window does with them.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace velto {

// The desktop's side of the icon. Each call returns whether it succeeded.
class ITrayShell {
 public:
  virtual ~ITrayShell() = default;
  virtual bool AddIcon(const std::string& tip) = 0;
  virtual bool ModifyIcon(const std::string& tip) = 0;
  virtual bool DeleteIcon() = 0;
};

// Mouse messages on the icon, numbered as the desktop reports them.
enum TrayMouseMessage : int {
  kTrayLeftDown = 513,
  kTrayLeftUp = 514,
  kTrayLeftDouble = 515,
  kTrayRightDown = 516,
  kTrayRightUp = 517,
  kTrayRightDouble = 518,
};

// What the main window does for a mouse message.
enum class TrayReaction { kNone, kShowMainWindow, kPopupMenu };
TrayReaction ReactionTo(int mouseMessage);

class TrayService {
 public:
  // The tip field holds 64 characters including the terminating zero.
  static constexpr std::size_t kTipLength = 63;

  using OwnerTitle = std::function<std::string()>;
  using MouseHandler = std::function<void(int)>;

  // `shell` is borrowed and must outlive the service.
  TrayService(ITrayShell& shell, OwnerTitle ownerTitle);
  ~TrayService();
  TrayService(const TrayService&) = delete;
  TrayService& operator=(const TrayService&) = delete;

  void OnMouse(MouseHandler handler) { onMouse_ = std::move(handler); }

  // Shows the icon with the owner's title as tip. Does nothing and returns
  // false when already started; a failure leaves Started() false.
  bool StartTrayService();
  // Removes the icon; Started() becomes false. Returns whether the icon is
  // still shown, so false means it is gone.
  bool StopTrayService();
  bool Started() const { return started_; }
  // The owner's title changed: a shown icon takes the new tip.
  void TitleChanged();

  // A mouse message from the desktop. Messages 513..518 reach the handler;
  // one that arrives while the handler still runs (a popup menu is open) is
  // dropped.
  void MouseMessage(int message);

  static std::string TipFor(std::string_view title);

 private:
  bool Update(bool iconOn);

  ITrayShell& shell_;
  OwnerTitle ownerTitle_;
  MouseHandler onMouse_;
  bool hasOwner_ = false;
  bool started_ = false;
  bool iconShown_ = false;
  bool handling_ = false;
};

}  // namespace velto
