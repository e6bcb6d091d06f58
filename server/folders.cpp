#include "server/folders.h"

#include "platform/host_info.h"

#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>

namespace velto {

namespace {

// Absolute against `base` (the working folder when empty), without "." or
// ".." steps, ending in "/".
std::string AsFolder(const std::string& path, const std::string& base) {
  std::filesystem::path full(path);
  if (full.is_relative()) {
    std::error_code error;
    full = base.empty() ? std::filesystem::absolute(full, error) : std::filesystem::path(base) / full;
  }
  std::string text = full.lexically_normal().string();
  if (text.empty() || text.back() != '/') text.push_back('/');
  return text;
}

std::string_view Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

struct PathsFile {
  std::string data;
  std::string log;
};

// velto.paths: "Key=Value" lines, blank lines, "#" or ";" comments and a
// section header are allowed. Anything else makes the whole file count as
// none: half a file could put the data in one place and the logs in
// another that nobody meant.
std::optional<PathsFile> ReadPathsFile(const std::string& path, const std::function<void(const std::string&)>& warn) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in || S_ISDIR(st.st_mode)) {
    const int error = S_ISDIR(st.st_mode) ? EISDIR : errno;
    warn("cannot read " + path + " (" + std::strerror(error) + "); the default folders are used");
    return std::nullopt;
  }
  PathsFile file;
  std::string raw;
  int number = 0;
  while (std::getline(in, raw)) {
    ++number;
    const std::string_view line = Trimmed(raw);
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    if (line.front() == '[' && line.back() == ']') continue;
    const auto equals = line.find('=');
    const std::string_view key = equals == std::string_view::npos ? line : Trimmed(line.substr(0, equals));
    const std::string_view value = equals == std::string_view::npos ? std::string_view() : Trimmed(line.substr(equals + 1));
    std::string* target = key == "DataFolder" ? &file.data : key == "LogFolder" ? &file.log : nullptr;
    if (target == nullptr || value.empty()) {
      warn(path + " line " + std::to_string(number) + " is not DataFolder=DIR or LogFolder=DIR (\"" +
           std::string(line) + "\"); the default folders are used");
      return std::nullopt;
    }
    *target = std::string(value);
  }
  if (in.bad()) {
    warn("cannot read " + path + " (" + std::strerror(errno) + "); the default folders are used");
    return std::nullopt;
  }
  return file;
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

std::optional<std::string> TakeFolderOptions(int& argc, char** argv, FolderOptions& out) {
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    std::string* target = nullptr;
    std::string_view name;
    for (const auto& [option, field] : {std::pair{std::string_view("--data-dir"), &out.dataDir},
                                        std::pair{std::string_view("--log-dir"), &out.logDir}}) {
      if (arg == option || (arg.starts_with(option) && arg.size() > option.size() && arg[option.size()] == '=')) {
        target = field;
        name = option;
      }
    }
    if (target == nullptr) {
      argv[kept++] = argv[i];
      continue;
    }
    std::string value;
    if (arg.size() > name.size()) {
      value = std::string(arg.substr(name.size() + 1));
    } else if (i + 1 < argc) {
      value = argv[++i];
    }
    if (value.empty()) return std::string(name) + " needs a folder";
    *target = AsFolder(value, "");
  }
  argc = kept;
  argv[argc] = nullptr;
  return std::nullopt;
}

Folders ResolveFolders(const FolderOptions& options, const std::string& programFolder,
                       const std::function<void(const std::string&)>& warn) {
  Folders folders;
  folders.data = options.dataDir;
  folders.log = options.logDir;
  const std::string dataVariable = Environment("VELTO_DATA_DIR");
  const std::string logVariable = Environment("VELTO_LOG_DIR");
  if (folders.data.empty() && !dataVariable.empty()) folders.data = AsFolder(dataVariable, "");
  if (folders.log.empty() && !logVariable.empty()) folders.log = AsFolder(logVariable, "");
  if (folders.data.empty() || folders.log.empty()) {
    if (const auto file = ReadPathsFile(programFolder + kPathsFileName, warn)) {
      if (folders.data.empty() && !file->data.empty()) folders.data = AsFolder(file->data, programFolder);
      if (folders.log.empty() && !file->log.empty()) folders.log = AsFolder(file->log, programFolder);
    }
  }
  if (folders.data.empty()) folders.data = programFolder;
  if (folders.log.empty()) folders.log = folders.data;
  return folders;
}

std::optional<std::string> FolderProblem(const std::string& folder, bool write) {
  struct stat st{};
  if (::stat(folder.c_str(), &st) != 0) return std::string(std::strerror(errno));
  if (!S_ISDIR(st.st_mode)) return std::string("not a folder");
  if (write && ::access(folder.c_str(), W_OK | X_OK) != 0) return std::string(std::strerror(errno));
  return std::nullopt;
}

Folders ProgramFolders(const FolderOptions& options) {
  return ResolveFolders(options, platform::ExecutableFolder(),
                        [](const std::string& text) { std::fprintf(stderr, "velto: %s\n", text.c_str()); });
}

bool ServerFoldersUsable(const Folders& folders) {
  for (const auto& [what, folder] : {std::pair{"data", &folders.data}, std::pair{"log", &folders.log}}) {
    const auto problem = FolderProblem(*folder, true);
    if (!problem) continue;
    const std::string text = std::string("the ") + what + " folder " + *folder + " cannot be used: " + *problem;
    std::fprintf(stderr, "velto: %s\n", text.c_str());
    ::syslog(LOG_ERR, "%s", text.c_str());
    return false;
  }
  return true;
}

std::vector<std::string> FolderArguments(const FolderOptions& options) {
  std::vector<std::string> arguments;
  if (!options.dataDir.empty()) arguments.insert(arguments.end(), {"--data-dir", options.dataDir});
  if (!options.logDir.empty()) arguments.insert(arguments.end(), {"--log-dir", options.logDir});
  return arguments;
}

}  // namespace velto
