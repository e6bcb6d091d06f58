// Owning wrapper for a file descriptor: the one place a descriptor is closed.
#pragma once

#include "platform/export.h"

#include <utility>

namespace platform {

class VELTO_PLATFORM_EXPORT UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Marks a descriptor non-blocking; false when the system refuses.
VELTO_PLATFORM_EXPORT bool SetNonBlocking(int fd);

}  // namespace platform
