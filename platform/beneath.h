// Opening paths below a folder the caller holds open, so that nothing a
// path names (through "..", a symbolic link, or a folder swapped for a link
// while we look) can lead out of it. The kernel enforces it where it can
// (openat2 with RESOLVE_BENEATH); otherwise the path is walked one component
// at a time with O_NOFOLLOW, each step relative to the folder the last one
// opened.
#pragma once

#include "platform/export.h"

#include <string>
#include <string_view>
#include <sys/types.h>

namespace platform {

// Opens `relative` (components separated by "/", no leading "/"; "" names
// the root itself) below the folder `root` refers to, with open(2)'s
// `flags` and `mode` (O_CLOEXEC is always added). Symbolic links are
// followed while they stay below the root (O_NOFOLLOW: the last component
// is not followed, as with open(2)); an absolute link counts as below when
// its text begins with one of `rootPaths` (the root's own path and its
// resolved form, "" for none). Returns the descriptor, or -errno: -EXDEV
// when the path leads out.
VELTO_PLATFORM_EXPORT int OpenBeneath(int root, std::string_view relative, int flags, mode_t mode,
                                      std::string_view rootPath, std::string_view realRootPath);

// The same, walked component by component in user space whatever the kernel
// offers (what OpenBeneath falls back to; public so that tests can check
// both ways give the same answers).
VELTO_PLATFORM_EXPORT int WalkBeneath(int root, std::string_view relative, int flags, mode_t mode,
                                      std::string_view rootPath, std::string_view realRootPath);

// "/proc/self/fd/N": a name for what an O_PATH descriptor refers to, for
// the calls that take no descriptor of that kind (chmod, utimensat).
VELTO_PLATFORM_EXPORT std::string DescriptorPath(int fd);

}  // namespace platform
