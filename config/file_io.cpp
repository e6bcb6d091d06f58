#include "config/file_io.h"

#include "platform/fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <utility>

namespace config {

namespace {

bool WriteAll(int fd, std::string_view bytes) {
  // Large contents go out in slices so one failed call never hides how much
  // was written.
  constexpr std::size_t kSlice = 1 << 20;
  while (!bytes.empty()) {
    const std::size_t want = bytes.size() < kSlice ? bytes.size() : kSlice;
    const ssize_t n = ::write(fd, bytes.data(), want);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Saving through a symbolic link must update the file it points at; renaming
// over the link would silently turn it into a private copy.
std::string ResolveLink(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  if (!real) return path;  // dangling link: the link itself is replaced
  return std::string(real.get());
}

// Removes the temporary file unless the rename has taken it over.
class TempFileGuard {
 public:
  explicit TempFileGuard(std::string path) : path_(std::move(path)) {}
  ~TempFileGuard() {
    if (!committed_) ::unlink(path_.c_str());
  }
  TempFileGuard(const TempFileGuard&) = delete;
  TempFileGuard& operator=(const TempFileGuard&) = delete;

  const std::string& path() const { return path_; }
  void Commit() { committed_ = true; }

 private:
  std::string path_;
  bool committed_ = false;
};

}  // namespace

std::optional<std::string> ReadWholeFile(const std::string& path) {
  platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return std::nullopt;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return std::nullopt;
  // A folder, a pipe or a device is never a settings file (and a pipe or
  // /dev/zero would never end).
  if (!S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return std::nullopt;
  }

  std::string text;
  text.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

bool ReplaceFile(const std::string& path, std::string_view bytes, mode_t newFileMode) {
  if (path.empty()) return false;
  const std::string target = ResolveLink(path);

  const std::size_t slash = target.rfind('/');
  const std::string folderPrefix = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string baseName = slash == std::string::npos ? target : target.substr(slash + 1);
  if (baseName.empty()) return false;
  const std::string folder = folderPrefix.empty() ? std::string(".") : folderPrefix;

  struct stat old {};
  const bool existed = ::stat(target.c_str(), &old) == 0;
  // Renaming over a folder fails anyway; over a device it would replace the
  // device node. Only regular files are ever replaced.
  if (existed && !S_ISREG(old.st_mode)) return false;
  // A file this process may not write (made read-only on purpose) stays as it
  // is, exactly as if it were rewritten in place; the rename alone would only
  // need the folder's permission and would replace it.
  if (existed && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return false;

  // The temporary file lives in the same folder so that the rename stays on
  // one file system and is atomic.
  std::string templ = folderPrefix + "." + baseName + ".tmp-XXXXXX";
  platform::UniqueFd fd(::mkostemp(templ.data(), O_CLOEXEC));
  if (!fd) return false;
  TempFileGuard temp(templ);

  if (existed) {
    struct stat fresh {};
    if (::fstat(fd.get(), &fresh) != 0) return false;
    if (fresh.st_uid != old.st_uid || fresh.st_gid != old.st_gid) {
      // Only a privileged process may hand a file to another owner; without
      // that right the saved file simply belongs to this process's user,
      // which is still able to read it back.
      (void)::fchown(fd.get(), old.st_uid, old.st_gid);
    }
  }
  const mode_t mode = existed ? (old.st_mode & 07777) : newFileMode;
  if (::fchmod(fd.get(), mode) != 0) return false;

  if (!WriteAll(fd.get(), bytes)) return false;
  if (::fsync(fd.get()) != 0) return false;
  if (::close(fd.release()) != 0) return false;

  if (::rename(temp.path().c_str(), target.c_str()) != 0) return false;
  temp.Commit();

  // Make the rename itself durable. The new file is already in place, so a
  // folder that cannot be flushed (some file systems refuse) does not turn
  // the save into a failure.
  platform::UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir) (void)::fsync(dir.get());
  return true;
}

}  // namespace config
