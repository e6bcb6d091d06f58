#include "server/user_tool.h"

#include "config/settings.h"
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
#include <iterator>
#include <optional>
#include <string_view>

namespace velto {

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

constexpr const char* kUsageText =
    "usage: velto user add NAME --home DIR [RIGHTS]\n"
    "       velto user set NAME [--home DIR] [RIGHTS]\n"
    "       velto user passwd NAME\n"
    "       velto user del NAME\n"
    "       velto user list\n"
    "The password is read from the terminal, or as one line of standard input; with\n"
    "HashPasswords=True in Velto.ini it is stored as a hash. A relative DIR is taken from\n"
    "the current folder. RIGHTS (a new account has the second of each pair):\n"
    "  --read-only / --read-write    no uploads, deletes or renames / the write right\n"
    "  --unlimited / --confined      may leave the home folder / stays inside it\n"
    "  --log / --no-log              every command goes to Access.log / not logged\n"
    "  --concurrent / --single       several log-ons at a time / one at a time\n"
    "  --require-tls / --allow-clear log on only over TLS (FTPS) / also in clear\n"
    "Clients that open several connections (FileZilla, rclone, lftp with parallel\n"
    "transfers) need --concurrent. set changes only the rights given, never the password.\n"
    "--data-dir DIR works on the Velto.usr in DIR (as the server: see velto --help).\n";

int Fail(const std::string& text) {
  std::fprintf(stderr, "velto: %s\n", text.c_str());
  return kFailed;
}

int Usage(const std::string& text) {
  std::fprintf(stderr, "velto: %s\n%s", text.c_str(), kUsageText);
  return kUsage;
}

// What add and set were asked for; a right not named stays as it is (set)
// or takes the new account's default (add).
struct AccountOptions {
  std::string name;
  std::optional<std::string> home;
  std::optional<bool> readOnly;
  std::optional<bool> unlimited;
  std::optional<bool> log;
  std::optional<bool> concurrent;
  std::optional<bool> requireTls;

