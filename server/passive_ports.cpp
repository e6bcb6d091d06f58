#include "server/passive_ports.h"

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <random>
#include <utility>

namespace velto {

namespace {

constexpr int kAnyPortTries = 20;
// The component refuses ports above this one.
constexpr int kHighestPort = 65534;

std::mt19937& Random() {
  static std::mt19937 generator{std::random_device{}()};
  return generator;
}

// A random port from 1025 to 65534, outside the range the system hands out
// to outgoing connections: a port taken by some client's connection there
// would make the listener fail.
int AnyPassivePort() {
  static const auto range = [] {
    int low = 32768;
    int high = 60999;
    if (FILE* f = std::fopen("/proc/sys/net/ipv4/ip_local_port_range", "r")) {
      if (std::fscanf(f, "%d %d", &low, &high) != 2) {
        low = 32768;
        high = 60999;
      }
      std::fclose(f);
    }
    low = std::clamp(low, 1025, kHighestPort + 1);
    high = std::clamp(high, low - 1, kHighestPort);
    return std::pair<int, int>(low, high);
  }();
  const int below = range.first - 1025;           // ports 1025 .. low-1
  const int above = kHighestPort - range.second;  // ports high+1 .. 65534
  if (below + above <= 0) return std::uniform_int_distribution<int>(1025, kHighestPort)(Random());
  const int pick = std::uniform_int_distribution<int>(0, below + above - 1)(Random());
  return pick < below ? 1025 + pick : range.second + 1 + (pick - below);
}

}  // namespace

PassivePorts::PassivePorts(int min, int max) : min_(min), max_(max) {
  order_.resize(static_cast<std::size_t>(max - min + 1));
  std::iota(order_.begin(), order_.end(), min);
  std::shuffle(order_.begin(), order_.end(), Random());
}

PassivePorts PassivePorts::FromSettings(std::int32_t min, std::int32_t max, std::string& problem) {
  problem.clear();
  if (min == 0 && max == 0) return {};
  if (min < 1 || max < 1 || min > kHighestPort || max > kHighestPort || min > max) {
    problem = "PassivePortMin=" + std::to_string(min) + " and PassivePortMax=" + std::to_string(max) +
              " are no port range (both from 1 to " + std::to_string(kHighestPort) +
              ", the first not above the second); passive listeners take any free port";
    return {};
  }
  return PassivePorts(min, max);
}

std::string PassivePorts::RangeText() const { return std::to_string(min_) + "-" + std::to_string(max_); }

int PassivePorts::Take(const TryPort& tryPort) {
  if (order_.empty()) {
    for (int attempt = 0; attempt < kAnyPortTries; ++attempt) {
      const int port = AnyPassivePort();
      if (tryPort(port)) return port;
    }
    return 0;
  }
  for (std::size_t tried = 0; tried < order_.size(); ++tried) {
    const int port = order_[cursor_];
    cursor_ = (cursor_ + 1) % order_.size();
    if (tryPort(port)) return port;
  }
  return 0;
}

}  // namespace velto
