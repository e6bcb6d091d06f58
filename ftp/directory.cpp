#include "ftp/directory.h"

#include <sys/stat.h>

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

}  // namespace

void CDirectory::SetDefaultDirectory(const std::string& directory) {
  const std::string path = WithSlash(Collapse(directory));
  if (!DirExists(path)) return;
  defaultDirectory_ = path;
  currentDirectory_ = path;
}

void CDirectory::SetCurrentDirectory(const std::string& directory) {
  const std::string path = WithSlash(Collapse(directory));
  if (DirExists(path)) currentDirectory_ = path;
}

bool CDirectory::DirExists(const std::string& path, const std::string&) const {
  if (path.empty()) return false;
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> CDirectory::Candidates(const std::string& argument) const {
  const std::string arg = Collapse(argument);
  if (!arg.empty() && arg.front() == '/') return {arg};
  return {Collapse(currentDirectory_ + arg), Collapse("/" + arg)};
}

std::string CDirectory::Normalize(const std::string& path) {
  std::vector<std::string> parts;
  const std::string text = Collapse(path);
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = text.find('/', start);
    const std::string part = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  std::string out;
  for (const auto& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

bool CDirectory::InsideDefault(const std::string& path) const {
  const std::string root = Normalize(defaultDirectory_);
  const std::string target = Normalize(path);
  if (root == "/") return true;
  return target == root || (target.size() > root.size() && target.compare(0, root.size(), root) == 0 &&
                            target[root.size()] == '/');
}

}  // namespace velto
