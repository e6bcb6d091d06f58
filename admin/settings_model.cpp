#include "admin/settings_model.h"

namespace velto {

namespace {

Setting IntervalSetting(SettingsModel::Buffer buffer) {
  return buffer == SettingsModel::Buffer::Receive ? Setting::ProcessingIntervalReceive
                                                  : Setting::ProcessingIntervalToSend;
}

const char* Flag(bool on) { return on ? "1" : "0"; }

}  // namespace

SettingsModel::SettingsModel(ISettingStore& settings, std::string appPath, MessageSink message)
    : settings_(settings), appPath_(std::move(appPath)), message_(std::move(message)) {}

void SettingsModel::Load(const std::function<void()>& show) {
  loading_ = true;
  const auto flag = [this](Setting setting) { return ParseBool(settings_.SettingText(setting)).value_or(false); };
  form.packetSize = settings_.SettingText(Setting::ChunkSize);
  form.intervalReceive = settings_.SettingText(Setting::ProcessingIntervalReceive);
  form.intervalSend = settings_.SettingText(Setting::ProcessingIntervalToSend);
  form.useBuffersToReceive = flag(Setting::UseBuffersToReceive);
  form.useBuffersToSend = flag(Setting::UseBuffersToSend);
  // These two live only in the file; a value that is not a boolean leaves
  // the box clear.
  form.startMinimized = flag(Setting::StartMinimized);
  form.hideSplashScreen = flag(Setting::HideSplashScreen);
  form.hideIcon = flag(Setting::HideIcon);
  if (show) show();
  loading_ = false;
}

std::optional<std::string> SettingsModel::IntervalChanged(Buffer buffer, const std::string& text) {
  const Setting setting = IntervalSetting(buffer);
  (buffer == Buffer::Receive ? form.intervalReceive : form.intervalSend) = text;
  const std::optional<std::int16_t> value = ParseInt16(text);
  if (!value) {
    std::string current = settings_.SettingText(setting);
    (buffer == Buffer::Receive ? form.intervalReceive : form.intervalSend) = current;
    return current;
  }
  if (*value > 0) settings_.SetSetting(setting, std::to_string(*value));
  return std::nullopt;
}

void SettingsModel::HideIconClicked() {
  if (!form.hideIcon || loading_ || !message_) return;
  message_(DialogMessage{HideIconWarning(appPath_), "Information", true});
}

void SettingsModel::Ok() {
  // The packet size is stored as typed, also when it is not a number (the
  // component then keeps its size).
  settings_.SetSetting(Setting::ChunkSize, form.packetSize, true);
  settings_.WriteSettingNow(Setting::StartMinimized, Flag(form.startMinimized));
  settings_.WriteSettingNow(Setting::HideSplashScreen, Flag(form.hideSplashScreen));
  settings_.SetSetting(Setting::HideIcon, Flag(form.hideIcon), true);
  // Used for connections accepted from now on.
  settings_.SetSetting(Setting::UseBuffersToReceive, Flag(form.useBuffersToReceive));
  settings_.SetSetting(Setting::UseBuffersToSend, Flag(form.useBuffersToSend));
}

std::string SettingsModel::HideIconWarning(const std::string& appPath) {
  return "You have set Velto not to display an icon when it has been started as a service.  This means that you "
         "will not be able to interact with the user interface to change options, user data, etc.  In order to "
         "view Velto's user interface again, you will need to modify the 'HideIcon' parameter in Velto.ini file "
         "located in the " +
         appPath +
         " directory and then restart Velto.  If you do not wish to hide the user interface, please uncheck this "
         "box, or click on the Cancel button on this screen.";
}

}  // namespace velto
