#include "admin/mini_tab_model.h"

#include <algorithm>
#include <utility>

namespace velto {

namespace {

// Start of field `index`, or npos when the text has fewer fields.
std::size_t FieldStart(const std::string& text, int index) {
  std::size_t pos = 0;
  for (int i = 0; i < index; ++i) {
    pos = text.find(MiniTabModel::kSeparator, pos);
    if (pos == std::string::npos) return pos;
    ++pos;
  }
  return pos;
}

}  // namespace

MiniTabModel::MiniTabModel(TextWidth textWidth) : mTextWidth(std::move(textWidth)) { Relayout(); }

std::string MiniTabModel::Caption(int index) const {
  if (index < 0) return {};
  const std::size_t start = FieldStart(mCaptions, index);
  if (start == std::string::npos || start >= mCaptions.size()) return {};
  const std::size_t end = mCaptions.find(kSeparator, start);
  return mCaptions.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

void MiniTabModel::SetCaption(int index, std::string_view caption) {
  if (index < 0 || index >= kMaxTabs) return;
  // A text with fewer fields is first extended with empty ones.
  if (!mCaptions.empty() && mCaptions.back() != kSeparator) mCaptions.push_back(kSeparator);
  while (FieldStart(mCaptions, index + 1) == std::string::npos) mCaptions.push_back(kSeparator);
  const std::size_t start = FieldStart(mCaptions, index);
  const std::size_t end = mCaptions.find(kSeparator, start);
  mCaptions.replace(start, end - start, caption);
  Relayout();
}

void MiniTabModel::SetTabCount(int count) {
  count = std::clamp(count, 0, kMaxTabs);
  // The active tab must be one that is drawn.
  if (count <= mActiveTab) mActiveTab = 0;
  mTabCount = count;
  Relayout();
}

void MiniTabModel::SetActiveTab(int index) {
  mActiveTab = index;
  Notify(index);
}

void MiniTabModel::Relayout() {
  int left = kFirstLeft;
  for (int n = 0; n < kMaxTabs; ++n) {
    if (n < mTabCount) {
      mLeft[n] = left;
      mWidth[n] = (mTextWidth ? mTextWidth(Caption(n)) : 0) + kCaptionPadding;
      left += mWidth[n];
    } else {
      mLeft[n] = left;
      mWidth[n] = 0;
    }
  }
}

MiniTabModel::Rect MiniTabModel::TabRect(int index) const {
  if (!Drawn(index)) return {};
  return {mLeft[index], 0, mWidth[index], kBarHeight};
}

MiniTabModel::Rect MiniTabModel::ActiveTabRect() const {
  if (!Drawn(mActiveTab)) return {};
  return {mLeft[mActiveTab] - 1, -kRaise, mWidth[mActiveTab] + kActiveExtraWidth, kBarHeight + 2 * kRaise};
}

MiniTabModel::Rect MiniTabModel::FocusRect() const {
  const Rect active = ActiveTabRect();
  if (active.width == 0) return {};
  // Left 4, top 3, bottom 19, right 3 short of the active tab's width.
  return {4, 3, active.width - 3 - 4, 19 - 3};
}

int MiniTabModel::RowWidth() const {
  if (mTabCount == 0) return 0;
  return mLeft[mTabCount - 1] + mWidth[mTabCount - 1] + kActiveExtraWidth;
}

bool MiniTabModel::Press(int x) {
  if (mTabCount == 0) return false;
  const int last = mTabCount - 1;
  if (x <= mLeft[0] || x > mLeft[last] + mWidth[last]) return false;
  // The pressed tab is the last one whose left edge is below x.
  int pressed = 0;
  while (pressed < last && mLeft[pressed + 1] < x) ++pressed;
  if (pressed == mActiveTab) return false;
  mActiveTab = pressed;
  Notify(pressed);
  return true;
}

void MiniTabModel::Notify(int index) {
  if (mAfterTabChange) mAfterTabChange(index);
}

}  // namespace velto
