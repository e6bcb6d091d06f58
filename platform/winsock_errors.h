// Socket error numbers as the rest of the system knows them (the classic
// Windows Sockets numbers), mapped from errno, and their texts.
#pragma once

#include "platform/export.h"

#include <string>

namespace platform {

// errno value -> socket error number (EWOULDBLOCK -> 10035, ...). 0 stays 0;
// values without a socket counterpart keep their errno value.
VELTO_PLATFORM_EXPORT int WinsockErrorFromErrno(int errnoValue);

// The socket error text table: "Connection refused" for 10061, ...;
// "<n> Unknown error" for any number not in the table.
VELTO_PLATFORM_EXPORT std::string SocketErrorText(int number);

// The system's message for an error number (errno or socket number), or
// "Unknown Error." when there is none.
VELTO_PLATFORM_EXPORT std::string SystemErrorText(int number);

}  // namespace platform
