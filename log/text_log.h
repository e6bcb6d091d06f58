// The insert rule of the running text panes (the diagnostics log, activity
// windows): newest line on top, and once the pane would reach the limit it is
// emptied as a whole instead of trimmed line by line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velto {

inline constexpr std::size_t kTextLogLimit = 10000;

// Puts `vsText` + CR LF in front of `rsBoxText`, emptying the box first when
// its length plus the new text's length is `limit` or more.
void AddToTextLog(std::string& rsBoxText, std::string_view vsText,
                  std::size_t limit = kTextLogLimit);

}  // namespace velto
