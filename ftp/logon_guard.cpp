#include "ftp/logon_guard.h"

#include <algorithm>

namespace velto {

bool CLogonGuard::NoteFailure(const std::string& address, std::int32_t banAfter, std::int32_t windowMs,
                              Clock::time_point now) {
  if (banAfter <= 0 || windowMs <= 0) return false;
  window_ = std::chrono::milliseconds(windowMs);
  if (records_.size() >= pruneAt_) Prune(now);
  Record& record = records_[address];
  record.lastSeen = now;
  record.failures.push_back(now);
  while (!record.failures.empty() && now - record.failures.front() >= window_) record.failures.pop_front();
  while (record.failures.size() > static_cast<std::size_t>(banAfter)) record.failures.pop_front();
  if (record.failures.size() < static_cast<std::size_t>(banAfter)) return false;
  record.bannedUntil = now + window_;
  record.failures.clear();
  return true;
}

bool CLogonGuard::Banned(const std::string& address, Clock::time_point now) {
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
