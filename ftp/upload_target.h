// The file an upload writes, and what becomes of it when the upload ends.
//
// The entry is reached through its folder, held open (below a confined
// session's default directory), and is never opened through a link. A new
// file is made in place of the old one, or, atomically, under a temporary
// name in the same folder that takes the real name only once the upload has
// completed. What was made and not kept is removed when the object goes.
#pragma once

#include "ftp/directory.h"
#include "platform/fd.h"

#include <string>

namespace velto {

class CUploadTarget {
 public:
  CUploadTarget() = default;
  ~CUploadTarget();
  CUploadTarget(CUploadTarget&& other) noexcept;
  CUploadTarget& operator=(CUploadTarget&& other) noexcept;
  CUploadTarget(const CUploadTarget&) = delete;
  CUploadTarget& operator=(const CUploadTarget&) = delete;

  // A new file for `path`: in place (an old file is removed first), or with
  // `atomic` under a temporary name. The descriptor to write, or -errno
  // (-EISDIR: a directory has the name; -EPERM: an old file could not be
  // removed).
  int Create(const CDirectory& directory, const std::string& path, bool atomic);
  // STOU: the first of `path`, `path`.1, `path`.2 ... that no entry has,
  // made at once so that no other upload can take it. The descriptor, or
  // -errno; `suffix` is what was added.
  int CreateUnique(const CDirectory& directory, const std::string& path, std::string& suffix);
  // The existing file at `path` (made when missing), to write into at a
  // position: a resumed or appended upload. The descriptor, or -errno.
  int OpenExisting(const CDirectory& directory, const std::string& path);

  // The upload completed: a temporary file takes the name (replacing what
  // has it). 0 or -errno; on failure the temporary file is removed.
  int Commit();
  // The upload ended without completing: a temporary file is removed (the
  // old file stays as it was); a file written in place keeps what arrived.
  void Abandon();

  // The upload has begun: a unique name taken for it is now its file.
  void Started() { unused_ = false; }
  bool Atomic() const { return !temp_.empty(); }

 private:
  int OpenFolder(const CDirectory& directory, const std::string& path);
  void Clear();

  platform::UniqueFd folder_;
  int at_ = -1;
  std::string name_;
  std::string temp_;      // the temporary name, while there is one
  bool unused_ = false;   // made by CreateUnique and not yet written to
};

}  // namespace velto
