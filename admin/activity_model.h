// What a session's activity window shows, without the window: its caption
// and the running text, newest entry on top. Unlike the diagnostics pane,
// entries are taken as given (the session's received text carries its own
// line ends) and the text is emptied once it has grown past the limit.
// Control characters other than line ends are shown escaped
// (EscapeControls).
#pragma once

#include "log/text_log.h"

#include <functional>
#include <string>
#include <string_view>

namespace velto {

class ActivityModel {
 public:
  // Puts the log time stamp (and a blank) in front of an entry;
  // TimeStampText by default.
  using Stamper = std::function<std::string(std::string_view)>;

  explicit ActivityModel(Stamper stamp = {});

  // "Activity - bob [10.0.0.5]".
  static std::string Caption(std::string_view userId, std::string_view remoteAddress);

  // Adds one stamped entry at the top; a text already longer than the
  // limit is emptied first.
  void Update(std::string_view text);
  void Clear() { text_.clear(); }
  const std::string& Text() const { return text_; }

 private:
  Stamper stamp_;
  std::string text_;
};

}  // namespace velto
