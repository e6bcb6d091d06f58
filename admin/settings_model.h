// The settings dialog without its widgets: the socket component's transfer
// tuning and three start-up options. The two processing intervals go live
// as they are typed (Cancel does not undo them); OK applies the rest and
// writes the packet size and the start-up options to Velto.ini at once.
#pragma once

#include "admin/setting_store.h"

#include <functional>
#include <optional>
#include <string>

namespace velto {

class SettingsModel {
 public:
  enum class Buffer { Receive, Send };

  struct Form {
    std::string packetSize;
    std::string intervalReceive;
    std::string intervalSend;
    bool useBuffersToReceive = false;
    bool useBuffersToSend = false;
    bool startMinimized = false;
    bool hideSplashScreen = false;
    bool hideIcon = false;
  };

  using MessageSink = std::function<void(const DialogMessage&)>;

  // `appPath` is the folder of Velto.ini (ending in "/"), named by the
  // hide-icon warning.
  SettingsModel(ISettingStore& settings, std::string appPath, MessageSink message);

  // Fills the form; `show` runs while the loading flag is still set, so
  // the view can fill its boxes without the warning going off.
  void Load(const std::function<void()>& show = {});

  Form form;

  // An interval box can be typed in exactly when its buffer is on.
  bool IntervalEnabled(Buffer buffer) const {
    return buffer == Buffer::Receive ? form.useBuffersToReceive : form.useBuffersToSend;
  }
  // The box's text changed. A positive number sets the interval at once;
  // zero or less leaves it (and the text). Anything that is not a 16-bit
  // number is answered with the current interval's text, which the box
  // must show instead.
  std::optional<std::string> IntervalChanged(Buffer buffer, const std::string& text);
  // The hide-icon box was checked or cleared by the administrator.
  void HideIconClicked();

  void Ok();

  static std::string HideIconWarning(const std::string& appPath);

 private:
  ISettingStore& settings_;
  std::string appPath_;
  MessageSink message_;
  bool loading_ = false;
};

}  // namespace velto
