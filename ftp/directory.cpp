#include "ftp/directory.h"

#include "platform/beneath.h"

#include <cerrno>
#include <fcntl.h>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace velto {

namespace {

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') path.push_back('/');
  return path;
}

std::string Collapse(std::string path) {
  for (auto& c : path) {
    if (c == '\\') c = '/';
  }
  std::string out;
  out.reserve(path.size());
  for (char c : path) {
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out.push_back(c);
  }
  return out;
}

// Whether the text names a directory by its form: it ends with a separator,
// or its last component is "." or "..".
bool NamesDirectory(const std::string& collapsed) {
  if (collapsed.empty() || collapsed.back() == '/') return true;
  const std::string last = collapsed.substr(collapsed.rfind('/') + 1);
  return last == "." || last == "..";
}

// Normalize, keeping the directory form of the text.
std::string Resolve(const std::string& text) {
  const std::string collapsed = Collapse(text);
  const std::string path = CDirectory::Normalize(collapsed);
  return NamesDirectory(collapsed) ? WithSlash(path) : path;
}

// `path` (absolute, normalized) with every symbolic link of its longest
// existing prefix resolved; the components after that prefix are kept as
// text (they do not exist, so they hold no link). "" when nothing resolves.
std::string RealPrefix(const std::string& path) {
  std::string prefix = path;
  std::string rest;
  for (;;) {
    char resolved[PATH_MAX];
    if (::realpath(prefix.c_str(), resolved) != nullptr) {
      std::string out = resolved;
      if (!rest.empty()) out = (out == "/" ? "" : out) + rest;
      return out;
    }
    if (errno != ENOENT && errno != ENOTDIR) return {};
    if (prefix == "/" || prefix.empty()) return {};
    const std::size_t slash = prefix.rfind('/');
    rest = prefix.substr(slash) + rest;
    prefix = slash == 0 ? "/" : prefix.substr(0, slash);
  }
}

bool Within(const std::string& root, const std::string& target) {
  if (root.empty() || target.empty()) return false;
  if (root == "/") return true;
  return target == root ||
         (target.size() > root.size() && target.compare(0, root.size(), root) == 0 && target[root.size()] == '/');
}

}  // namespace

std::string CDirectory::RealPath(const std::string& path) { return RealPrefix(Normalize(path)); }

// Every command checks its path, so the folders above the default directory
// (resolved at log-on) are not walked again: each component below it costs
// one readlink, and a link among them hands over to the full resolution.
std::string CDirectory::RealInside(const std::string& normalized) const {
  if (realDefault_.empty()) return RealPrefix(normalized);
  std::string real = realDefault_ == "/" ? "" : realDefault_;
  std::size_t at = root_ == "/" ? 0 : root_.size();  // the '/' before the next component
  while (at < normalized.size()) {
    const std::size_t next = normalized.find('/', at + 1);
    const std::string candidate = real + normalized.substr(at, next - at);
    const auto withRest = [&] { return next == std::string::npos ? candidate : candidate + normalized.substr(next); };
    char first = 0;
    if (::readlink(candidate.c_str(), &first, 1) >= 0) return RealPrefix(withRest());
    // Missing from here on: the rest is kept as text, as RealPrefix does.
    if (errno == ENOENT || errno == ENOTDIR) return withRest();
    if (errno != EINVAL) return {};  // EINVAL: there, and not a link
    real = candidate;
    at = next;
  }
  return real.empty() ? "/" : real;
}

bool CDirectory::Contains(const std::string& path, bool entry) const {
  if (!InsideDefault(path)) return false;
  const std::string normalized = Normalize(path);
  if (!entry || normalized == "/") return Within(realDefault_, RealInside(normalized));
  // The entry itself may be a link; its folder must resolve inside.
  const std::size_t slash = normalized.rfind('/');
  const std::string parent = slash == 0 ? "/" : normalized.substr(0, slash);
  const std::string realParent = InsideDefault(parent) ? RealInside(parent) : RealPrefix(parent);
  if (realParent.empty()) return false;
  const std::string real = (realParent == "/" ? "" : realParent) + normalized.substr(slash);
  return Within(realDefault_, real);
}

