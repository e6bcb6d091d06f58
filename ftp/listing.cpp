#include "ftp/listing.h"

#include "ftp/directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>

namespace velto {

namespace {

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

}  // namespace

namespace {

void Two(std::string& out, int value) {
  out.push_back(static_cast<char>('0' + (value / 10) % 10));
  out.push_back(static_cast<char>('0' + value % 10));
}

// Appends one listing line: the 18-column date and time, the 20-column size
// or directory mark, a blank, the name and CR LF.
void AppendLine(std::string& out, const std::tm& written, bool directory, std::int64_t size,
                std::string_view name) {
  int hour = written.tm_hour % 12;
  if (hour == 0) hour = 12;
  Two(out, written.tm_mon + 1);
  out.push_back('-');
  Two(out, written.tm_mday);
  out.push_back('-');
  Two(out, written.tm_year % 100);
  out.append("  ");
  Two(out, hour);
  out.push_back(':');
  Two(out, written.tm_min);
  out.append(written.tm_hour < 12 ? "AM " : "PM ");
  if (directory) {
    out.append("      <DIR>         ");
  } else {
    char digits[24];
    int n = 0;
    // Negative sizes cannot come from the system; show them as 0.
    std::uint64_t v = size > 0 ? static_cast<std::uint64_t>(size) : 0;
    do {
      digits[n++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    if (n < 20) out.append(static_cast<std::size_t>(20 - n), ' ');
    while (n > 0) out.push_back(digits[--n]);
  }
  out.push_back(' ');
  out.append(name);
  out.append("\r\n");
}

// Local time of a file time; the listing shows minutes, and every local-time
// rule changes on a minute boundary, so one conversion serves a minute.
class LocalMinutes {
 public:
  const std::tm& At(std::time_t t) {
    const std::time_t minute = t - ((t % 60) + 60) % 60;
    if (!valid_ || minute != minute_) {
      ::localtime_r(&minute, &tm_);
      minute_ = minute;
      valid_ = true;
    }
    return tm_;
  }

 private:
  std::time_t minute_ = 0;
  std::tm tm_{};
  bool valid_ = false;
};

}  // namespace

std::string ListingLine(const std::tm& written, bool directory, std::int64_t size, std::string_view name) {
  std::string line;
  AppendLine(line, written, directory, size, name);
  return line;
}

struct ListingCursor::State {
  std::unique_ptr<DIR, DirCloser> dir;
  bool namesOnly = false;
  NameFilter filter;
  LocalMinutes clock;
  // One entry given by path (a file named in the command).
  std::string entryPath;
  std::string entryName;
  bool done = false;
};

ListingCursor::ListingCursor(std::unique_ptr<State> state) : state_(std::move(state)) {}
ListingCursor::~ListingCursor() = default;

std::unique_ptr<ListingCursor> ListingCursor::OpenFolder(const std::string& folder, bool namesOnly,
                                                         NameFilter filter) {
  auto state = std::make_unique<State>();
  state->dir.reset(::opendir(folder.c_str()));
  if (!state->dir) return nullptr;
  state->namesOnly = namesOnly;
  state->filter = std::move(filter);
  return std::make_unique<ListingCursor>(std::move(state));
}

std::unique_ptr<ListingCursor> ListingCursor::OneEntry(const std::string& path, std::string name, bool namesOnly) {
  auto state = std::make_unique<State>();
  state->entryPath = path;
  state->entryName = std::move(name);
  state->namesOnly = namesOnly;
  return std::make_unique<ListingCursor>(std::move(state));
}

bool ListingCursor::Next(std::string& text, std::size_t budget) {
  State& s = *state_;
  if (s.done) return false;
  if (!s.dir) {
    // The single entry.
    s.done = true;
    struct stat st{};
    if (::stat(s.entryPath.c_str(), &st) != 0 && ::lstat(s.entryPath.c_str(), &st) != 0) return false;
    if (s.namesOnly) {
      text.append(s.entryName);
      text.append("\r\n");
    } else {
      AppendLine(text, s.clock.At(st.st_mtime), S_ISDIR(st.st_mode), static_cast<std::int64_t>(st.st_size),
                 s.entryName);
    }
    return false;
  }
  const int dirFd = ::dirfd(s.dir.get());
  while (text.size() < budget) {
    dirent* entry = ::readdir(s.dir.get());
    if (entry == nullptr) {
      s.done = true;
      s.dir.reset();
      return false;
    }
    const char* name = entry->d_name;
    if (*name == '\0') continue;
    // "." and ".." (and every dot-directory) are left out: no need to look
    // at them when the directory entry already says what they are.
    if (name[0] == '.' && entry->d_type == DT_DIR) continue;
    if (s.filter && !s.filter(name)) continue;
    if (s.namesOnly && entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK) {
      // Names only: the directory entry says enough.
      text.append(name);
      text.append("\r\n");
      continue;
    }
    struct stat st{};
    // Links are shown as what they point to; a dangling one as itself.
    if (::fstatat(dirFd, name, &st, 0) != 0 && ::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    const bool isDir = S_ISDIR(st.st_mode);
    if (isDir && name[0] == '.') continue;
    if (s.namesOnly) {
      text.append(name);
      text.append("\r\n");
    } else {
      AppendLine(text, s.clock.At(st.st_mtime), isDir, static_cast<std::int64_t>(st.st_size), name);
    }
  }
  return true;
}

std::string ListFolder(const std::string& folder, bool namesOnly, const std::function<void()>& pump) {
  std::string text;
  std::unique_ptr<ListingCursor> cursor = ListingCursor::OpenFolder(folder, namesOnly);
  if (!cursor) return text;
  // Pieces of a few hundred lines, with the pump between them.
  constexpr std::size_t kPiece = 256 * 64;
  std::size_t budget = kPiece;
  while (cursor->Next(text, budget)) {
    budget = text.size() + kPiece;
    if (pump) pump();
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
