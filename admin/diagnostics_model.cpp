#include "admin/diagnostics_model.h"

#include "log/log_lines.h"
#include "log/text_log.h"

#include <utility>

namespace velto {

DiagnosticsModel::DiagnosticsModel(FeedSwitch viewRealTime, Stamper stamp)
    : mViewRealTime(std::move(viewRealTime)), mStamp(std::move(stamp)) {
  if (!mStamp) mStamp = [](std::string_view text) { return TimeStampText(text); };
}

void DiagnosticsModel::Load(const SocketFacts& facts) {
  if (facts.computerName) mComputerName = *facts.computerName;
  if (facts.firstAddress) mIPAddress = *facts.firstAddress;
  const std::pair<const char*, const std::optional<std::string>*> lines[] = {
      {"Using Socket version ", &facts.description},
      {"Maximum Number of Sockets: ", &facts.maxSockets},
      {"Max. Datagram size: ", &facts.maxUdpDg},
      {"Current status: ", &facts.systemStatus},
  };
  for (const auto& [prefix, value] : lines) {
    if (*value) AddToLog(mStamp(prefix + **value));
  }
}

void DiagnosticsModel::ActivityFeed(std::string_view text) {
  if (FeedOn()) AddToLog(text);
}

void DiagnosticsModel::AddToLog(std::string_view text) { AddToTextLog(mLogText, text); }

void DiagnosticsModel::ConnectionOpened() {
  if (FeedOn()) ++mNumOfConnections;
}

void DiagnosticsModel::ConnectionClosed() {
  if (FeedOn()) --mNumOfConnections;
}

}  // namespace velto
