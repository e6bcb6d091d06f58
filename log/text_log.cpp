#include "log/text_log.h"

namespace velto {

void AddToTextLog(std::string& rsBoxText, std::string_view vsText, std::size_t limit) {
  if (rsBoxText.size() + vsText.size() >= limit) rsBoxText.clear();
  std::string text;
  text.reserve(vsText.size() + 2 + rsBoxText.size());
  text += vsText;
  text += "\r\n";
  text += rsBoxText;
  rsBoxText = std::move(text);
}

}  // namespace velto
