#include "admin/activity_model.h"

#include "log/log_lines.h"

#include <utility>

namespace velto {

ActivityModel::ActivityModel(Stamper stamp) : mStamp(std::move(stamp)) {
  if (!mStamp) mStamp = [](std::string_view text) { return TimeStampText(text); };
}

std::string ActivityModel::Caption(std::string_view userId, std::string_view remoteAddress) {
  return "Activity - " + std::string(userId) + " [" + std::string(remoteAddress) + "]";
}

void ActivityModel::Update(std::string_view text) {
  if (mText.size() > kTextLogLimit) mText.clear();
  mText.insert(0, mStamp(text));
}

}  // namespace velto
