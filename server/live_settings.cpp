#include "server/live_settings.h"

#include "ftp/ftp_sessions.h"
#include "server/globals.h"

namespace velto {

LiveSettings::LiveSettings(MGlobal& globals) : g_(globals) {
  auto sessions = [this]() -> CFTPSessions& { return *g_.gobjFTPSessions; };
  // The component's settings go through its properties; a failed setter
  // is an error-log line and leaves the value.
  bindings_[static_cast<std::size_t>(Setting::ChunkSize)] = {
      [this](const std::string& text) {
        const auto value = ParseInt32(text);
        if (!value || !g_.gobjPortwell) return false;
        g_.gobjPortwell->SetChunkSize(*value);
        return true;
      },
      [this] { return g_.gobjPortwell ? std::to_string(g_.gobjPortwell->ChunkSize()) : std::string(); }};
  const auto interval = [this](Setting setting, void (CPortwell::*set)(std::int16_t),
                               std::int16_t (CPortwell::*get)() const) {
    bindings_[static_cast<std::size_t>(setting)] = {
        [this, set](const std::string& text) {
          const auto value = ParseInt16(text);
          if (!value || !g_.gobjPortwell) return false;
          try {
            (g_.gobjPortwell.get()->*set)(*value);
          } catch (const PortwellError& e) {
            g_.LogError(e.Number, e.Description, "");
            return false;
          }
          return true;
        },
        [this, get] { return g_.gobjPortwell ? std::to_string((g_.gobjPortwell.get()->*get)()) : std::string(); }};
  };
  interval(Setting::ProcessingIntervalToSend, &CPortwell::SetProcessingIntervalToSend,
           &CPortwell::ProcessingIntervalToSend);
  interval(Setting::ProcessingIntervalReceive, &CPortwell::SetProcessingIntervalReceive,
           &CPortwell::ProcessingIntervalReceive);
  BindBool(Setting::UseBuffersToSend, [this]() -> bool& { return g_.gbUseBuffersToSend; });
  BindBool(Setting::UseBuffersToReceive, [this]() -> bool& { return g_.gbUseBuffersToReceive; });
  BindBool(Setting::HideIcon, [this]() -> bool& { return g_.gbHideIcon; });
  BindBool(Setting::ViewRealTime, [this]() -> bool& { return g_.gbViewRealTime; });
  BindInt32(Setting::FTPPort, [this]() -> std::int32_t& { return g_.gnFTPPort; });
  BindInt32(Setting::FTPBindToIP, [this]() -> std::int32_t& { return g_.gnFTPBindToIP; });
  BindInt32(Setting::MaxUsers, [sessions]() -> std::int32_t& { return sessions().MaxUsers; });
  BindText(Setting::MaxLogonAttempts, [sessions]() -> std::string& { return sessions().MaxLogonAttempts; });
  BindText(Setting::BannerWelcome, [sessions]() -> std::string& { return sessions().BannerWelcome; });
  BindText(Setting::BannerExit, [sessions]() -> std::string& { return sessions().BannerExit; });
  BindText(Setting::BannerMaxUsers, [sessions]() -> std::string& { return sessions().BannerMaxUsers; });
  BindBool(Setting::AllowAnonymousLogons, [sessions]() -> bool& { return sessions().AllowAnonymousLogons; });
  BindBool(Setting::UseNTAuthentication, [sessions]() -> bool& { return sessions().UseNTAuthentication; });
  BindInt32(Setting::Timeout, [sessions]() -> std::int32_t& { return sessions().Timeout; });
  BindInt32(Setting::FailedLogonDelay, [sessions]() -> std::int32_t& { return sessions().FailedLogonDelay; });
  BindInt32(Setting::BanFailedLogons, [sessions]() -> std::int32_t& { return sessions().BanFailedLogons; });
  BindInt32(Setting::BanTime, [sessions]() -> std::int32_t& { return sessions().BanTime; });
  BindInt32(Setting::LogonTimeout, [sessions]() -> std::int32_t& { return sessions().LogonTimeout; });
  BindInt32(Setting::MaxConnectionsPerIP, [sessions]() -> std::int32_t& { return sessions().MaxConnectionsPerIP; });
  BindBool(Setting::AtomicUploads, [sessions]() -> bool& { return sessions().AtomicUploads; });
  BindText(Setting::TLSCertificateFile, [sessions]() -> std::string& { return sessions().TLSCertificateFile; });
  BindBool(Setting::TLSRequiredForLogon, [sessions]() -> bool& { return sessions().TLSRequiredForLogon; });
  BindBool(Setting::TLSRequiredForData, [sessions]() -> bool& { return sessions().TLSRequiredForData; });
  // The IPv6 address takes effect when the listener starts, the port range
  // at start, the passive address at start and on SIGHUP
  // (server/network_setup.cpp).
  BindText(Setting::FTPBindToIPv6, [this]() -> std::string& { return g_.gsFTPBindToIPv6; });
  BindInt32(Setting::PassivePortMin, [this]() -> std::int32_t& { return g_.gnPassivePortMin; });
  BindInt32(Setting::PassivePortMax, [this]() -> std::int32_t& { return g_.gnPassivePortMax; });
  BindText(Setting::PassiveAddress, [this]() -> std::string& { return g_.gsPassiveAddress; });
}

void LiveSettings::BindBool(Setting setting, std::function<bool&()> target) {
  bindings_[static_cast<std::size_t>(setting)] = {[target](const std::string& text) {
                                                    const auto value = ParseBool(text);
                                                    if (value) target() = *value;
                                                    return value.has_value();
                                                  },
                                                  [target] { return BoolText(target()); }};
}

void LiveSettings::BindInt32(Setting setting, std::function<std::int32_t&()> target) {
  bindings_[static_cast<std::size_t>(setting)] = {[target](const std::string& text) {
                                                    const auto value = ParseInt32(text);
                                                    if (value) target() = *value;
                                                    return value.has_value();
                                                  },
                                                  [target] { return std::to_string(target()); }};
}

void LiveSettings::BindText(Setting setting, std::function<std::string&()> target) {
  bindings_[static_cast<std::size_t>(setting)] = {[target](const std::string& text) {
                                                    target() = text;
                                                    return true;
                                                  },
                                                  [target] { return target(); }};
}

bool LiveSettings::Apply(Setting setting, const std::string& text) {
  const Binding& binding = bindings_[static_cast<std::size_t>(setting)];
  if (!binding.apply) return false;
  const bool applied = binding.apply(text);
  // A changed time-out takes effect for the idle sweep at once.
  if (applied && setting == Setting::Timeout && g_.gobjFTPSessions) g_.gobjFTPSessions->ArmTimer();
  return applied;
}

std::optional<std::string> LiveSettings::Current(Setting setting) const {
  const Binding& binding = bindings_[static_cast<std::size_t>(setting)];
  if (!binding.current) return std::nullopt;
  return binding.current();
}

}  // namespace velto
