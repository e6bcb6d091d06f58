#include "ftp/file_info.h"

#include "ftp/directory.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velto {

namespace {

// rename() that refuses to replace an existing entry, as a move must not
// destroy whatever already has the new name.
bool MoveNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the flag: check, then move (the gap is accepted;
  // the check only guards against replacing by mistake).
  struct stat st{};
  if (::lstat(to.c_str(), &st) == 0 || errno != ENOENT) return false;
  return ::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

std::string CFileInfo::ToPhysical(const std::string& path) { return CDirectory::Normalize(path); }

void CFileInfo::SetFullPathName(const std::string& vsNewPath) {
  fullPath_ = ToPhysical(vsNewPath);
  Refresh();
}

std::string CFileInfo::FullPathName() const { return fullPath_; }

void CFileInfo::Refresh() {
  struct stat st{};
  exists_ = ::lstat(fullPath_.c_str(), &st) == 0;
  isDirectory_ = false;
  pathPart_.clear();
  fileName_.clear();
  if (!exists_) return;
  if (S_ISDIR(st.st_mode)) {
    isDirectory_ = true;
  } else if (S_ISLNK(st.st_mode)) {
    struct stat target{};
    isDirectory_ = ::stat(fullPath_.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
  }
  const std::size_t slash = fullPath_.rfind('/');
  pathPart_ = fullPath_.substr(0, slash + 1);
  fileName_ = fullPath_.substr(slash + 1);
}

bool CFileInfo::RenameFile(const std::string& vsExistingPathAndFile, const std::string& vsNewFileAndPath) const {
  const std::string from = ToPhysical(vsExistingPathAndFile);
  const std::string to = ToPhysical(vsNewFileAndPath);
  if (from == "/" || to == "/") return false;
  return MoveNoReplace(from, to);
}

bool CFileInfo::Attributes(std::uint32_t vnAttributeFlags) const {
  struct stat st{};
  if (fullPath_.empty() || ::lstat(fullPath_.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return false;
  mode_t mode = st.st_mode & 07777;
  if (vnAttributeFlags & kAttributeReadOnly) {
    mode &= static_cast<mode_t>(~0222);
  } else if (vnAttributeFlags & kAttributeNormal) {
    mode |= S_IWUSR;
  }
  return ::chmod(fullPath_.c_str(), mode) == 0;
}

std::int32_t CFileInfo::Delete() {
  struct stat st{};
  if (fullPath_.empty() || ::lstat(fullPath_.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return 0;
  const bool madeWritable = S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0 && Attributes(kAttributeNormal);
  if (::unlink(fullPath_.c_str()) != 0) {
    if (madeWritable) ::chmod(fullPath_.c_str(), st.st_mode & 07777);
    return 0;
  }
  fullPath_ = fullPath_.substr(0, fullPath_.rfind('/') + 1);
  pathPart_ = fullPath_;
  fileName_.clear();
  exists_ = true;
  isDirectory_ = true;
  return 1;
}

}  // namespace velto
