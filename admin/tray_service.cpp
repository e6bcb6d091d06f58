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
    : mShell(shell), mOwnerTitle(std::move(ownerTitle)) {}

// The icon must not outlive its owner on the desktop.
TrayService::~TrayService() { Update(false); }

bool TrayService::StartTrayService() {
  if (mStarted) return false;
  mHasOwner = true;
  if (!Update(true)) {
    mHasOwner = false;
    return false;
  }
  mStarted = true;
  return true;
}

bool TrayService::StopTrayService() {
  const bool stillShown = Update(false);
  mStarted = false;
  return stillShown;
}

void TrayService::TitleChanged() {
  if (mIconShown) Update(true);
}

bool TrayService::Update(bool iconOn) {
  if (iconOn) {
    const std::string tip = TipFor(mHasOwner && mOwnerTitle ? mOwnerTitle() : std::string());
    mIconShown = mIconShown ? mShell.ModifyIcon(tip) : mShell.AddIcon(tip);
    return mIconShown;
  }
  if (mIconShown && mShell.DeleteIcon()) mIconShown = false;
  return mIconShown;
}

void TrayService::MouseMessage(int message) {
  if (mHandling || message < kTrayLeftDown || message > kTrayRightDouble) return;
  mHandling = true;
  if (mOnMouse) mOnMouse(message);
  mHandling = false;
}

std::string TrayService::TipFor(std::string_view title) {
  return std::string(title.substr(0, kTipLength));
}

}  // namespace velto
