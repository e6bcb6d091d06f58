#include "admin/activity_model.h"

#include "log/log_lines.h"

#include <utility>

namespace velto {

ActivityModel::ActivityModel(Stamper stamp) : stamp_(std::move(stamp)) {
  if (!stamp_) stamp_ = [](std::string_view text) { return TimeStampText(text); };
}

std::string ActivityModel::Caption(std::string_view userId, std::string_view remoteAddress) {
  return "Activity - " + EscapeControls(userId) + " [" + std::string(remoteAddress) + "]";
}

void ActivityModel::Update(std::string_view text) {
  if (text_.size() > kTextLogLimit) text_.clear();
  // A client's escapes and backspaces must not rewrite what the window shows.
  text_.insert(0, stamp_(EscapeControls(text, LineBreaks::kKeep)));
}

}  // namespace velto
