// The local host's name and addresses, and the program's own folder.
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

// IPv6 addresses of the interfaces that are up, in the system's short text
// form: global and unique-local ones in interface order, then "::1" when the
// loopback interface has it. Link-local (fe80::/10) and the old site-local
// (fec0::/10) addresses are left out: they mean something only together with
// their interface, so a client elsewhere can neither be told one nor reach
// it. Empty when the host has no IPv6 (no fallback: "::1" may not exist).
VELTO_PLATFORM_EXPORT std::vector<std::string> LocalAddresses6();

// The folder of the running executable (from /proc/self/exe), ending in "/".
VELTO_PLATFORM_EXPORT std::string ExecutableFolder();

// The folder of the shared object that contains `symbol`, ending in "/".
VELTO_PLATFORM_EXPORT std::string ModuleFolder(const void* symbol);

}  // namespace platform
