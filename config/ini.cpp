#include "config/ini.h"

#include "config/file_io.h"

#include <algorithm>
#include <cerrno>
#include <initializer_list>
#include <optional>
#include <unordered_set>

namespace {

constexpr std::string_view kLineBreak = "\r\n";
constexpr std::string_view kTripleBreak = "\r\n\r\n\r\n";
constexpr std::string_view kDoubleBreak = "\r\n\r\n";
constexpr std::string_view kSectionEndMarker = "]\r\n";
constexpr std::size_t npos = std::string::npos;

// The user file holds every account's password; other files (the settings)
// are readable by everyone, as a freshly created file would be.
constexpr mode_t kPrivateFileMode = 0600;
constexpr mode_t kSharedFileMode = 0644;
constexpr std::string_view kPrivateFileSuffix = ".usr";

// Where a section lies in the text, by the store's matching rules.
struct SectionSpan {
  std::size_t header = 0;     // the "[" of "[S]" CR LF
  std::size_t body = 0;       // first byte after the header line
  std::size_t end = 0;        // the "]" ending the section, or the text's length
  bool hasEnd = false;        // false when the section runs to the end of the text
  std::size_t nextHeader = 0; // the last "[" before `end`, after the header line (when hasEnd)
  bool hasNextHeader = false;
};

std::string Concat(std::initializer_list<std::string_view> parts) {
  std::size_t size = 0;
  for (std::string_view part : parts) size += part.size();
  std::string out;
  out.reserve(size);
  for (std::string_view part : parts) out.append(part);
  return out;
}

std::optional<SectionSpan> SpanAt(const std::string& text, std::size_t header, std::string_view section) {
  SectionSpan span;
  span.header = header;
  span.body = span.header + section.size() + 2 + kLineBreak.size();

  const std::size_t marker = text.find(kSectionEndMarker, span.body);
  if (marker == npos) {
    span.end = text.size();
    return span;
  }
  span.hasEnd = true;
  span.end = marker;
  // The next section begins at the last "[" before the closing bracket. When
  // the bracket closes a value ("Dir=x]") rather than a header, there may be
  // no "[" after this header line at all.
  const std::size_t open = text.rfind('[', marker);
  span.hasNextHeader = open != npos && open >= span.body;
  if (span.hasNextHeader) span.nextHeader = open;
  return span;
}

// Start of the line holding `pos`, never before the section's first line.
std::size_t LineStart(const std::string& text, const SectionSpan& span, std::size_t pos) {
  const std::size_t lineBreak = text.rfind(kLineBreak, pos);
  const std::size_t start = lineBreak == npos ? 0 : lineBreak + kLineBreak.size();
  return start > span.body ? start : span.body;
}

// Where DeleteSection stops: the next section's "[" (the line break before
// the header being removed stays). Without any "[" after the header line
// (the end marker closes a value), the lines before the marker's line go.
std::size_t DeleteUntil(const std::string& text, const SectionSpan& span) {
  if (!span.hasEnd) return text.size();
  if (span.hasNextHeader) return span.nextHeader;
  return LineStart(text, span, span.end);
}

// Where a key line is added as the section's last line: before the line that
// holds the next section's "[". For a normal header that "[" begins its line;
// when it sits inside a value ("Name=a[b]") the new line goes before that
// whole line, so no existing line is cut in two and the new key stays inside
// the section where GetValue finds it.
std::size_t AppendPosition(const std::string& text, const SectionSpan& span) {
  return LineStart(text, span, span.hasNextHeader ? span.nextHeader : span.end);
}

// Position of the first CR LF "K=" after the header, pointing at K. Only a
// key that starts before the section's end belongs to it, so the search
// stops there unless `anywhere` asks whether a later section has the key.
std::size_t FindKey(const std::string& text, const SectionSpan& span, std::string_view key, bool anywhere = false) {
  const std::string needle = Concat({kLineBreak, key, "="});
  std::size_t found = npos;
  if (anywhere) {
    found = text.find(needle, span.header);
  } else {
    // A match starting at or after end - 2 points at or after the end.
    const std::size_t limit = std::min(text.size(), span.end + needle.size());
    found = std::string_view(text).substr(0, limit).find(needle, span.header);
    if (found != npos && found + kLineBreak.size() >= span.end) found = npos;
  }
  return found == npos ? npos : found + kLineBreak.size();
}

std::size_t LineEnd(const std::string& text, std::size_t from) {
  const std::size_t found = text.find(kLineBreak, from);
  return found == npos ? text.size() : found;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Replaces every CR LF CR LF CR LF by CR LF CR LF in one left-to-right pass,
// so four line breaks become three: repeated saves, each adding one CR LF,
// settle at no more than two empty lines.
std::string CollapseTripleBreaks(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  std::size_t from = 0;
  for (;;) {
    const std::size_t found = text.find(kTripleBreak, from);
    if (found == npos) break;
    out.append(text, from, found - from);
    out.append(kDoubleBreak);
    from = found + kTripleBreak.size();
  }
  out.append(text, from, npos);
  return out;
}

// Hand-written files often end their lines in LF alone; a file without any
// CR LF is read as if each LF were CR LF. A file that has CR LF line ends
// keeps a lone LF as a plain byte (old user files may hold one inside a
// password's cipher text) unless every lone LF is to be a line break.
std::string WithCrLf(std::string text, CIni::LoneLineFeed loneLineFeed) {
  const std::size_t firstLf = text.find('\n');
  if (firstLf == npos) return text;
  if (loneLineFeed == CIni::LoneLineFeed::kPlainByte && text.find(kLineBreak) != npos) return text;
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  out.append(text, 0, firstLf);
  for (std::size_t i = firstLf; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n' && (i == 0 || text[i - 1] != '\r')) out.push_back('\r');
    out.push_back(c);
  }
  return out;
}

}  // namespace

bool CIni::SetFileName(const std::string& path, LoneLineFeed loneLineFeed) {
  fileName_ = path;
  std::optional<std::string> text = config::ReadWholeFile(path);
  const int error = errno;
  SetContents(text ? WithCrLf(std::move(*text), loneLineFeed) : std::string());
  errno = error;
  return text || error == ENOENT || error == ENOTDIR;
}

const std::string& CIni::FileName() const { return fileName_; }

// Every "[S]" CR LF in the text, first occurrence of each name. A header can
// start at any "[" of the line its "]" CR LF ends, so every such "[" names a
// candidate. A line with very many of them is not worth indexing: the index
// then stays off and lookups search the text as they always did.
void CIni::BuildIndex() const {
  constexpr std::size_t kMaxCandidatesPerLine = 64;
  headers_.clear();
  indexUsable_ = true;
  std::size_t from = 0;
  for (;;) {
    const std::size_t marker = contents_.find(kSectionEndMarker, from);
    if (marker == npos) break;
    from = marker + 1;
    const std::size_t lineBreak = marker == 0 ? npos : contents_.rfind(kLineBreak, marker - 1);
    const std::size_t lineStart = lineBreak == npos ? 0 : lineBreak + kLineBreak.size();
    std::size_t candidates = 0;
    for (std::size_t open = contents_.find('[', lineStart); open != npos && open < marker;
         open = contents_.find('[', open + 1)) {
      if (++candidates > kMaxCandidatesPerLine) {
        headers_.clear();
        indexUsable_ = false;
        indexed_ = true;
        return;
      }
      headers_.emplace(contents_.substr(open + 1, marker - open - 1), open);
    }
  }
  indexed_ = true;
}

std::size_t CIni::FindHeader(std::string_view section) const {
  if (!indexed_) BuildIndex();
  std::size_t header = npos;
  if (indexUsable_ && section.find(kLineBreak) == std::string_view::npos) {
    const auto it = headers_.find(std::string(section));
    if (it != headers_.end()) header = it->second;
  } else {
    header = contents_.find(Concat({"[", section, "]", kLineBreak}));
  }
  return header;
}

namespace {

std::optional<SectionSpan> Span(const std::string& text, std::size_t header, std::string_view section) {
  if (header == npos) return std::nullopt;
  return SpanAt(text, header, section);
}

}  // namespace

std::string CIni::GetValue(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const {
  const std::optional<SectionSpan> span = Span(contents_, FindHeader(section), section);
  if (!span) return std::string(defaultValue);
  const std::size_t keyAt = FindKey(contents_, *span, key);
  if (keyAt == npos) return std::string(defaultValue);
  const std::size_t valueAt = keyAt + key.size() + 1;
  return contents_.substr(valueAt, LineEnd(contents_, valueAt) - valueAt);
}

void CIni::WriteValue(std::string_view section, std::string_view key, std::string_view value,
                      bool writeToDisk) {
  const std::optional<SectionSpan> span = Span(contents_, FindHeader(section), section);
  const std::string bareHeader = Concat({"[", section, "]"});
  if (!span && EndsWith(contents_, bareHeader)) {
    // The text ends in this header without its line break: the break
    // completes it. A second header after it would leave the first one
    // matching with an empty body, and the new key would never be found.
    contents_.append(Concat({kLineBreak, key, "=", value, kLineBreak}));
    indexed_ = false;
  } else if (!span) {
    // Appending leaves every header before it where it was, unless the text
    // ends in "]": the line break then completes that last line, which may
    // be another section's header.
    const bool completesHeader = EndsWith(contents_, "]");
    const std::size_t header = contents_.size() + kLineBreak.size();
    contents_.append(Concat({kLineBreak, bareHeader, kLineBreak, key, "=", value, kLineBreak}));
    if (indexed_ && indexUsable_ && !completesHeader && section.find(kLineBreak) == std::string_view::npos &&
        section.find_first_of("[]") == std::string_view::npos && key.find(']') == std::string_view::npos &&
        value.find(']') == std::string_view::npos) {
      headers_.emplace(std::string(section), header);
    } else {
      indexed_ = false;
    }
  } else {
    const std::size_t keyAt = FindKey(contents_, *span, key);
    const std::string line = Concat({key, "=", value, kLineBreak});
    if (keyAt != npos) {
      const std::size_t valueAt = keyAt + key.size() + 1;
      const std::size_t length = LineEnd(contents_, valueAt) - valueAt;
      // Writing the same value again changes nothing (and keeps the index).
      if (contents_.compare(valueAt, length, value) == 0) {
        if (writeToDisk) WriteToDisk();
        return;
      }
      contents_.replace(valueAt, length, value);
    } else if (FindKey(contents_, *span, key, true) == npos) {
      contents_.insert(span->body, line);
    } else {
      // The key exists only in a later section: this section gets its own
      // line, as its last one.
      contents_.insert(AppendPosition(contents_, *span), line);
    }
    indexed_ = false;
  }
  if (writeToDisk) WriteToDisk();
}

void CIni::DeleteSection(std::string_view section, bool writeToDisk) {
  const std::optional<SectionSpan> span = Span(contents_, FindHeader(section), section);
  if (span) {
    contents_.erase(span->header, DeleteUntil(contents_, *span) - span->header);
    indexed_ = false;
  }
  if (writeToDisk) WriteToDisk();
}

void CIni::DeleteKey(std::string_view section, std::string_view key, bool writeToDisk) {
  const std::optional<SectionSpan> span = Span(contents_, FindHeader(section), section);
  if (span) {
    const std::size_t keyAt = FindKey(contents_, *span, key);
    if (keyAt != npos) {
      const std::size_t lineEnd = LineEnd(contents_, keyAt);
      const std::size_t until = lineEnd == contents_.size() ? lineEnd : lineEnd + kLineBreak.size();
      contents_.erase(keyAt, until - keyAt);
      indexed_ = false;
    }
  }
  if (writeToDisk) WriteToDisk();
}

namespace {

// A section's stretch of text, from its header to where DeleteSection
// would stop; `clean` when that stop is a line start, so the stretch can be
// edited on its own.
struct Stretch {
  std::size_t from = 0;
  std::size_t to = 0;
  std::size_t index = 0;  // position in the caller's list
};

bool AtLineStart(const std::string& text, std::size_t pos) {
  return pos == 0 || pos == text.size() || (pos >= 2 && text.compare(pos - 2, 2, kLineBreak) == 0);
}

// Whether a section's stretch can be edited or removed on its own: it runs
// from the start of the header's line to the start of the line whose "]"
// ends the section, so it holds every key line of the section and removing
// it joins no two partial lines. It does not when the header stands inside
// a line, when that "]" closes a value, or when the next "[" stands on an
// earlier line or within one.
bool WholeLines(const std::string& text, const SectionSpan& span, std::size_t until) {
  if (!AtLineStart(text, span.header)) return false;
  if (!span.hasEnd) return true;
  return span.hasNextHeader && AtLineStart(text, until) && text.find(kLineBreak, until) > span.end;
}

}  // namespace

void CIni::WriteSections(const std::vector<SectionValues>& sections) {
  // Where each existing section lies, all found before anything changes.
  std::vector<Stretch> stretches;
  std::vector<const SectionValues*> added;
  for (std::size_t i = 0; i < sections.size(); ++i) {
    const std::optional<SectionSpan> span =
        Span(contents_, FindHeader(sections[i].section), sections[i].section);
    if (!span) {
      added.push_back(&sections[i]);
      continue;
    }
    const std::size_t until = DeleteUntil(contents_, *span);
    if (!WholeLines(contents_, *span, until)) {
      for (const auto& entry : sections) {
        for (const auto& [key, value] : entry.values) WriteValue(entry.section, key, value);
      }
      return;
    }
    stretches.push_back({span->header, until, i});
  }
  std::sort(stretches.begin(), stretches.end(), [](const Stretch& a, const Stretch& b) { return a.from < b.from; });
  for (std::size_t i = 1; i < stretches.size(); ++i) {
    if (stretches[i].from < stretches[i - 1].to) {
      // The same section named twice: nothing to gain from a single pass.
      for (const auto& entry : sections) {
        for (const auto& [key, value] : entry.values) WriteValue(entry.section, key, value);
      }
      return;
    }
  }
  std::string out;
  out.reserve(contents_.size() + 64 * sections.size());
  std::size_t copied = 0;
  CIni piece;
  for (const Stretch& stretch : stretches) {
    out.append(contents_, copied, stretch.from - copied);
    piece.SetContents(contents_.substr(stretch.from, stretch.to - stretch.from));
    const SectionValues& entry = sections[stretch.index];
    for (const auto& [key, value] : entry.values) piece.WriteValue(entry.section, key, value);
    out += piece.Contents();
    copied = stretch.to;
  }
  out.append(contents_, copied, npos);
  // New sections are laid out on their own and appended, as writing them
  // key by key at the end would.
  std::unordered_set<std::string_view> names;
  std::vector<const SectionValues*> repeated;
  for (const SectionValues* entry : added) {
    // A text ending in the section's bare header is completed key by key.
    if (!names.insert(entry->section).second || EndsWith(out, Concat({"[", entry->section, "]"}))) {
      repeated.push_back(entry);
      continue;
    }
    piece.SetContents({});
    for (const auto& [key, value] : entry->values) piece.WriteValue(entry->section, key, value);
    out += piece.Contents();
  }
  SetContents(std::move(out));
  for (const SectionValues* entry : repeated) {
    for (const auto& [key, value] : entry->values) WriteValue(entry->section, key, value);
  }
}

void CIni::DeleteSections(const std::vector<std::string>& sections) {
  std::vector<Stretch> stretches;
  for (std::size_t i = 0; i < sections.size(); ++i) {
    const std::optional<SectionSpan> span = Span(contents_, FindHeader(sections[i]), sections[i]);
    if (!span) continue;
    const std::size_t until = DeleteUntil(contents_, *span);
    if (!WholeLines(contents_, *span, until)) {
      for (const auto& section : sections) DeleteSection(section);
      return;
    }
    stretches.push_back({span->header, until, i});
  }
  std::sort(stretches.begin(), stretches.end(), [](const Stretch& a, const Stretch& b) { return a.from < b.from; });
  for (std::size_t i = 1; i < stretches.size(); ++i) {
    if (stretches[i].from < stretches[i - 1].to) {
      for (const auto& section : sections) DeleteSection(section);
      return;
    }
  }
  if (stretches.empty()) return;
  std::string out;
  out.reserve(contents_.size());
  std::size_t copied = 0;
  for (const Stretch& stretch : stretches) {
    out.append(contents_, copied, stretch.from - copied);
    copied = stretch.to;
  }
  out.append(contents_, copied, npos);
  SetContents(std::move(out));
}

bool CIni::WriteToDisk() {
  std::string collapsed = CollapseTripleBreaks(contents_);
  if (collapsed.size() != contents_.size()) SetContents(std::move(collapsed));
  if (fileName_.empty()) return false;
  const mode_t mode = EndsWith(fileName_, kPrivateFileSuffix) ? kPrivateFileMode : kSharedFileMode;
  return config::ReplaceFile(fileName_, Concat({contents_, kLineBreak}), mode);
}

void CIni::CloseFile() {
  fileName_.clear();
  SetContents({});
}

const std::string& CIni::Contents() const { return contents_; }

void CIni::SetContents(std::string text) {
  contents_ = std::move(text);
  indexed_ = false;
}
