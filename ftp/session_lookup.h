// What the session's command files share to find the entry an argument
// names and to answer when it cannot.
#pragma once

#include "ftp/directory.h"
#include "ftp/replies.h"
#include "users/ftp_users.h"

#include <sys/stat.h>

#include <string>

namespace velto::session_lookup {

// Without an account nothing may be written and the session stays inside
// its default directory.
inline bool Limited(const CFTPUser* account) { return account == nullptr || account->LimitToDefaultDirectory; }
inline bool MayWrite(const CFTPUser* account) { return account != nullptr && account->WriteAccess; }

// The existing entry an argument names, links followed (a confined
// session's only while they stay inside); `st` describes it when found.
inline CDirectory::Located FindEntry(const CDirectory& directory, const std::string& argument, bool limited,
                                     struct stat& st) {
  return directory.Locate(argument, limited,
                          [&directory, &st](const std::string& path) { return directory.Stat(path, st); });
}

// The entry itself, a link not followed (what is removed or renamed).
inline CDirectory::Located FindOwnEntry(const CDirectory& directory, const std::string& argument, bool limited,
                                        struct stat& st) {
  return directory.Locate(argument, limited,
                          [&directory, &st](const std::string& path) { return directory.Stat(path, st, false); });
}

inline CDirectory::Located FindDirectory(const CDirectory& directory, const std::string& argument, bool limited) {
  return directory.Locate(argument, limited,
                          [&directory](const std::string& path) { return directory.IsDirectory(path); });
}

inline std::string Refusal(CDirectory::Lookup result) {
  return reply::Line(result == CDirectory::Lookup::Refused ? reply::kNoAccess : reply::kFileNotFound);
}

}  // namespace velto::session_lookup
