// Service support: installs and removes the systemd unit, tells whether this
// process runs as the service, and receives the stop request (message 32100)
// on a hidden support target.
#pragma once

#include "platform/event_loop.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velto {

inline constexpr std::uint32_t kRunhostStopMessage = 32100;
inline constexpr std::intptr_t kRunhostStop = 1;
inline constexpr std::intptr_t kRunhostShutdown = 5;

class CRunhost {
 public:
  // `appPath` is the executable's folder ending in "/"; `unitFolder` where
  // units are written (the system's folder unless redirected for tests).
  CRunhost(platform::EventLoop& loop, std::string appPath, std::string unitFolder);
  ~CRunhost();
  CRunhost(const CRunhost&) = delete;
  CRunhost& operator=(const CRunhost&) = delete;

  // Where units go: $VELTO_SYSTEMD_UNIT_DIR, else /etc/systemd/system.
  static std::string DefaultUnitFolder();

  std::string CommandParams;

  void SetServiceParams(const std::string& vsServiceName, const std::string& vsDisplayName);
  const std::string& ServiceName() const { return serviceName_; }
  const std::string& DisplayName() const { return displayName_; }
  // Options the unit's command passes on (the folders this install was
  // given), blank-separated, each word quoted for the unit file as needed.
  void SetCommandOptions(std::vector<std::string> options) { commandOptions_ = std::move(options); }
  // The command the unit starts.
  std::string Command() const;
  std::string UnitPath() const;

  bool ServiceInstall();
  bool ServiceUninstall();
  bool IsRunningAsService() const { return CommandParams == "SERVICE"; }
  // Loads the support target when started as the service; otherwise
  // `complain` gets the message that the service must be started by the
  // service manager. Always false.
  bool Run(const std::function<void(const std::string&)>& complain);
  void ServiceStop();

  // Called for stop (1) and shutdown (5); other values are ignored.
  void SetStopHandler(std::function<void()> onStop) { onStop_ = std::move(onStop); }
  platform::TargetHandle SupportWindow() const { return supportWindow_; }
  void UnloadSupportWindow();

 private:
  void OnSupportMessage(const platform::Message& message);

  platform::EventLoop& loop_;
  std::string appPath_;
  std::string unitFolder_;
  std::string serviceName_;
  std::string displayName_;
  platform::TargetHandle supportWindow_ = 0;
  std::function<void()> onStop_;
  std::vector<std::string> commandOptions_;
};

}  // namespace velto
