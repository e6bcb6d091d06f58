#include "platform/beneath.h"

#include "platform/fd.h"

#include <atomic>
#include <cerrno>
#include <deque>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

// As the kernel counts them.
constexpr int kMaxLinks = 40;

void Split(std::string_view text, std::deque<std::string>& out, bool front) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = text.find('/', at);
    if (end == std::string_view::npos) end = text.size();
    if (end > at) parts.emplace_back(text.substr(at, end - at));
    at = end + 1;
  }
  if (front) {
    out.insert(out.begin(), parts.begin(), parts.end());
  } else {
    out.insert(out.end(), parts.begin(), parts.end());
  }
}

// The part of an absolute link's text below one of the root's paths, or
// false when it names a place outside.
bool BelowRoot(std::string_view target, std::string_view rootPath, std::string_view& rest) {
  if (rootPath.empty()) return false;
  while (rootPath.size() > 1 && rootPath.back() == '/') rootPath.remove_suffix(1);
  if (rootPath == "/") {
    rest = target;
    return true;
  }
  if (target.compare(0, rootPath.size(), rootPath) != 0) return false;
  if (target.size() > rootPath.size() && target[rootPath.size()] != '/') return false;
  rest = target.substr(rootPath.size());
  return true;
}

std::atomic<bool> g_noOpenat2{false};

}  // namespace

std::string DescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

int WalkBeneath(int root, std::string_view relative, int flags, mode_t mode, std::string_view rootPath,
                std::string_view realRootPath) {
  std::deque<std::string> pending;
  Split(relative, pending, false);
  // The folders descended into below the root: ".." climbs this stack, never
  // the file system's own parent links, so it cannot pass the root.
  std::vector<UniqueFd> stack;
  const auto here = [&] { return stack.empty() ? root : stack.back().get(); };
  const bool followLast = (flags & O_NOFOLLOW) == 0;
  int links = 0;
  const auto expand = [&](int at, const std::string& name) -> int {
    if (++links > kMaxLinks) return -ELOOP;
    char target[4096];
    const ssize_t n = ::readlinkat(at, name.c_str(), target, sizeof target);
    if (n < 0) return -errno;
    if (static_cast<std::size_t>(n) >= sizeof target) return -ENAMETOOLONG;
    std::string_view text(target, static_cast<std::size_t>(n));
    if (!text.empty() && text.front() == '/') {
      std::string_view rest;
      if (!BelowRoot(text, rootPath, rest) && !BelowRoot(text, realRootPath, rest)) return -EXDEV;
      stack.clear();
      text = rest;
    }
    Split(text, pending, true);
    return 0;
  };
  while (!pending.empty()) {
    const std::string name = std::move(pending.front());
    pending.pop_front();
    if (name == ".") continue;
    if (name == "..") {
      if (stack.empty()) return -EXDEV;
      stack.pop_back();
      continue;
    }
    const bool last = pending.empty();
    if (last && !followLast) {
      const int fd = ::openat(here(), name.c_str(), flags | O_CLOEXEC, mode);
      return fd >= 0 ? fd : -errno;
    }
    struct stat st{};
    if (::fstatat(here(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT && last && (flags & O_CREAT) != 0) {
        // Made here; O_NOFOLLOW keeps a link planted meanwhile from being
        // followed.
        const int fd = ::openat(here(), name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
        return fd >= 0 ? fd : -errno;
      }
      return -errno;
    }
    if (S_ISLNK(st.st_mode)) {
      // A link to the root itself leaves nothing pending: the open below
      // takes the folder reached.
      if (const int error = expand(here(), name); error != 0) return error;
      continue;
    }
    if (last) {
      // A link swapped in since the look is refused by O_NOFOLLOW.
      const int fd = ::openat(here(), name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
      return fd >= 0 ? fd : -errno;
    }
    if (!S_ISDIR(st.st_mode)) return -ENOTDIR;
    UniqueFd next(::openat(here(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next) return -errno;
    stack.push_back(std::move(next));
  }
  // The path named the root itself (or a folder reached through links).
  const int fd = ::openat(here(), ".", flags | O_CLOEXEC, mode);
  return fd >= 0 ? fd : -errno;
}

int OpenBeneath(int root, std::string_view relative, int flags, mode_t mode, std::string_view rootPath,
                std::string_view realRootPath) {
  if (!g_noOpenat2.load(std::memory_order_relaxed)) {
    open_how how{};
    how.flags = static_cast<std::uint64_t>(flags | O_CLOEXEC);
    how.mode = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    const std::string path = relative.empty() ? std::string(".") : std::string(relative);
    const long fd = ::syscall(SYS_openat2, root, path.c_str(), &how, sizeof how);
    if (fd >= 0) return static_cast<int>(fd);
    const int error = errno;
    if (error == ENOSYS || error == EPERM) {
      // An old kernel, or a filter that forbids the call.
      g_noOpenat2.store(true, std::memory_order_relaxed);
    } else if (error != EXDEV && error != EAGAIN) {
      return -error;
    }
    // EXDEV: it leads out, or through an absolute link that the walk may
    // find inside; EAGAIN: a rename raced the lookup.
  }
  return WalkBeneath(root, relative, flags, mode, rootPath, realRootPath);
}

}  // namespace platform
