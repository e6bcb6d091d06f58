// The tab strip's state without drawing: the captions (one text, each caption
// followed by "|"), how many tabs are drawn, which one is active, where each
// tab sits and which tab a mouse press lands on. The strip keeps no pages;
// its host shows the page of the tab reported by the change callback.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>

namespace velto {

class MiniTabModel {
 public:
  static constexpr int kMaxTabs = 10;
  static constexpr char kSeparator = '|';
  static constexpr std::string_view kDefaultCaptions = "Tab0|Tab1|Tab2|Tab3|Tab4|Tab5|Tab6|Tab7|Tab8|Tab9|";
  static constexpr int kDefaultTabCount = 4;

  // Geometry in pixels. The bar is kBarHeight high and sits kRaise below the
  // strip's top; the active tab is drawn kRaise larger on every side but the
  // right, where it is kActiveExtraWidth wider, so it looks raised.
  static constexpr int kBarHeight = 17;
  static constexpr int kRaise = 2;
  static constexpr int kFirstLeft = 2;
  static constexpr int kCaptionPadding = 15;  // added to the caption's width
  static constexpr int kCaptionX = 5;         // caption inside an inactive tab
  static constexpr int kCaptionY = 3;
  static constexpr int kActiveCaptionX = 9;   // caption inside the active tab
  static constexpr int kActiveCaptionY = 4;
  static constexpr int kActiveExtraWidth = 6;

  struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
  };

  // Width in pixels of a caption in the strip's font.
  using TextWidth = std::function<int(std::string_view)>;
  // The tab that became active.
  using TabChanged = std::function<void(int)>;

  explicit MiniTabModel(TextWidth textWidth);

  void OnAfterTabChange(TabChanged handler) { afterTabChange_ = std::move(handler); }

  // Caption `index` is the index-th "|"-terminated field; a missing field
  // reads as "". Setting one keeps every other field as it is.
  std::string Caption(int index) const;
  void SetCaption(int index, std::string_view caption);
  const std::string& CaptionText() const { return captions_; }

  int TabCount() const { return tabCount_; }
  // Clamped to 0..kMaxTabs. When the active tab is no longer drawn, tab 0
  // becomes active without a change notification.
  void SetTabCount(int count);

  int ActiveTab() const { return activeTab_; }
  // Always notifies, also when the tab was already active.
  void SetActiveTab(int index);

  // Re-measures the captions (after the font changed).
  void Relayout();

  // Tab `index` on the bar (top 0, the bar's height); empty when not drawn.
  Rect TabRect(int index) const;
  // The raised active tab relative to the bar's top (so its top is -kRaise);
  // empty when the active tab is not drawn.
  Rect ActiveTabRect() const;
  // The focus rectangle inside the active tab.
  Rect FocusRect() const;
  // Width the strip needs for all its tabs.
  int RowWidth() const;

  // A left-button press at `x` on the bar: the tab under it becomes active.
  // Presses beside the row are ignored. True when the active tab changed
  // (and the change was notified).
  bool Press(int x);

 private:
  bool Drawn(int index) const { return index >= 0 && index < tabCount_; }
  void Notify(int index);

  TextWidth textWidth_;
  TabChanged afterTabChange_;
  std::string captions_{kDefaultCaptions};
  int tabCount_ = kDefaultTabCount;
  int activeTab_ = 0;
  std::array<int, kMaxTabs> left_{};
  std::array<int, kMaxTabs> width_{};
};

}  // namespace velto
