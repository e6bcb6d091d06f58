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
// or directory mark, a blank, the name (after `prefix`) and CR LF.
void AppendLine(std::string& out, const std::tm& written, bool directory, std::int64_t size,
                std::string_view prefix, std::string_view name) {
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
  out.append(prefix);
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
  AppendLine(line, written, directory, size, {}, name);
  return line;
}

std::string FactTime(std::time_t t) {
  std::tm utc{};
  ::gmtime_r(&t, &utc);
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

bool ParseFactTime(std::string_view text, std::time_t& t) {
  // Fractions of a second may follow; they are dropped.
  if (text.size() > 15 && text[14] == '.') text = text.substr(0, 14);
  if (text.size() != 14) return false;
  int v[6] = {};
  const int widths[6] = {4, 2, 2, 2, 2, 2};
  std::size_t at = 0;
  for (int i = 0; i < 6; ++i) {
    for (int k = 0; k < widths[i]; ++k, ++at) {
      if (text[at] < '0' || text[at] > '9') return false;
      v[i] = v[i] * 10 + (text[at] - '0');
    }
  }
  if (v[1] < 1 || v[1] > 12 || v[2] < 1 || v[2] > 31 || v[3] > 23 || v[4] > 59 || v[5] > 60) return false;
  std::tm utc{};
  utc.tm_year = v[0] - 1900;
  utc.tm_mon = v[1] - 1;
  utc.tm_mday = v[2];
  utc.tm_hour = v[3];
  utc.tm_min = v[4];
  utc.tm_sec = v[5];
  t = ::timegm(&utc);
  // A day the month does not have would roll over into the next.
  std::tm back{};
  ::gmtime_r(&t, &back);
  return back.tm_mday == v[2];
}

namespace {

// Appends one facts line: the facts, a blank, the name (after `prefix`) and
// CR LF.
void AppendFacts(std::string& line, const struct stat& st, const FactOptions& options, std::string_view prefix,
                 std::string_view name) {
  const bool dir = S_ISDIR(st.st_mode);
  if (options.facts & kFactType) {
    line += dir ? "type=dir;" : S_ISREG(st.st_mode) ? "type=file;" : "type=OS.unix=special;";
  }
  if ((options.facts & kFactSize) && !dir) line += "size=" + std::to_string(st.st_size) + ";";
  if (options.facts & kFactModify) line += "modify=" + FactTime(st.st_mtime) + ";";
  if (options.facts & kFactPerm) {
    // What this account's rights let it do with the entry.
    std::string perm;
    if (dir) {
      perm = "el";
      if (options.write) perm += "cdfmp";
    } else {
      if (options.read) perm += "r";
      if (options.write) perm += "adfw";
    }
    line += "perm=" + perm + ";";
  }
  if (options.facts & kFactUnique) {
    char unique[48];
    std::snprintf(unique, sizeof unique, "unique=%llxg%llx;", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    line += unique;
  }
  line += ' ';
  line.append(prefix);
  line.append(name);
  line += "\r\n";
}

}  // namespace

std::string FactsLine(const struct stat& st, const FactOptions& options, std::string_view name) {
  std::string line;
  AppendFacts(line, st, options, {}, name);
  return line;
}

bool MatchesPattern(std::string_view pattern, std::string_view name) {
  // Greedy matching with one back-tracking point: linear in practice, and
  // never worse than pattern length times name length.
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t star = std::string_view::npos;
  std::size_t resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

struct ListingCursor::State {
  std::unique_ptr<DIR, DirCloser> dir;
  ListingStyle style;
  NameFilter filter;
  LinkFacts linkFacts;
  LocalMinutes clock;
  // One entry given by path (a file named in the command), or by its facts.
  std::string entryPath;
  std::string entryName;
  bool entryKnown = false;
  struct stat entryStat{};
  bool done = false;

  void Append(std::string& text, const struct stat* st, std::string_view name) {
    // A line break in a name would end the line, and what follows could
    // pass for another entry (or, inside a control reply, another reply):
    // such names are left out.
    if (name.find_first_of("\r\n") != std::string_view::npos) return;
    text.append(style.indent);
    switch (style.kind) {
      case ListingStyle::Kind::Names:
        text.append(style.prefix);
        text.append(name);
        text.append("\r\n");
        return;
      case ListingStyle::Kind::Fixed:
        AppendLine(text, clock.At(st->st_mtime), S_ISDIR(st->st_mode), static_cast<std::int64_t>(st->st_size),
                   style.prefix, name);
        return;
      case ListingStyle::Kind::Facts:
        AppendFacts(text, *st, style.facts, style.prefix, name);
        return;
    }
  }
};

ListingCursor::ListingCursor(std::unique_ptr<State> state) : state_(std::move(state)) {}
ListingCursor::~ListingCursor() = default;

std::unique_ptr<ListingCursor> ListingCursor::OpenFolder(const std::string& folder, ListingStyle style,
                                                         NameFilter filter) {
  auto state = std::make_unique<State>();
  state->dir.reset(::opendir(folder.c_str()));
  if (!state->dir) return nullptr;
  state->style = std::move(style);
  state->filter = std::move(filter);
  return std::make_unique<ListingCursor>(std::move(state));
}

std::unique_ptr<ListingCursor> ListingCursor::OpenFolder(platform::UniqueFd folder, ListingStyle style,
                                                         NameFilter filter, LinkFacts linkFacts) {
  if (!folder) return nullptr;
  auto state = std::make_unique<State>();
  state->dir.reset(::fdopendir(folder.get()));
  if (!state->dir) return nullptr;
  folder.release();  // the stream owns it now
  state->style = std::move(style);
  state->filter = std::move(filter);
  state->linkFacts = std::move(linkFacts);
  return std::make_unique<ListingCursor>(std::move(state));
}

std::unique_ptr<ListingCursor> ListingCursor::OneEntry(const struct stat& st, std::string name, ListingStyle style) {
  auto state = std::make_unique<State>();
  state->entryKnown = true;
  state->entryStat = st;
  state->entryName = std::move(name);
  state->style = std::move(style);
  return std::make_unique<ListingCursor>(std::move(state));
}

std::unique_ptr<ListingCursor> ListingCursor::OneEntry(const std::string& path, std::string name,
                                                       ListingStyle style) {
  auto state = std::make_unique<State>();
  state->entryPath = path;
  state->entryName = std::move(name);
  state->style = std::move(style);
  return std::make_unique<ListingCursor>(std::move(state));
}

bool ListingCursor::Next(std::string& text, std::size_t budget) {
  State& s = *state_;
  if (s.done) return false;
  if (!s.dir) {
    // The single entry.
    s.done = true;
    struct stat st = s.entryStat;
    if (!s.entryKnown && ::stat(s.entryPath.c_str(), &st) != 0 && ::lstat(s.entryPath.c_str(), &st) != 0) {
      return false;
    }
    s.Append(text, &st, s.entryName);
    return false;
  }
  const int dirFd = ::dirfd(s.dir.get());
  const bool namesOnly = s.style.kind == ListingStyle::Kind::Names;
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
    if (namesOnly && entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK) {
      // Names only: the directory entry says enough.
      s.Append(text, nullptr, name);
      continue;
    }
    struct stat st{};
    if (s.linkFacts) {
      // The entry itself first; a link is shown as the caller decides.
      if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      struct stat target{};
      if (S_ISLNK(st.st_mode) && s.linkFacts(name, target)) st = target;
    } else if (::fstatat(dirFd, name, &st, 0) != 0 && ::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      // Links are shown as what they point to; a dangling one as itself.
      continue;
    }
    if (S_ISDIR(st.st_mode) && name[0] == '.') continue;
    s.Append(text, &st, name);
  }
  return true;
}

std::string ListFolder(const std::string& folder, bool namesOnly, const std::function<void()>& pump) {
  std::string text;
  ListingStyle style;
  style.kind = namesOnly ? ListingStyle::Kind::Names : ListingStyle::Kind::Fixed;
  std::unique_ptr<ListingCursor> cursor = ListingCursor::OpenFolder(folder, style);
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
