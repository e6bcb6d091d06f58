// A session's view of the file system: its default and current directory,
// the path conversions between what the client sees and the physical paths,
// and the file operations the commands use.
//
// Paths here are POSIX paths: "/" is the separator (a client's "\" is taken
// as "/"), there is no drive, and the virtual base is empty, so the path a
// client sees is the physical path.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velto {

class CDirectory {
 public:
  std::int32_t HwndMain = 0;
  bool UseVirtualPaths = true;

  // The default directory as set, ending in "/".
  const std::string& DefaultDirectory() const { return defaultDirectory_; }
  // Only an existing directory is taken; it also becomes the current one.
  void SetDefaultDirectory(const std::string& directory);
  // The current directory, ending in "/".
  const std::string& CurrentDirectory() const { return currentDirectory_; }
  // Only an existing directory is taken.
  void SetCurrentDirectory(const std::string& directory);

  // True when `path` names an existing directory (the pattern is kept for
  // the callers' sake; "*.*" matches everything).
  bool DirExists(const std::string& path, const std::string& pattern = "*.*") const;

  // The paths an argument names, in lookup order: an absolute argument
  // ("/..." or "\...") names exactly that path; a relative one is tried
  // joined to the current directory first, then taken from the root.
  // Separators are "/" with runs collapsed; "." and ".." are left for the
  // system to resolve.
  std::vector<std::string> Candidates(const std::string& argument) const;

  // `path` with "." and ".." resolved and runs of separators collapsed
  // (purely on the text; absolute; no trailing "/" except for the root).
  static std::string Normalize(const std::string& path);

  // Whether `path` lies inside the default directory, compared component by
  // component after Normalize ("/srv/ftp/bob" does not contain
  // "/srv/ftp/bobby").
  bool InsideDefault(const std::string& path) const;

  // The listing of `dirPath` in the server's fixed-column format.
  std::string GetDir(const std::string& dirPath, const std::string& fileSpec = "*.*") const;

 private:
  std::string defaultDirectory_;
  std::string currentDirectory_;
};

}  // namespace velto
