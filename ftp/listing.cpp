#include "ftp/listing.h"

#include "ftp/directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace velto {

namespace {

// How many entries pass between two runs of the message pump.
constexpr int kPumpEvery = 256;

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

}  // namespace

std::string ListingLine(const std::tm& written, bool directory, std::int64_t size, std::string_view name) {
  int hour = written.tm_hour % 12;
  if (hour == 0) hour = 12;
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d-%02d-%02d  %02d:%02d%s", (written.tm_mon + 1) % 100,
                written.tm_mday % 100, written.tm_year % 100, hour, written.tm_min % 100,
                written.tm_hour < 12 ? "AM" : "PM");
  char sizeField[32];
  if (directory) {
    std::snprintf(sizeField, sizeof sizeField, "%-20s", "      <DIR>");
  } else {
    std::snprintf(sizeField, sizeof sizeField, "%20lld", static_cast<long long>(size));
  }
  char head[64];
  const int n = std::snprintf(head, sizeof head, "%-18s%s ", stamp, sizeField);
  std::string line(head, static_cast<std::size_t>(n));
  line.append(name);
  line.append("\r\n");
  return line;
}

std::string ListFolder(const std::string& folder, bool namesOnly, const std::function<void()>& pump) {
  std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (!dir) return {};
  const int dirFd = ::dirfd(dir.get());
  std::string text;
  int sincePump = 0;
  while (dirent* entry = ::readdir(dir.get())) {
    const char* name = entry->d_name;
    if (*name == '\0') continue;
    struct stat st{};
    // Links are shown as what they point to; a dangling one as itself.
    if (::fstatat(dirFd, name, &st, 0) != 0 && ::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    const bool isDir = S_ISDIR(st.st_mode);
    if (isDir && name[0] == '.') continue;
    if (namesOnly) {
      text.append(name);
      text.append("\r\n");
    } else {
      std::tm local{};
      const std::time_t t = st.st_mtime;
      ::localtime_r(&t, &local);
      text += ListingLine(local, isDir, static_cast<std::int64_t>(st.st_size), name);
    }
    if (pump && ++sincePump >= kPumpEvery) {
      sincePump = 0;
      pump();
    }
  }
  return text;
}

std::string CDirectory::GetDir(const std::string& dirPath, const std::string&) const {
  std::string path = dirPath;
  while (!path.empty() && path.front() == ' ') path.erase(path.begin());
  while (!path.empty() && path.back() == ' ') path.pop_back();
  return ListFolder(path, false);
}

}  // namespace velto
