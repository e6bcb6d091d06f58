// Whole-file reading and crash-safe replacement for the INI store.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace config {

// All bytes of a regular file, or nothing when it cannot be opened or read
// (errno says why).
std::optional<std::string> ReadWholeFile(const std::string& path);

// Replaces the file at `path` by `bytes` so that the file holds either the old
// or the new bytes, never a mixture, even after a crash or a full disk: the
// bytes go to a temporary file in the same folder, which is flushed and then
// renamed over the old one. An existing file keeps its permission bits (and,
// where the process may, its owner); a new file gets `newFileMode`. A path
// that is a symbolic link replaces the link's target, not the link. An
// existing file the process may not write is left alone (false). True when
// the new file is in place; on false the old file is untouched and no
// temporary file remains.
bool ReplaceFile(const std::string& path, std::string_view bytes, mode_t newFileMode);

}  // namespace config
