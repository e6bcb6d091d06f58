#include "ftp/directory.h"

#include <cerrno>
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
  if (!DirExists(path)) return;
  defaultDirectory_ = path;
  root_ = Normalize(path);
  currentDirectory_ = path;
  realDefault_ = RealPath(path);
}

void CDirectory::SetCurrentDirectory(const std::string& directory) {
  if (directory.empty()) return;
  const std::string path = WithSlash(Normalize(directory));
  if (DirExists(path)) currentDirectory_ = path;
}

bool CDirectory::DirExists(const std::string& path, const std::string&) const {
  if (path.empty()) return false;
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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

bool CDirectory::MakeDir(const std::string& vsDirStringToCreate) const {
  const std::string path = Normalize(vsDirStringToCreate);
  if (DirExists(path)) return true;
  // Each prefix in turn, from the root down; the root itself always exists.
  std::size_t end = 0;
  while (end != std::string::npos) {
    end = path.find('/', end + 1);
    const std::string prefix = path.substr(0, end);
    if (DirExists(prefix)) continue;
    if (::mkdir(prefix.c_str(), 0777) != 0 && !(errno == EEXIST && DirExists(prefix))) return false;
  }
  return DirExists(path);
}

bool CDirectory::RemoveDir(const std::string& vsDirStringToRemove) const {
  const std::string path = Normalize(vsDirStringToRemove);
  return path != "/" && ::rmdir(path.c_str()) == 0;
}

bool CDirectory::RenameDir(const std::string& vsExistingPathAndFile, const std::string& vsNewFileAndPath) const {
  return DirExists(Normalize(vsExistingPathAndFile)) && file_.RenameFile(vsExistingPathAndFile, vsNewFileAndPath);
}

CFileInfo& CDirectory::pobjFile() {
  file_.UseVirtualPaths = UseVirtualPaths;
  file_.VirtualPathBase.clear();  // no drive: the virtual base is always empty
  return file_;
}

}  // namespace velto
