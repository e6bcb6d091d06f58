// Where the program keeps its data (Velto.ini, Velto.usr, Velto.pid and the
// files they name relatively) and its logs (Access.log, Errors.log, a
// relative transfer log). Its own files (the libraries) are always beside
// the executable; the data and logs may live elsewhere, as an installed
// service keeps them in /etc and /var/log.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velto {

inline constexpr const char* kPathsFileName = "velto.paths";

// The folders given on the command line, absolute (empty: not given).
struct FolderOptions {
  std::string dataDir;
  std::string logDir;
};

// Takes "--data-dir DIR" and "--log-dir DIR" (or "--data-dir=DIR") out of
// argv wherever they stand, so the rest of the command line reads as
// without them; argc shrinks. The error text when an option lacks its
// folder.
std::optional<std::string> TakeFolderOptions(int& argc, char** argv, FolderOptions& out);

// Both end in "/".
struct Folders {
  std::string data;
  std::string log;
};

// The folders in order of strength: the options, $VELTO_DATA_DIR and
// $VELTO_LOG_DIR (relative: from the working folder), DataFolder= and
// LogFolder= in velto.paths in `programFolder` (relative: from that
// folder), else the program's folder for the data and the data folder for
// the logs. A missing velto.paths is normal; an unreadable or malformed one
// is one `warn` call and counts as none.
Folders ResolveFolders(const FolderOptions& options, const std::string& programFolder,
                       const std::function<void(const std::string&)>& warn);

// Why `folder` cannot hold the program's files (missing, no folder, not
// writable when `write`); nullopt when it can.
std::optional<std::string> FolderProblem(const std::string& folder, bool write);

// ResolveFolders for this program (the executable's folder), a problem
// with velto.paths on standard error.
Folders ProgramFolders(const FolderOptions& options);

// Whether a server can keep its files in `folders`; when not, says why on
// standard error and to syslog.
bool ServerFoldersUsable(const Folders& folders);

// The options a unit's command passes on so that the service finds the
// folders given here: empty when none were.
std::vector<std::string> FolderArguments(const FolderOptions& options);

}  // namespace velto
