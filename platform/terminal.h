// Reading a secret (a password) from the terminal or from a pipe.
#pragma once

#include "platform/export.h"

#include <optional>
#include <string>

namespace platform {

VELTO_PLATFORM_EXPORT bool IsTerminal(int fd);

// One line of `fd` without its line break (a CR before it goes too). When
// `fd` is a terminal, `prompt` goes to standard error first and the typed
// text is not echoed; echo comes back even if Ctrl-C ends the process
// meanwhile. Nothing at end of input or on a read error.
VELTO_PLATFORM_EXPORT std::optional<std::string> ReadSecretLine(int fd, const std::string& prompt);

}  // namespace platform
