#include "ftp/upload_target.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace velto {

namespace {

// Never follows a link, never blocks on a FIFO planted under the name.
constexpr int kCreate = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

std::string TemporaryName() {
  static std::mt19937_64 random{std::random_device{}()};
  char text[32];
  std::snprintf(text, sizeof text, ".upload-%016llx", static_cast<unsigned long long>(random()));
  return text;
}

}  // namespace

CUploadTarget::~CUploadTarget() { Abandon(); }

CUploadTarget::CUploadTarget(CUploadTarget&& other) noexcept { *this = std::move(other); }

CUploadTarget& CUploadTarget::operator=(CUploadTarget&& other) noexcept {
  if (this != &other) {
    Abandon();
    folder_ = std::move(other.folder_);
    at_ = std::exchange(other.at_, -1);
    name_ = std::move(other.name_);
    temp_ = std::move(other.temp_);
    unused_ = std::exchange(other.unused_, false);
    other.Clear();
  }
  return *this;
}

void CUploadTarget::Clear() {
  folder_.reset();
  at_ = -1;
  name_.clear();
  temp_.clear();
  unused_ = false;
}

int CUploadTarget::OpenFolder(const CDirectory& directory, const std::string& path) {
  Abandon();
  CDirectory::Entry entry = directory.OpenEntry(path);
  if (entry.error != 0) return entry.error;
  folder_ = std::move(entry.folder);
  at_ = entry.at;
  name_ = std::move(entry.name);
  return 0;
}

int CUploadTarget::Create(const CDirectory& directory, const std::string& path, bool atomic) {
  if (const int rc = OpenFolder(directory, path); rc != 0) return rc;
  struct stat st{};
  const bool exists = ::fstatat(at_, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (exists && S_ISDIR(st.st_mode)) return -EISDIR;
  // Only a regular file is replaced: never a FIFO, a device, a socket, or
  // whatever a link points at.
  if (exists && !S_ISREG(st.st_mode)) return S_ISLNK(st.st_mode) ? -ELOOP : -ENXIO;
  if (atomic) {
    for (int tries = 0; tries < 8; ++tries) {
      temp_ = TemporaryName();
      const int fd = ::openat(at_, temp_.c_str(), kCreate, 0644);
      if (fd >= 0) return fd;
      if (errno != EEXIST) break;
    }
    const int error = errno;
    temp_.clear();
    return -error;
  }
  if (exists && ::unlinkat(at_, name_.c_str(), 0) != 0) return -EPERM;
  const int fd = ::openat(at_, name_.c_str(), kCreate, 0644);
  return fd >= 0 ? fd : -errno;
}

int CUploadTarget::CreateUnique(const CDirectory& directory, const std::string& path, std::string& suffix) {
  if (const int rc = OpenFolder(directory, path); rc != 0) return rc;
  const std::string base = name_;
  suffix.clear();
  for (int n = 1; n <= 1000; ++n) {
    const int fd = ::openat(at_, (base + suffix).c_str(), kCreate, 0644);
    if (fd >= 0) {
      name_ = base + suffix;
      unused_ = true;
      return fd;
    }
    if (errno != EEXIST) return -errno;
    suffix = "." + std::to_string(n);
  }
  return -EEXIST;
}

int CUploadTarget::OpenExisting(const CDirectory& directory, const std::string& path) {
  if (const int rc = OpenFolder(directory, path); rc != 0) return rc;
  const int fd = ::openat(at_, name_.c_str(), (kCreate & ~O_EXCL), 0644);
  return fd >= 0 ? fd : -errno;
}

int CUploadTarget::Commit() {
  unused_ = false;
  if (temp_.empty()) {
    Clear();
    return 0;
  }
  const int rc = ::renameat(at_, temp_.c_str(), at_, name_.c_str()) == 0 ? 0 : -errno;
  if (rc != 0) {
    Abandon();
    return rc;
  }
  Clear();
  return 0;
}

void CUploadTarget::Abandon() {
  if (at_ == -1) return;
  if (!temp_.empty()) {
    ::unlinkat(at_, temp_.c_str(), 0);
  } else if (unused_) {
    // A name taken for an upload that never began.
    ::unlinkat(at_, name_.c_str(), 0);
  }
  Clear();
}

}  // namespace velto
