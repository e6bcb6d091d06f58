#include "ftp/directory.h"

#include <sys/stat.h>

namespace velto {

void CDirectory::SetDefaultDirectory(const std::string& directory) {
  defaultDirectory_ = directory;
  currentDirectory_ = directory;
}

bool CDirectory::DirExists(const std::string& path, const std::string&) const {
  if (path.empty()) return false;
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace velto
