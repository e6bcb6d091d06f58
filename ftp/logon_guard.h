// Failed log-ons per client address: how many came lately (what the delay
// of a PASS reply grows with) and the addresses banned for them.
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

  // Failures count as recent until no new one came for `windowMs` (at
  // least this long, so the delay grows even when bans are off).
  static constexpr std::int32_t kMinWindowMs = 30000;

  struct Failure {
    std::int32_t recent = 0;  // the address's recent failures, this one included
    bool banBegun = false;    // this failure began a ban
  };

  // Counts a failed log-on from `address`. With `banAfter` > 0 and
  // `windowMs` > 0, that many failures within `windowMs` ban the address
  // for `windowMs`; failures while it is banned begin no new ban.
  Failure NoteFailure(const std::string& address, std::int32_t banAfter, std::int32_t windowMs,
                      Clock::time_point now = Clock::now());
  // Recent failures from `address` (0 when none).
  std::int32_t RecentFailures(const std::string& address, Clock::time_point now = Clock::now()) const;
  bool Banned(const std::string& address, Clock::time_point now = Clock::now()) const;
  std::size_t Tracked() const { return records_.size(); }

 private:
  struct Record {
    std::deque<Clock::time_point> failures;  // toward a ban
    Clock::time_point bannedUntil{};
    Clock::time_point lastSeen{};  // the last failure
    std::int32_t recent = 0;
  };
  void Prune(Clock::time_point now);

  std::unordered_map<std::string, Record> records_;
  std::chrono::milliseconds window_{kMinWindowMs};
  std::size_t pruneAt_ = 1024;
};

}  // namespace velto
