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

MiniTabModel::MiniTabModel(TextWidth textWidth) : textWidth_(std::move(textWidth)) { Relayout(); }

std::string MiniTabModel::Caption(int index) const {
  if (index < 0) return {};
  const std::size_t start = FieldStart(captions_, index);
  if (start == std::string::npos || start >= captions_.size()) return {};
  const std::size_t end = captions_.find(kSeparator, start);
  return captions_.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

void MiniTabModel::SetCaption(int index, std::string_view caption) {
  if (index < 0 || index >= kMaxTabs) return;
  // A text with fewer fields is first extended with empty ones.
  if (!captions_.empty() && captions_.back() != kSeparator) captions_.push_back(kSeparator);
  while (FieldStart(captions_, index + 1) == std::string::npos) captions_.push_back(kSeparator);
  const std::size_t start = FieldStart(captions_, index);
  const std::size_t end = captions_.find(kSeparator, start);
  captions_.replace(start, end - start, caption);
  Relayout();
}

void MiniTabModel::SetTabCount(int count) {
  count = std::clamp(count, 0, kMaxTabs);
  // The active tab must be one that is drawn.
  if (count <= activeTab_) activeTab_ = 0;
  tabCount_ = count;
  Relayout();
}

void MiniTabModel::SetActiveTab(int index) {
  activeTab_ = index;
  Notify(index);
}

void MiniTabModel::Relayout() {
  int left = kFirstLeft;
  for (int n = 0; n < kMaxTabs; ++n) {
    if (n < tabCount_) {
      left_[n] = left;
      width_[n] = (textWidth_ ? textWidth_(Caption(n)) : 0) + kCaptionPadding;
      left += width_[n];
    } else {
      left_[n] = left;
      width_[n] = 0;
    }
  }
}

MiniTabModel::Rect MiniTabModel::TabRect(int index) const {
  if (!Drawn(index)) return {};
  return {left_[index], 0, width_[index], kBarHeight};
}

MiniTabModel::Rect MiniTabModel::ActiveTabRect() const {
  if (!Drawn(activeTab_)) return {};
  return {left_[activeTab_] - 1, -kRaise, width_[activeTab_] + kActiveExtraWidth, kBarHeight + 2 * kRaise};
}

MiniTabModel::Rect MiniTabModel::FocusRect() const {
  const Rect active = ActiveTabRect();
  if (active.width == 0) return {};
  // Left 4, top 3, bottom 19, right 3 short of the active tab's width.
  return {4, 3, active.width - 3 - 4, 19 - 3};
}

int MiniTabModel::RowWidth() const {
  if (tabCount_ == 0) return 0;
  return left_[tabCount_ - 1] + width_[tabCount_ - 1] + kActiveExtraWidth;
}

bool MiniTabModel::Press(int x) {
  if (tabCount_ == 0) return false;
  const int last = tabCount_ - 1;
  if (x <= left_[0] || x > left_[last] + width_[last]) return false;
  // The pressed tab is the last one whose left edge is below x.
  int pressed = 0;
  while (pressed < last && left_[pressed + 1] < x) ++pressed;
  if (pressed == activeTab_) return false;
  activeTab_ = pressed;
  Notify(pressed);
  return true;
}

void MiniTabModel::Notify(int index) {
  if (afterTabChange_) afterTabChange_(index);
}

}  // namespace velto
