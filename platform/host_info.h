// The local host's name and IPv4 addresses, and the program's own folder.
#pragma once

#include "platform/export.h"

#include <string>
#include <vector>

namespace platform {

// gethostname, or "" when the call fails.
VELTO_PLATFORM_EXPORT std::string LocalHostName();

// Dotted IPv4 addresses of the interfaces that are up: non-loopback first in
// interface order, loopback last. Never empty (falls back to 127.0.0.1).
// Adapter numbers index this list.
VELTO_PLATFORM_EXPORT std::vector<std::string> LocalAddresses();

// The folder of the running executable (from /proc/self/exe), ending in "/".
VELTO_PLATFORM_EXPORT std::string ExecutableFolder();

// The folder of the shared object that contains `symbol`, ending in "/".
VELTO_PLATFORM_EXPORT std::string ModuleFolder(const void* symbol);

}  // namespace platform