void CDirectory::SetDefaultDirectory(const std::string& directory) {
  // An empty text names nothing (it must not widen a limited account's tree
  // to the root).
  if (directory.empty()) return;
  const std::string path = WithSlash(Normalize(directory));
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
  defaultDirectory_ = path;
  root_ = Normalize(path);
  currentDirectory_ = path;
  realDefault_ = RealPath(path);
  home_ = std::make_shared<const platform::UniqueFd>(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

void CDirectory::SetCurrentDirectory(const std::string& directory) {
  if (directory.empty()) return;
  const std::string path = WithSlash(Normalize(directory));
  if (DirExists(path)) currentDirectory_ = path;
}

bool CDirectory::DirExists(const std::string& path, const std::string&) const {
  return !path.empty() && IsDirectory(path) == 0;
}

bool CDirectory::Relative(const std::string& path, std::string& relative) const {
  if (!InsideDefault(path)) return false;
  const std::string normalized = Normalize(path);
  relative = normalized.size() <= root_.size() ? std::string() : normalized.substr(root_ == "/" ? 1 : root_.size() + 1);
  return true;
}

int CDirectory::Open(const std::string& path, int flags, mode_t mode) const {
  if (!Confined) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    return fd >= 0 ? fd : -errno;
  }
  std::string relative;
  if (!home_ || !*home_ || !Relative(path, relative)) return kOutside;
  // A trailing "/" asks for a directory, as it does of open(2).
  if (path.size() > 1 && path.back() == '/') flags |= O_DIRECTORY;
  return platform::OpenBeneath(home_->get(), relative, flags, mode, root_, realDefault_);
}

std::function<bool(std::string_view, struct stat&)> CDirectory::LinkFactsIn(const std::string& folder) const {
  std::string relative;
  if (!home_ || !Relative(folder, relative)) return [](std::string_view, struct stat&) { return false; };
  if (!relative.empty()) relative.push_back('/');
  return [home = home_, relative, root = root_, real = realDefault_](std::string_view name, struct stat& st) {
    const platform::UniqueFd fd(
        platform::OpenBeneath(home->get(), relative + std::string(name), O_PATH, 0, root, real));
    return fd.get() >= 0 && ::fstat(fd.get(), &st) == 0;
  };
}

int CDirectory::Stat(const std::string& path, struct stat& st, bool follow) const {
  if (!Confined) {
    const int rc = follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
    return rc == 0 ? 0 : -errno;
  }
  const platform::UniqueFd fd(Open(path, O_PATH | (follow ? 0 : O_NOFOLLOW)));
  if (fd.get() < 0) return fd.get();
  return ::fstat(fd.get(), &st) == 0 ? 0 : -errno;
}

int CDirectory::IsDirectory(const std::string& path) const {
  struct stat st{};
  const int rc = Stat(path, st);
  if (rc != 0) return rc;
  return S_ISDIR(st.st_mode) ? 0 : -ENOTDIR;
}

CDirectory::Entry CDirectory::OpenEntry(const std::string& path) const {
  Entry entry;
  const std::string normalized = Normalize(path);
  if (!Confined) {
    entry.at = AT_FDCWD;
    entry.name = normalized;
    return entry;
  }
  const std::size_t slash = normalized.rfind('/');
  const std::string parent = slash == 0 ? "/" : normalized.substr(0, slash);
  entry.name = normalized.substr(slash + 1);
  // The default directory's own entry lives outside it.
  if (entry.name.empty() || !InsideDefault(parent) || normalized == root_) {
    entry.error = kOutside;
    return entry;
  }
  entry.folder = platform::UniqueFd(Open(parent, O_PATH | O_DIRECTORY));
  if (entry.folder.get() < 0) {
    entry.error = entry.folder.get();
    entry.folder.release();
    return entry;
  }
  entry.at = entry.folder.get();
  return entry;
}

int CDirectory::Unlink(const std::string& path) const {
  const Entry entry = OpenEntry(path);
  if (entry.error != 0) return entry.error;
  struct stat st{};
  if (::fstatat(entry.at, entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return -errno;
  if (S_ISDIR(st.st_mode)) return -EISDIR;
  // A read-only file is made writable by its owner first (and put back
  // should the removal fail): through a descriptor of the file itself, so a
  // link swapped in meanwhile is never what changes.
  platform::UniqueFd writable;
  if (S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0) {
    writable = platform::UniqueFd(::openat(entry.at, entry.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat now{};
    if (writable && ::fstat(writable.get(), &now) == 0 && S_ISREG(now.st_mode)) {
      ::chmod(platform::DescriptorPath(writable.get()).c_str(), (now.st_mode & 07777) | S_IWUSR);
    } else {
      writable.reset();
    }
  }
  if (::unlinkat(entry.at, entry.name.c_str(), 0) != 0) {
    const int error = errno;
    if (writable) ::chmod(platform::DescriptorPath(writable.get()).c_str(), st.st_mode & 07777);
    return -error;
  }
  return 0;
}

int CDirectory::Rename(const std::string& from, const std::string& to) const {
  if (Normalize(from) == "/" || Normalize(to) == "/") return -EBUSY;
  const Entry source = OpenEntry(from);
  if (source.error != 0) return source.error;
  const Entry target = OpenEntry(to);
  if (target.error != 0) return target.error;
  if (::renameat2(source.at, source.name.c_str(), target.at, target.name.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -errno;
  // A file system without the flag: check, then move (the gap is accepted;
  // the check only guards against replacing by mistake).
  struct stat st{};
  if (::fstatat(target.at, target.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return -EEXIST;
  if (errno != ENOENT) return -errno;
  return ::renameat(source.at, source.name.c_str(), target.at, target.name.c_str()) == 0 ? 0 : -errno;
}

int CDirectory::Chmod(const std::string& path, mode_t mode) const {
  const platform::UniqueFd fd(Open(path, O_PATH));
  if (fd.get() < 0) return fd.get();
  return ::chmod(platform::DescriptorPath(fd.get()).c_str(), mode) == 0 ? 0 : -errno;
}

int CDirectory::SetModified(const std::string& path, std::time_t when, struct stat* stored) const {
  const platform::UniqueFd fd(Open(path, O_PATH));
  if (fd.get() < 0) return fd.get();
  const timespec times[2] = {{0, UTIME_OMIT}, {when, 0}};
  if (::utimensat(AT_FDCWD, platform::DescriptorPath(fd.get()).c_str(), times, 0) != 0) return -errno;
  if (stored != nullptr && ::fstat(fd.get(), stored) != 0) return -errno;
  return 0;
}

int CDirectory::MakeDirs(const std::string& target) const {
  const std::string path = Normalize(target);
  if (IsDirectory(path) == 0) return 0;
  // Each prefix in turn, from the root down; the root itself always exists.
  std::size_t end = 0;
  while (end != std::string::npos) {
    end = path.find('/', end + 1);
    const std::string prefix = path.substr(0, end);
    // Confined, the default directory and what lies above it are not ours
    // to look at (and the default directory exists).
    if (Confined && !BelowDefault(prefix)) continue;
    if (IsDirectory(prefix) == 0) continue;
    const Entry entry = OpenEntry(prefix);
    if (entry.error != 0) return entry.error;
    if (::mkdirat(entry.at, entry.name.c_str(), 0777) != 0) {
      // Something has the name: a folder made meanwhile will do; a link
      // that leads out says so.
      if (errno != EEXIST) return -errno;
      if (const int rc = IsDirectory(prefix); rc != 0) return rc;
    }
  }
  return IsDirectory(path);
}

std::vector<std::string> CDirectory::Candidates(const std::string& argument) const {
  const std::string arg = Collapse(argument);
  const bool absolute = !arg.empty() && arg.front() == '/';
  if (!VirtualRoot || defaultDirectory_.empty()) {
    if (absolute) return {Resolve(arg)};
    return {Resolve(currentDirectory_ + arg), Resolve("/" + arg)};
  }
  // The text as the client wrote it decides: one that begins with the
  // physical default directory is physical (".." in it is checked as
  // always), any other is taken inside the tree, ".." stopping at its top.
  if (absolute && (arg == defaultDirectory_.substr(0, defaultDirectory_.size() - 1) ||
                   arg.compare(0, defaultDirectory_.size(), defaultDirectory_) == 0)) {
    return {Resolve(arg)};
  }
  const auto inside = [this](const std::string& clientPath) {
    const std::string mapped = defaultDirectory_ + Normalize(clientPath).substr(1);
    return NamesDirectory(clientPath) ? WithSlash(mapped) : Normalize(mapped);
  };
  if (absolute) return {inside(arg)};
  return {inside(ClientPath(currentDirectory_) + arg), inside("/" + arg)};
}

std::string CDirectory::ClientPath(const std::string& path) const {
  if (!VirtualRoot || path.empty() || !InsideDefault(path)) return path;
  const std::string rest = Normalize(path).substr(root_ == "/" ? 0 : root_.size());
  const std::string shown = rest.empty() ? "/" : rest;
  return path.back() == '/' ? WithSlash(shown) : shown;
}

std::string CDirectory::Normalize(const std::string& path) {
  // One pass over the text (every command's path comes through here).
  std::string out;
  out.reserve(path.size() + 1);
  const auto separator = [](char c) { return c == '/' || c == '\\'; };
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t end = start;
    while (end < path.size() && !separator(path[end])) ++end;
    const std::string_view part(path.data() + start, end - start);
    if (part == "..") {
      const std::size_t slash = out.rfind('/');
      if (slash != std::string::npos) out.resize(slash);
    } else if (!part.empty() && part != ".") {
      out.push_back('/');
      out.append(part);
    }
    start = end + 1;
  }
  return out.empty() ? "/" : out;
}

bool CDirectory::InsideDefault(const std::string& path) const {
  return !defaultDirectory_.empty() && Within(root_, Normalize(path));
}

bool CDirectory::BelowDefault(const std::string& path) const {
  return InsideDefault(path) && Normalize(path) != root_;
}

bool CDirectory::MakeDir(const std::string& vsDirStringToCreate) const { return MakeDirs(vsDirStringToCreate) == 0; }

bool CDirectory::RemoveDir(const std::string& vsDirStringToRemove) const {
  const std::string path = Normalize(vsDirStringToRemove);
  if (path == "/") return false;
  const Entry entry = OpenEntry(path);
  return entry.error == 0 && ::unlinkat(entry.at, entry.name.c_str(), AT_REMOVEDIR) == 0;
}

bool CDirectory::RenameDir(const std::string& vsExistingPathAndFile, const std::string& vsNewFileAndPath) const {
  struct stat st{};
  return Stat(Normalize(vsExistingPathAndFile), st) == 0 && S_ISDIR(st.st_mode) &&
         Rename(vsExistingPathAndFile, vsNewFileAndPath) == 0;
}

CFileInfo& CDirectory::pobjFile() {
  file_.UseVirtualPaths = UseVirtualPaths;
  file_.VirtualPathBase.clear();  // no drive: the virtual base is always empty
  return file_;
}

}  // namespace velto
