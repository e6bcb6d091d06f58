// What the Diagnostics window shows, without the window: the host facts, the
// connection counter and the activity log pane. The window (and the headless
// server) own one of these per window instance; a fresh window starts with a
// fresh log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace velto {

// The socket layer's facts shown when the window loads. A value the socket
// layer could not deliver is left empty: its label keeps the design text, or
// its log line is left out.
struct SocketFacts {
  std::optional<std::string> computerName;
  std::optional<std::string> firstAddress;
  std::optional<std::string> description;
  std::optional<std::string> maxSockets;
  std::optional<std::string> maxUdpDg;
  std::optional<std::string> systemStatus;
};

class DiagnosticsModel {
 public:
  // Whether the real-time feed is on (the program-wide switch lives with the
  // server's settings); an empty function counts as off.
  using FeedSwitch = std::function<bool()>;
  // Puts the log time stamp in front of a line; TimeStampText by default.
  using Stamper = std::function<std::string(std::string_view)>;

  explicit DiagnosticsModel(FeedSwitch viewRealTime, Stamper stamp = {});

  // Fills the labels and writes the four time-stamped socket lines, so the
  // last of them ("Current status: ...") ends up on top.
  void Load(const SocketFacts& facts);

  // Adds `text` (used as given) to the log pane when the feed is on.
  void ActivityFeed(std::string_view text);
  // Adds a line unconditionally, with the pane's insert rule.
  void AddToLog(std::string_view text);
  const std::string& LogText() const { return logText_; }

  // The "# Of Connections" counter: the clients' control connections, as
  // the session table counts them whenever it changes (feed on or off). The
  // listeners and data connections are not clients, so they do not count.
  void SetNumOfConnections(std::size_t count);
  std::int32_t NumOfConnections() const { return numOfConnections_; }
  std::string NumOfConnectionsText() const { return std::to_string(numOfConnections_); }

  const std::string& ComputerName() const { return computerName_; }
  const std::string& IPAddress() const { return iPAddress_; }

  // The "Show Log Window" check mark: the window starts collapsed.
  bool LogWindowShown() const { return logWindowShown_; }
  void ToggleLogWindow() { logWindowShown_ = !logWindowShown_; }

 private:
  bool FeedOn() const { return viewRealTime_ && viewRealTime_(); }

  FeedSwitch viewRealTime_;
  Stamper stamp_;
  std::string logText_;
  std::string computerName_;
  std::string iPAddress_ = "0.0.0.0";
  std::int32_t numOfConnections_ = 0;
  bool logWindowShown_ = false;
};

}  // namespace velto