  bool ChangesSomething() const { return home || readOnly || unlimited || log || concurrent || requireTls; }
};

// Parses "NAME [--home DIR] [rights]"; the error text when it does not parse.
std::optional<std::string> ParseAccountOptions(const std::vector<std::string>& args, AccountOptions& out) {
  struct Flag {
    std::string_view text;
    std::optional<bool> AccountOptions::*field;
    bool value;
  };
  static constexpr Flag kFlags[] = {
      {"--read-only", &AccountOptions::readOnly, true},   {"--read-write", &AccountOptions::readOnly, false},
      {"--unlimited", &AccountOptions::unlimited, true},  {"--confined", &AccountOptions::unlimited, false},
      {"--log", &AccountOptions::log, true},              {"--no-log", &AccountOptions::log, false},
      {"--concurrent", &AccountOptions::concurrent, true}, {"--single", &AccountOptions::concurrent, false},
      {"--require-tls", &AccountOptions::requireTls, true}, {"--allow-clear", &AccountOptions::requireTls, false},
  };
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const auto flag = std::find_if(std::begin(kFlags), std::end(kFlags), [&](const Flag& f) { return f.text == arg; });
    if (flag != std::end(kFlags)) {
      out.*(flag->field) = flag->value;
    } else if (arg == "--home") {
      if (i + 1 >= args.size()) return "--home needs a folder";
      out.home = args[++i];
    } else if (arg.rfind("--home=", 0) == 0) {
      out.home = arg.substr(7);
    } else if (arg.rfind("--", 0) == 0) {
      return "unknown option " + arg;
    } else if (out.name.empty()) {
      out.name = arg;
    } else {
      return "one account at a time (" + out.name + " and " + arg + ")";
    }
  }
  if (out.name.empty()) return args[0] + " needs an account name";
  if (out.home && out.home->empty()) return "--home needs a folder";
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
  const RunningServer server = FindRunningServer(folder, platform::ExecutableFolder());
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
  if (user.RequireTLS) text += ",tls";
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

// The home as it will be stored: an existing folder, by its absolute path.
// The error text when it cannot be.
std::optional<std::string> CheckHome(const std::string& home, const CFTPUsers& users) {
  struct stat st{};
  if (::stat(home.c_str(), &st) != 0) return "the home folder " + home + " cannot be used: " + std::strerror(errno);
  if (!S_ISDIR(st.st_mode)) return "the home folder " + home + " is not a folder";
  if (!CFTPUsers::StorableValue(home)) {
    return "a folder with a line break or a final \"]\" cannot be stored in " + users.DataFile();
  }
  return std::nullopt;
}

int Saved(CFTPUsers& users);

int Add(CFTPUsers& users, const std::vector<std::string>& args, const std::string& folder) {
  AccountOptions options;
  if (const auto error = ParseAccountOptions(args, options)) return Usage(*error);
  if (!options.home) return Usage("add needs --home DIR, the account's folder");
  const std::string home = AbsoluteFolder(*options.home);
  if (const auto error = CheckHome(home, users)) return Fail(*error);
  if (!CFTPUsers::StorableValue(options.name)) {
    return Fail("a name with a line break or a final \"]\" cannot be stored in " + users.DataFile());
  }
  if (users.pExists(options.name)) return Fail("the account \"" + options.name + "\" exists already");
  std::string error;
  const auto password = ReadNewPassword(error);
  if (!password) return Fail(error);
  if (!users.pAddUser(options.name, *password, home, options.concurrent.value_or(false),
                      !options.unlimited.value_or(false), true, !options.readOnly.value_or(false),
                      options.log.value_or(false), true)) {
    return Fail(users.LastError());
  }
  if (!users.LastSaveSucceeded()) return Fail("cannot save " + users.DataFile() + "; nothing changed");
  if (options.requireTls.value_or(false)) {
    users.ItemByKey(options.name).RequireTLS = true;
    if (Saved(users) != kDone) return kFailed;
  }
  std::printf("Added %s (%s) with home %s\n", options.name.c_str(),
              RightsText(users.ItemByKey(options.name)).c_str(), home.c_str());
  TellRunningServer(folder);
  return kDone;
}

// pUpdateUsers with the tool's account of a failure.
int Saved(CFTPUsers& users) {
  if (users.pUpdateUsers()) return kDone;
  return Fail(users.LastError().empty() ? "cannot save " + users.DataFile() + "; nothing changed" : users.LastError());
}

int Set(CFTPUsers& users, const std::vector<std::string>& args, const std::string& folder) {
  AccountOptions options;
  if (const auto error = ParseAccountOptions(args, options)) return Usage(*error);
  if (!options.ChangesSomething()) return Usage("set needs --home DIR or a right to change");
  if (!users.pExists(options.name)) return Fail("there is no account \"" + options.name + "\"");
  std::optional<std::string> home;
  if (options.home) {
    home = AbsoluteFolder(*options.home);
    if (const auto error = CheckHome(*home, users)) return Fail(*error);
  }
  CFTPUser& user = users.ItemByKey(options.name);
  if (home) user.DefaultDirectory = *home;
  if (options.readOnly) user.WriteAccess = !*options.readOnly;
  if (options.unlimited) user.LimitToDefaultDirectory = !*options.unlimited;
  if (options.log) user.LogAccess = *options.log;
  if (options.concurrent) user.AllowConcurrentLogons = *options.concurrent;
  if (options.requireTls) user.RequireTLS = *options.requireTls;
  if (Saved(users) != kDone) return kFailed;
  std::printf("Changed %s (%s) with home %s\n", user.UserID.c_str(), RightsText(user).c_str(),
              user.DefaultDirectory.c_str());
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
  if (!users.SetPassword(users.ItemByKey(name), *password)) return Fail(users.LastError());
  if (Saved(users) != kDone) return kFailed;
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

int RunUserTool(const std::vector<std::string>& args, const Folders& folders) {
  if (args.empty()) return Usage("which user command?");
  const std::string& verb = args[0];
  const std::string& folder = folders.data;
  // A mistyped folder would otherwise become a new, empty user file.
  if (const auto problem = FolderProblem(folder, false)) {
    return Fail("the data folder " + folder + " cannot be used: " + *problem);
  }
  const std::string file = folder + "Velto.usr";
  // An unreadable file would look empty, and the first save would then
  // replace every account in it.
  CFTPUsers users;
  if (!users.SetDataFile(file)) return Fail("cannot read " + file + ": " + std::strerror(errno));
  CIni settings;
  if (settings.SetFileName(folder + "Velto.ini")) ReadSetting(settings, Setting::HashPasswords, users.HashNewPasswords);
  if (verb == "list") return args.size() == 1 ? List(users) : Usage("list takes no arguments");
  if (verb == "add") return Add(users, args, folder);
  if (verb == "set") return Set(users, args, folder);
  if (verb == "passwd") return Passwd(users, args, folder);
  if (verb == "del") return Delete(users, args, folder);
  return Usage("unknown user command \"" + verb + "\"");
}

int PrintLocalAddresses() {
  const auto addresses = platform::LocalAddresses();
  std::printf("-1  (every address)\n");
  for (std::size_t i = 0; i < addresses.size(); ++i) std::printf("%2zu  %s\n", i, addresses[i].c_str());
  // FTPBindToIPv6 names an address itself rather than a number.
  const auto addresses6 = platform::LocalAddresses6();
  if (!addresses6.empty()) {
    std::printf("IPv6 (FTPBindToIPv6: -1 for every IPv6 address, or one of these):\n");
    for (const std::string& address : addresses6) std::printf("    %s\n", address.c_str());
  }
  return kDone;
}

}  // namespace velto
