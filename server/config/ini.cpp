#include "server/config/ini.h"

#include "server/config/file_io.h"

#include <initializer_list>
#include <optional>

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

std::optional<SectionSpan> FindSection(const std::string& text, std::string_view section) {
  const std::string header = Concat({"[", section, "]", kLineBreak});
  SectionSpan span;
  span.header = text.find(header);
  if (span.header == npos) return std::nullopt;
  span.body = span.header + header.size();

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

// Position of the first CR LF "K=" after the header, pointing at K.
std::size_t FindKey(const std::string& text, const SectionSpan& span, std::string_view key) {
  const std::string needle = Concat({kLineBreak, key, "="});
  const std::size_t found = text.find(needle, span.header);
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

}  // namespace

void CIni::SetFileName(const std::string& path) {
  fileName_ = path;
  std::optional<std::string> text = config::ReadWholeFile(path);
  contents_ = text ? std::move(*text) : std::string();
}

const std::string& CIni::FileName() const { return fileName_; }

std::string CIni::GetValue(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const {
  const std::optional<SectionSpan> span = FindSection(contents_, section);
  if (!span) return std::string(defaultValue);
  const std::size_t keyAt = FindKey(contents_, *span, key);
  if (keyAt == npos || keyAt >= span->end) return std::string(defaultValue);
  const std::size_t valueAt = keyAt + key.size() + 1;
  return contents_.substr(valueAt, LineEnd(contents_, valueAt) - valueAt);
}

void CIni::WriteValue(std::string_view section, std::string_view key, std::string_view value,
                      bool writeToDisk) {
  const std::optional<SectionSpan> span = FindSection(contents_, section);
  if (!span) {
    contents_.append(Concat({kLineBreak, "[", section, "]", kLineBreak, key, "=", value, kLineBreak}));
  } else {
    const std::size_t keyAt = FindKey(contents_, *span, key);
    const std::string line = Concat({key, "=", value, kLineBreak});
    if (keyAt == npos) {
      contents_.insert(span->body, line);
    } else if (keyAt < span->end) {
      const std::size_t valueAt = keyAt + key.size() + 1;
      contents_.replace(valueAt, LineEnd(contents_, valueAt) - valueAt, value);
    } else {
      // The key exists only in a later section: this section gets its own
      // line, as its last one.
      contents_.insert(AppendPosition(contents_, *span), line);
    }
  }
  if (writeToDisk) WriteToDisk();
}

void CIni::DeleteSection(std::string_view section, bool writeToDisk) {
  const std::optional<SectionSpan> span = FindSection(contents_, section);
  if (span) {
    contents_.erase(span->header, DeleteUntil(contents_, *span) - span->header);
  }
  if (writeToDisk) WriteToDisk();
}

void CIni::DeleteKey(std::string_view section, std::string_view key, bool writeToDisk) {
  const std::optional<SectionSpan> span = FindSection(contents_, section);
  if (span) {
    const std::size_t keyAt = FindKey(contents_, *span, key);
    if (keyAt != npos && keyAt < span->end) {
      const std::size_t lineEnd = LineEnd(contents_, keyAt);
      const std::size_t until = lineEnd == contents_.size() ? lineEnd : lineEnd + kLineBreak.size();
      contents_.erase(keyAt, until - keyAt);
    }
  }
  if (writeToDisk) WriteToDisk();
}

bool CIni::WriteToDisk() {
  contents_ = CollapseTripleBreaks(contents_);
  if (fileName_.empty()) return false;
  const mode_t mode = EndsWith(fileName_, kPrivateFileSuffix) ? kPrivateFileMode : kSharedFileMode;
  return config::ReplaceFile(fileName_, Concat({contents_, kLineBreak}), mode);
}

void CIni::CloseFile() {
  fileName_.clear();
  contents_.clear();
}

const std::string& CIni::Contents() const { return contents_; }

void CIni::SetContents(std::string text) { contents_ = std::move(text); }
