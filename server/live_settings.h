// Where each setting lives while the program runs: one binding per key of
// the settings table, which converts the file's text into the live value
// and gives the live value back as text. The load and unload steps and the
// windows all go through it, so a key is read and written in one place.
#pragma once

#include "config/settings.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class CIni;

namespace velto {

struct MGlobal;

class LiveSettings {
 public:
  explicit LiveSettings(MGlobal& globals);

  // Converts `text` by the key's type and sets the live value; false (the
  // value unchanged) when it does not convert or the key has no live value.
  bool Apply(Setting setting, const std::string& text);
  // The live value as the program writes it, or nothing for keys that live
  // only in the file.
  std::optional<std::string> Current(Setting setting) const;

  // Reads each key (its default when the file lacks it) into its live value.
  template <class Settings>
  void Load(const CIni& ini, const Settings& which) {
    for (Setting setting : which) Apply(setting, ReadSettingText(ini, setting));
  }
  // Writes each key's live value into the file (not saved).
  template <class Settings>
  void Store(CIni& ini, const Settings& which) const {
    for (Setting setting : which) {
      if (auto text = Current(setting)) WriteSetting(ini, setting, *text);
    }
  }

 private:
  struct Binding {
    std::function<bool(const std::string&)> apply;
    std::function<std::string()> current;
  };
  void BindBool(Setting setting, std::function<bool&()> target);
  void BindInt32(Setting setting, std::function<std::int32_t&()> target);
  void BindText(Setting setting, std::function<std::string&()> target);

  MGlobal& g_;
  std::array<Binding, kSettingCount> bindings_{};
};

// The keys the load step reads into live values, in its order: the
// component's socket settings, then the program's switches, then the
// listener's address, then the session table's options, then where the
// server can be reached (the IPv6 listener, the passive ports and address).
inline constexpr std::array<Setting, 30> kLoadSettings = {
    Setting::ChunkSize,          Setting::ProcessingIntervalToSend, Setting::ProcessingIntervalReceive,
    Setting::UseBuffersToSend,   Setting::UseBuffersToReceive,      Setting::HideIcon,
    Setting::ViewRealTime,       Setting::FTPPort,                  Setting::FTPBindToIP,
    Setting::MaxUsers,           Setting::MaxLogonAttempts,         Setting::BannerWelcome,
    Setting::BannerExit,         Setting::BannerMaxUsers,           Setting::AllowAnonymousLogons,
    Setting::UseNTAuthentication, Setting::Timeout,                 Setting::FailedLogonDelay,
    Setting::BanFailedLogons,    Setting::BanTime,                  Setting::LogonTimeout,
    Setting::MaxConnectionsPerIP, Setting::AtomicUploads,     Setting::TLSCertificateFile,
    Setting::TLSRequiredForLogon, Setting::TLSRequiredForData,   Setting::FTPBindToIPv6,
    Setting::PassivePortMin,     Setting::PassivePortMax,           Setting::PassiveAddress,
};

}  // namespace velto
