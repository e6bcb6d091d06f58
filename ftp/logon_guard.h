// Failed log-ons per client address, and the addresses banned for them.
//
// Memory stays bounded whatever the clients do: an address keeps at most
// as many failure times as it takes to ban it, and records that can no
// longer matter are dropped as new ones come in.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>

namespace velto {

class CLogonGuard {
 public:
  using Clock = std::chrono::steady_clock;

  // Counts a failed log-on from `address`. With `banAfter` > 0, that many
  // failures within `windowMs` ban the address for `windowMs`; true when
  // this failure began a ban.
  bool NoteFailure(const std::string& address, std::int32_t banAfter, std::int32_t windowMs,
                   Clock::time_point now = Clock::now());
  bool Banned(const std::string& address, Clock::time_point now = Clock::now());
  std::size_t Tracked() const { return records_.size(); }

 private:
  struct Record {
    std::deque<Clock::time_point> failures;
    Clock::time_point bannedUntil{};
    Clock::time_point lastSeen{};
  };
  void Prune(Clock::time_point now);

  std::unordered_map<std::string, Record> records_;
  std::chrono::milliseconds window_{0};
  std::size_t pruneAt_ = 1024;
};

}  // namespace velto
