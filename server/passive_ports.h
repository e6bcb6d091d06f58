// The ports passive listeners take: any free one, or one of the range
// PassivePortMin..PassivePortMax that a firewall or a router forwards.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velto {

class PassivePorts {
 public:
  // Tries to listen on a port; true when it did.
  using TryPort = std::function<bool(int port)>;

  // No range: any free port.
  PassivePorts() = default;

  // The range from the two settings. Both 0 is no range; a pair that is no
  // range (either one outside 1..65534 or min above max) is reported in
  // `problem` and counts as none.
  static PassivePorts FromSettings(std::int32_t min, std::int32_t max, std::string& problem);

  bool HasRange() const { return !order_.empty(); }
  // "50000-50099", for the log lines that name the range.
  std::string RangeText() const;

  // Offers ports to `tryPort` until one is taken: each port of the range at
  // most once, in a random order that goes on where the last call stopped
  // (so a busy range is not scanned from its start on every PASV); without
  // a range a few random ports outside the system's outgoing range. The
  // port taken, or 0 when none was.
  int Take(const TryPort& tryPort);

 private:
  PassivePorts(int min, int max);

  int min_ = 0;
  int max_ = 0;
  std::vector<int> order_;  // the range, shuffled once
  std::size_t cursor_ = 0;
};

}  // namespace velto
