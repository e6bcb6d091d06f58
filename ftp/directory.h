// A session's view of the file system: its default and current directory,
// the path conversions between what the client sees and the physical paths,
// and the file operations the commands use.
//
// Paths here are POSIX paths: "/" is the separator (a client's "\" is taken
// as "/"), there is no drive, and the virtual base is empty, so the path a
// client sees is the physical path, except under a virtual root: there the
// default directory is "/" to the client, who never sees the physical path.
// Whatever the view, the paths this object keeps and hands out are physical;
// only ClientPath and Candidates translate.
#pragma once

#include "ftp/file_info.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velto {

class CDirectory {
 public:
  bool UseVirtualPaths = true;
  // The client sees the default directory as "/" and cannot name anything
  // above it ("/.." is "/"). An absolute argument that begins with the
  // physical default directory still means that place.
  bool VirtualRoot = false;

  // The default directory, ending in "/" ("" until one was set).
  const std::string& DefaultDirectory() const { return defaultDirectory_; }
  // Only an existing directory is taken; it also becomes the current one.
  // Stored as Normalize gives it, with a trailing "/".
  void SetDefaultDirectory(const std::string& directory);
  // The current directory, ending in "/".
  const std::string& CurrentDirectory() const { return currentDirectory_; }
  // Only an existing directory is taken, stored as Normalize gives it with a
  // trailing "/" (so "/ftp/pub/.." becomes "/ftp/").
  void SetCurrentDirectory(const std::string& directory);

  // True when `path` names an existing directory (the pattern is kept for
  // the callers' sake; "*.*" matches everything).
  bool DirExists(const std::string& path, const std::string& pattern = "*.*") const;

  // `path` (physical) as the client sees it.
  std::string ClientPath(const std::string& path) const;

  // The paths an argument names, in lookup order: an absolute argument
  // ("/..." or "\...") names exactly that path; a relative one is tried
  // joined to the current directory first, then taken from the root (under
  // a virtual root, both stay inside the default directory). Each
  // is absolute with "." and ".." resolved and runs of separators collapsed
  // (as Normalize), ending in "/" when the argument ends with a separator,
  // "." or "..": the path checked is the path the system is handed.
  std::vector<std::string> Candidates(const std::string& argument) const;

  // The first of Candidates(argument) for which `exists` holds. A limited
  // account never probes a path outside its default directory, by its text
  // or through a symbolic link (Contains): it is refused when the path the
  // argument primarily names is outside and nothing inside was found.
  // `entry` says the command acts on the entry itself (delete, rename), so
  // a last component that is a link is not followed.
  enum class Lookup { Found, NotFound, Refused };
  struct Located {
    Lookup result = Lookup::NotFound;
    std::string path;
  };
  template <class Exists>
  Located Locate(const std::string& argument, bool limited, Exists exists, bool entry = false) const {
    const std::vector<std::string> candidates = Candidates(argument);
    for (const std::string& candidate : candidates) {
      if (limited && !Contains(candidate, entry)) continue;
      if (exists(candidate)) return {Lookup::Found, candidate};
    }
    if (limited && !Contains(candidates.front(), entry)) return {Lookup::Refused, {}};
    return {Lookup::NotFound, {}};
  }

  // Inside the default directory both by the text and by what the system
  // makes of it: the longest existing prefix of `path` is resolved (every
  // symbolic link followed; with `entry`, all but the last component) and
  // compared with the resolved default directory, so a link that leaves
  // the tree leads nowhere and one that stays inside works.
  bool Contains(const std::string& path, bool entry = false) const;

  // `path` as the system resolves it: the longest existing prefix with
  // every symbolic link followed, the rest as text ("" when nothing of it
  // resolves).
  static std::string RealPath(const std::string& path);

  // `path` with "." and ".." resolved and runs of separators collapsed
  // (purely on the text; absolute; no trailing "/" except for the root).
  static std::string Normalize(const std::string& path);

  // Whether `path` lies inside the default directory, compared component by
  // component after Normalize ("/srv/ftp/bob" does not contain
  // "/srv/ftp/bobby").
  // An empty default directory contains nothing.
  bool InsideDefault(const std::string& path) const;
  // Inside the default directory and not the default directory itself: what
  // a limited account may remove or rename (the default directory's own
  // entry lives in a folder outside it).
  bool BelowDefault(const std::string& path) const;

  // Creates the directory and every missing parent; true when it exists
  // afterwards (also when it existed before). May leave parents it created.
  bool MakeDir(const std::string& vsDirStringToCreate) const;
  // Removes an empty directory; true on success.
  bool RemoveDir(const std::string& vsDirStringToRemove) const;
  // Moves a directory; both paths are converted first and an existing entry
  // at the new path is never replaced. True on success.
  bool RenameDir(const std::string& vsExistingPathAndFile, const std::string& vsNewFileAndPath) const;

  // The owned file object (existence tests and file operations).
  CFileInfo& pobjFile();

  // The listing of `dirPath` in the server's fixed-column format.
  std::string GetDir(const std::string& dirPath, const std::string& fileSpec = "*.*") const;

 private:
  // RealPath of a normalized path inside the default directory, starting
  // from the default directory's resolved form.
  std::string RealInside(const std::string& normalized) const;

  std::string defaultDirectory_;
  std::string root_;         // the default directory normalized (no final "/")
  std::string realDefault_;  // the default directory with every link resolved
  std::string currentDirectory_;
  CFileInfo file_;
};

}  // namespace velto
