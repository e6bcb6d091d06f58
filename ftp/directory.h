// A session's view of the file system: its default and current directory,
// the path conversions between what the client sees and the physical paths,
// and the file operations the commands use.
#pragma once

#include <cstdint>
#include <string>

namespace velto {

class CDirectory {
 public:
  std::int32_t HwndMain = 0;
  bool UseVirtualPaths = true;

  const std::string& DefaultDirectory() const { return defaultDirectory_; }
  // Also moves the current directory there.
  void SetDefaultDirectory(const std::string& directory);
  const std::string& CurrentDirectory() const { return currentDirectory_; }
  void SetCurrentDirectory(const std::string& directory) { currentDirectory_ = directory; }

  // True when `path` names an existing directory (the pattern is kept for
  // the callers' sake; "*.*" matches everything).
  bool DirExists(const std::string& path, const std::string& pattern = "*.*") const;

 private:
  std::string defaultDirectory_;
  std::string currentDirectory_;
};

}  // namespace velto
