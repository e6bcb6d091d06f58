#include "admin/tray_service.h"

#include <utility>

namespace velto {

TrayReaction ReactionTo(int mouseMessage) {
  switch (mouseMessage) {
    case kTrayLeftDown:
      return TrayReaction::kShowMainWindow;
    case kTrayRightUp:
      return TrayReaction::kPopupMenu;
    default:
      return TrayReaction::kNone;
  }
}

TrayService::TrayService(ITrayShell& shell, OwnerTitle ownerTitle)
    : shell_(shell), ownerTitle_(std::move(ownerTitle)) {}

// The icon must not outlive its owner on the desktop.
TrayService::~TrayService() { Update(false); }

bool TrayService::StartTrayService() {
  if (started_) return false;
  hasOwner_ = true;
  if (!Update(true)) {
    hasOwner_ = false;
    return false;
  }
  started_ = true;
  return true;
}

bool TrayService::StopTrayService() {
  const bool stillShown = Update(false);
  started_ = false;
  return stillShown;
}

void TrayService::TitleChanged() {
  if (iconShown_) Update(true);
}

bool TrayService::Update(bool iconOn) {
  if (iconOn) {
    const std::string tip = TipFor(hasOwner_ && ownerTitle_ ? ownerTitle_() : std::string());
    iconShown_ = iconShown_ ? shell_.ModifyIcon(tip) : shell_.AddIcon(tip);
    return iconShown_;
  }
  if (iconShown_ && shell_.DeleteIcon()) iconShown_ = false;
  return iconShown_;
}

void TrayService::MouseMessage(int message) {
  if (handling_ || message < kTrayLeftDown || message > kTrayRightDouble) return;
  handling_ = true;
  if (onMouse_) onMouse_(message);
  handling_ = false;
}

std::string TrayService::TipFor(std::string_view title) {
  return std::string(title.substr(0, kTipLength));
}

}  // namespace velto
