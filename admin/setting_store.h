// The settings as the windows see them, by key of the one settings table:
// the live value, a change that takes effect at once, and keys written
// straight to Velto.ini. The server's facade is the real store; the models
// of the dialogs only know this interface, so they run without the server.
#pragma once

#include "config/settings.h"

#include <string>

namespace velto {

class ISettingStore {
 public:
  virtual ~ISettingStore() = default;
  // The live value where the key has one, else the file's text (or its
  // default).
  virtual std::string SettingText(Setting setting) const = 0;
  // Sets the live value (false when the text does not convert: nothing
  // changes); with `writeNow` the text is also written and the file saved.
  virtual bool SetSetting(Setting setting, const std::string& text, bool writeNow = false) = 0;
  // Writes one key to the file and saves it, without a live value.
  virtual void WriteSettingNow(Setting setting, const std::string& text) = 0;
};

// What a dialog tells the administrator; the view shows it as a modal
// message box over the dialog.
struct DialogMessage {
  std::string text;
  std::string title;         // empty: the program's name
  bool information = false;  // with the information icon
};

}  // namespace velto
