#include "ftp/logon_guard.h"

#include <algorithm>
#include <limits>

namespace velto {

CLogonGuard::Failure CLogonGuard::NoteFailure(const std::string& address, std::int32_t banAfter,
                                              std::int32_t windowMs, Clock::time_point now) {
  const std::chrono::milliseconds banWindow(std::max(0, windowMs));
  window_ = std::max(banWindow, std::chrono::milliseconds(kMinWindowMs));
  if (records_.size() >= pruneAt_) Prune(now);
  Record& record = records_[address];
  const bool fresh = record.recent == 0 || now - record.lastSeen >= window_;
  record.recent = fresh ? 1 : std::min(record.recent, std::numeric_limits<std::int32_t>::max() - 1) + 1;
  record.lastSeen = now;
  Failure failure{record.recent, false};
  if (banAfter <= 0 || windowMs <= 0 || now < record.bannedUntil) return failure;
  record.failures.push_back(now);
  while (!record.failures.empty() && now - record.failures.front() >= banWindow) record.failures.pop_front();
  while (record.failures.size() > static_cast<std::size_t>(banAfter)) record.failures.pop_front();
  if (record.failures.size() < static_cast<std::size_t>(banAfter)) return failure;
  record.bannedUntil = now + banWindow;
  record.failures.clear();
  failure.banBegun = true;
  return failure;
}

std::int32_t CLogonGuard::RecentFailures(const std::string& address, Clock::time_point now) const {
  const auto it = records_.find(address);
  if (it == records_.end() || now - it->second.lastSeen >= window_) return 0;
  return it->second.recent;
}

bool CLogonGuard::Banned(const std::string& address, Clock::time_point now) const {
  const auto it = records_.find(address);
  return it != records_.end() && now < it->second.bannedUntil;
}

void CLogonGuard::Prune(Clock::time_point now) {
  for (auto it = records_.begin(); it != records_.end();) {
    const bool stale = now >= it->second.bannedUntil && now - it->second.lastSeen >= window_;
    it = stale ? records_.erase(it) : std::next(it);
  }
  // Many live records: look again only after as many more.
  pruneAt_ = std::max<std::size_t>(1024, records_.size() * 2);
}

}  // namespace velto
