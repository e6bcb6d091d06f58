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
#include "platform/fd.h"

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>
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
  // The session is kept inside its default directory by the kernel: every
  // path is resolved below the descriptor of the default directory opened
  // when it was set (see Open), so a folder swapped for a link between a
  // look and an open cannot lead out.
  bool Confined = false;

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
  // or through a symbolic link: it is refused when the path the argument
  // primarily names is outside and nothing inside was found. Whether a last
  // component that is a link is followed is up to `exists`.
  enum class Lookup { Found, NotFound, Refused };
  struct Located {
    Lookup result = Lookup::NotFound;
    std::string path;
  };
  //
  // `exists` returns 0 when the candidate is there, else -errno; -EXDEV
  // (what the confined calls below give for a path that leads out) on the
  // primary candidate refuses. A limited account's candidates are filtered
  // on their text first; the kernel does the rest.
  template <class Exists>
  Located Locate(const std::string& argument, bool limited, Exists exists) const {
    const std::vector<std::string> candidates = Candidates(argument);
    bool refused = limited && !InsideDefault(candidates.front());
    for (std::size_t i = 0; i < candidates.size(); ++i) {
      if (limited && !InsideDefault(candidates[i])) continue;
      const int result = exists(candidates[i]);
      if (result == 0) return {Lookup::Found, candidates[i]};
      if (i == 0 && result == kOutside) refused = true;
    }
    return {refused ? Lookup::Refused : Lookup::NotFound, {}};
  }

  // What the calls below answer for a path that leads out of a confined
  // session's tree.
  static constexpr int kOutside = -EXDEV;

  // ---- the file system as the session may reach it ----
  // `path` is physical and absolute. Unconfined, these are the plain calls;
  // confined, the path must lie inside the default directory by its text and
  // is resolved below the descriptor held for it, links followed only while
  // they stay inside.
  // Opens `path` with open(2)'s flags; the descriptor, or -errno.
  int Open(const std::string& path, int flags, mode_t mode = 0) const;
  // stat(2) (`follow`) or lstat(2); 0 or -errno.
  int Stat(const std::string& path, struct stat& st, bool follow = true) const;
  // 0 when `path` is a directory, -ENOTDIR when it is something else.
  int IsDirectory(const std::string& path) const;
  // The folder holding an entry, held open, and the entry's name in it:
  // what the *at calls take to act on the entry itself, never through a
  // link in its place. `at` is AT_FDCWD and `name` the whole path when
  // unconfined.
  struct Entry {
    platform::UniqueFd folder;
    int at = -1;
    std::string name;
    int error = 0;  // 0, or -errno when the folder cannot be reached
  };
  Entry OpenEntry(const std::string& path) const;
  // Removes a file or a link (a read-only file is made writable first);
  // 0 or -errno.
  int Unlink(const std::string& path) const;
  // Moves an entry; an existing entry at `to` is never replaced. 0 or -errno.
  int Rename(const std::string& from, const std::string& to) const;
  // Sets the permission bits or the modification time of what `path` names
  // (links followed); 0 or -errno.
  int Chmod(const std::string& path, mode_t mode) const;
  int SetModified(const std::string& path, std::time_t when, struct stat* stored = nullptr) const;
  // Creates the directory and its missing parents; 0 or -errno.
  int MakeDirs(const std::string& path) const;
  // For a listing of `folder` (physical, ending in "/"): the facts of what a
  // link in it named `name` leads to, false when that is outside (or
  // nothing). It holds what it needs, so it may outlive this object.
  std::function<bool(std::string_view name, struct stat& st)> LinkFactsIn(const std::string& folder) const;

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
  // The path below the default directory ("" for itself), for the confined
  // calls; false when the text lies outside.
  bool Relative(const std::string& path, std::string& relative) const;

  std::string currentDirectory_;
  CFileInfo file_;
  // The default directory, held from when it was set (shared with the
  // listings that outlive a log-on).
  std::shared_ptr<const platform::UniqueFd> home_;
};

}  // namespace velto
