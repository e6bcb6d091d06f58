#include "admin/diagnostics_model.h"

#include "log/log_lines.h"
#include "log/text_log.h"

#include <algorithm>
#include <utility>

namespace velto {

DiagnosticsModel::DiagnosticsModel(FeedSwitch viewRealTime, Stamper stamp)
    : viewRealTime_(std::move(viewRealTime)), stamp_(std::move(stamp)) {
  if (!stamp_) stamp_ = [](std::string_view text) { return TimeStampText(text); };
}

void DiagnosticsModel::Load(const SocketFacts& facts) {
  if (facts.computerName) computerName_ = *facts.computerName;
  if (facts.firstAddress) iPAddress_ = *facts.firstAddress;
  const std::pair<const char*, const std::optional<std::string>*> lines[] = {
      {"Using Socket version ", &facts.description},
      {"Maximum Number of Sockets: ", &facts.maxSockets},
      {"Max. Datagram size: ", &facts.maxUdpDg},
      {"Current status: ", &facts.systemStatus},
  };
  for (const auto& [prefix, value] : lines) {
    if (*value) AddToLog(stamp_(prefix + **value));
  }
}

void DiagnosticsModel::ActivityFeed(std::string_view text) {
  if (FeedOn()) AddToLog(text);
}

void DiagnosticsModel::AddToLog(std::string_view text) { AddToTextLog(logText_, text); }

void DiagnosticsModel::SetNumOfConnections(std::size_t count) {
  numOfConnections_ = static_cast<std::int32_t>(std::min<std::size_t>(count, INT32_MAX));
}

}  // namespace velto
