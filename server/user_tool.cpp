#include "server/user_tool.h"

#include "platform/host_info.h"
#include "platform/terminal.h"
#include "server/pid_file.h"
#include "users/ftp_users.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>

namespace velto {

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

constexpr const char* kUsageText =
    "usage: velto user add NAME --home DIR [--read-only] [--unlimited] [--log] [--concurrent]\n"
    "       velto user passwd NAME\n"
    "       velto user del NAME\n"
    "       velto user list\n"
    "The password is read from the terminal, or as one line of standard input.\n"
    "--read-only: no uploads, deletes or renames; --unlimited: not confined to the home folder;\n"
    "--log: every command goes to Access.log; --concurrent: more than one log-on at a time.\n";

int Fail(const std::string& text) {
  std::fprintf(stderr, "velto: %s\n", text.c_str());
  return kFailed;
}

int Usage(const std::string& text) {
  std::fprintf(stderr, "velto: %s\n%s", text.c_str(), kUsageText);
  return kUsage;
}

struct AddOptions {
  std::string name;
  std::string home;
  bool readOnly = false;
  bool unlimited = false;
  bool log = false;
  bool concurrent = false;
};

// Parses "NAME --home DIR [flags]"; the error text when it does not parse.
std::optional<std::string> ParseAdd(const std::vector<std::string>& args, AddOptions& out) {
  bool haveHome = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--home") {
      if (i + 1 >= args.size()) return "--home needs a folder";
      out.home = args[++i];
      haveHome = true;
    } else if (arg.rfind("--home=", 0) == 0) {
      out.home = arg.substr(7);
      haveHome = true;
    } else if (arg == "--read-only") {
      out.readOnly = true;
    } else if (arg == "--unlimited") {
      out.unlimited = true;
    } else if (arg == "--log") {
      out.log = true;
    } else if (arg == "--concurrent") {
      out.concurrent = true;
    } else if (arg.rfind("--", 0) == 0) {
      return "unknown option " + arg;
    } else if (out.name.empty()) {
      out.name = arg;
    } else {
      return "one account at a time (" + out.name + " and " + arg + ")";
    }
  }
  if (out.name.empty()) return "add needs an account name";
  if (!haveHome || out.home.empty()) return "add needs --home DIR, the account's folder";
  return std::nullopt;
}

