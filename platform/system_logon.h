// Checks a user name and password against the operating system's accounts
// (PAM service "velto": authenticate, then account management).
#pragma once

#include <string>

namespace platform {

// True when the system accepts the password and the account may log on now.
// The module's delay after a failure is skipped: the caller runs on the one
// event loop and must not sleep.
bool SystemLogonCheck(const std::string& user, const std::string& password);

}  // namespace platform