// The folder as the server will look it up: absolute, without "." or ".."
// steps or a trailing "/" (the server's working folder is not the tool's).
std::string AbsoluteFolder(const std::string& folder) {
  std::error_code error;
  std::filesystem::path path = std::filesystem::absolute(folder, error);
  if (error) path = folder;
  std::string text = path.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

// The new password: typed twice at a terminal, else one line of input.
std::optional<std::string> ReadNewPassword(std::string& error) {
  const auto first = platform::ReadSecretLine(STDIN_FILENO, "Password: ");
  if (!first) {
    error = "no password given (standard input ended)";
    return std::nullopt;
  }
  if (first->empty()) {
    error = "the password must not be empty";
    return std::nullopt;
  }
  if (platform::IsTerminal(STDIN_FILENO)) {
    const auto again = platform::ReadSecretLine(STDIN_FILENO, "Password again: ");
    if (!again || *again != *first) {
      error = "the passwords differ; nothing changed";
      return std::nullopt;
    }
  }
  return first;
}

// After a change: a running server learns of it through SIGHUP.
void TellRunningServer(const std::string& folder) {
  const RunningServer server = FindRunningServer(folder);
  const std::string pid = std::to_string(server.pid);
  switch (server.state) {
    case RunningServer::State::None:
      std::printf("No server runs from %s; it reads the accounts when it starts.\n", folder.c_str());
      return;
    case RunningServer::State::Running:
      if (::kill(server.pid, SIGHUP) == 0) {
        std::printf("Told the running server (pid %s) to reload the accounts.\n", pid.c_str());
        return;
      }
      std::printf("The server runs as another user: reload it with kill -HUP %s\n", pid.c_str());
      return;
    case RunningServer::State::Unknown:
      std::printf("If process %s is the server, reload it with kill -HUP %s\n", pid.c_str(), pid.c_str());
      return;
  }
}

std::string RightsText(const CFTPUser& user) {
  std::string text = std::string(user.ReadAccess ? "r" : "-") + (user.WriteAccess ? "w" : "-");
  text += user.LimitToDefaultDirectory ? " confined" : " unlimited";
  if (user.LogAccess) text += ",log";
  if (user.AllowConcurrentLogons) text += ",concurrent";
  return text;
}

int List(const CFTPUsers& users) {
  std::size_t width = 4;
  for (std::int32_t n = 1; n <= users.Count(); ++n) width = std::max(width, users.ItemByIndex(n).UserID.size());
  const int w = static_cast<int>(width);
  std::printf("%-*s  %-26s  %s\n", w, "NAME", "RIGHTS", "HOME");
  for (std::int32_t n = 1; n <= users.Count(); ++n) {
    const CFTPUser& user = users.ItemByIndex(n);
    const std::string home = user.DefaultDirectory.empty() ? "(none: cannot log on)" : user.DefaultDirectory;
    std::printf("%-*s  %-26s  %s\n", w, user.UserID.c_str(), RightsText(user).c_str(), home.c_str());
  }
  return kDone;
}

int Add(CFTPUsers& users, const std::vector<std::string>& args, const std::string& folder) {
  AddOptions options;
  if (const auto error = ParseAdd(args, options)) return Usage(*error);
  const std::string home = AbsoluteFolder(options.home);
  struct stat st{};
  if (::stat(home.c_str(), &st) != 0) return Fail("the home folder " + home + " cannot be used: " + std::strerror(errno));
  if (!S_ISDIR(st.st_mode)) return Fail("the home folder " + home + " is not a folder");
  if (!CFTPUsers::StorableValue(options.name) || !CFTPUsers::StorableValue(home)) {
    return Fail("a name or folder with a line break or a final \"]\" cannot be stored in " + users.DataFile());
  }
  if (users.pExists(options.name)) return Fail("the account \"" + options.name + "\" exists already");
  std::string error;
  const auto password = ReadNewPassword(error);
  if (!password) return Fail(error);
  if (!users.pAddUser(options.name, *password, home, options.concurrent, !options.unlimited, true, !options.readOnly,
                      options.log, true)) {
    return Fail(users.LastError());
  }
  if (!users.LastSaveSucceeded()) return Fail("cannot save " + users.DataFile() + "; nothing changed");
  std::printf("Added %s (%s) with home %s\n", options.name.c_str(),
              RightsText(users.ItemByKey(options.name)).c_str(), home.c_str());
  TellRunningServer(folder);
  return kDone;
}

int Passwd(CFTPUsers& users, const std::vector<std::string>& args, const std::string& folder) {
  if (args.size() != 2) return Usage("passwd needs exactly one account name");
  const std::string& name = args[1];
  if (!users.pExists(name)) return Fail("there is no account \"" + name + "\"");
  std::string error;
  const auto password = ReadNewPassword(error);
  if (!password) return Fail(error);
  users.ItemByKey(name).Password = *password;
  if (!users.pUpdateUsers()) {
    return Fail(users.LastError().empty() ? "cannot save " + users.DataFile() + "; nothing changed" : users.LastError());
  }
  std::printf("Changed the password of %s\n", users.ItemByKey(name).UserID.c_str());
  TellRunningServer(folder);
  return kDone;
}

int Delete(CFTPUsers& users, const std::vector<std::string>& args, const std::string& folder) {
  if (args.size() != 2) return Usage("del needs exactly one account name");
  const std::string& name = args[1];
  if (!users.pExists(name)) return Fail("there is no account \"" + name + "\"");
  if (!users.pDeleteByKey(name)) {
    return Fail(users.LastError().empty() ? "cannot save " + users.DataFile() + "; nothing changed" : users.LastError());
  }
  std::printf("Removed %s\n", name.c_str());
  TellRunningServer(folder);
  return kDone;
}

}  // namespace

int RunUserTool(const std::vector<std::string>& args) {
  if (args.empty()) return Usage("which user command?");
  const std::string& verb = args[0];
  const std::string folder = platform::ExecutableFolder();
  const std::string file = folder + "Velto.usr";
  // An unreadable file would look empty, and the first save would then
  // replace every account in it.
  CFTPUsers users;
  if (!users.SetDataFile(file)) return Fail("cannot read " + file + ": " + std::strerror(errno));
  if (verb == "list") return args.size() == 1 ? List(users) : Usage("list takes no arguments");
  if (verb == "add") return Add(users, args, folder);
  if (verb == "passwd") return Passwd(users, args, folder);
  if (verb == "del") return Delete(users, args, folder);
  return Usage("unknown user command \"" + verb + "\"");
}

int PrintLocalAddresses() {
  const auto addresses = platform::LocalAddresses();
  std::printf("-1  (every address)\n");
  for (std::size_t i = 0; i < addresses.size(); ++i) std::printf("%2zu  %s\n", i, addresses[i].c_str());
  return kDone;
}

}  // namespace velto
