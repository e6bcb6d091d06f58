#include "log/log_lines.h"

#include <cctype>
#include <cstdio>

namespace velto {

namespace {

std::tm LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) {
    // No usable local time zone: fall back to UTC rather than a zeroed date.
    gmtime_r(&now, &local);
  }
  return local;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool StartsWithPassVerb(std::string_view line) {
  std::size_t pos = 0;
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  const std::string_view verb = line.substr(pos, 4);
  if (verb.size() != 4) return false;
  for (std::size_t i = 0; i < 4; ++i) {
    if (std::toupper(static_cast<unsigned char>(verb[i])) != "PASS"[i]) return false;
  }
  return pos + 4 == line.size() || IsBlank(line[pos + 4]);
}

// One received line with a PASS argument replaced; other lines unchanged.
std::string MaskedLine(std::string_view line) {
  if (!StartsWithPassVerb(line)) return std::string(line);
  std::size_t verbEnd = 0;
  while (IsBlank(line[verbEnd])) ++verbEnd;
  verbEnd += 4;
  std::string out(line.substr(0, verbEnd));
  if (verbEnd < line.size()) out += " ****";
  return out;
}

// A received block may carry several commands; mask each before the breaks go.
std::string MaskPasswords(std::string_view block) {
  std::string out;
  std::size_t start = 0;
  while (start <= block.size()) {
    const std::size_t end = block.find_first_of("\r\n", start);
    const std::size_t stop = end == std::string_view::npos ? block.size() : end;
    out += MaskedLine(block.substr(start, stop - start));
    if (end == std::string_view::npos) break;
    out += block[end];
    start = end + 1;
  }
  return out;
}

// Length of the valid UTF-8 sequence at `pos` (1 to 4), or 0 when the byte
// there does not start one: no overlong forms, surrogates or values past
// U+10FFFF.
std::size_t Utf8Length(std::string_view text, std::size_t pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xbf;
  if (lead < 0x80) return 1;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    if (lead == 0xe0) low = 0xa0;
    if (lead == 0xed) high = 0x9f;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    if (lead == 0xf0) low = 0x90;
    if (lead == 0xf4) high = 0x8f;
  } else {
    return 0;
  }
  if (pos + length > text.size()) return 0;
  if (byte(pos + 1) < low || byte(pos + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(pos + i) < 0x80 || byte(pos + i) > 0xbf) return 0;
  }
  return length;
}

void AppendHexEscape(std::string& out, unsigned char c) {
  constexpr char kDigits[] = "0123456789abcdef";
  out += "\\x";
  out += kDigits[c >> 4];
  out += kDigits[c & 0x0f];
}

}  // namespace

std::string EscapeControls(std::string_view text, LineBreaks lineBreaks) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = Utf8Length(text, i);
    const bool keptBreak = lineBreaks == LineBreaks::kKeep && (c == '\r' || c == '\n');
    // U+0080..U+009F are the C1 controls (0xc2 0x80..0x9f).
    const bool c1 = length == 2 && c == 0xc2 && static_cast<unsigned char>(text[i + 1]) <= 0x9f;
    if (c == '\\') {
      out += "\\\\";
      ++i;
    } else if (length == 0 || c1 || ((c < 0x20 || c == 0x7f) && !keptBreak)) {
      // One byte at a time: the rest of a C1 pair is escaped on its own.
      AppendHexEscape(out, c);
      ++i;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
  return out;
}

std::string FormatLogTime(const std::tm& when) {
  int hour12 = when.tm_hour % 12;
  if (hour12 == 0) hour12 = 12;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%02d-%02d-%04d %02d:%02d:%02d %s", when.tm_mon + 1,
                when.tm_mday, when.tm_year + 1900, hour12, when.tm_min, when.tm_sec,
                when.tm_hour < 12 ? "AM" : "PM");
  return buffer;
}

std::string LogTimeNow() { return FormatLogTime(LocalNow()); }

std::string TimeStampText(std::string_view vsText, const std::tm& when) {
  std::string line = FormatLogTime(when);
  line += ' ';
  line += vsText;
  return line;
}

std::string TimeStampText(std::string_view vsText) { return TimeStampText(vsText, LocalNow()); }

std::string RemoveLineBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') continue;
    out += text[i];
  }
  return out;
}

std::string AccessLogLine(std::string_view vsUserID, std::string_view vsCommand,
                          std::string_view vsServerAddress, std::string_view vsClientAddress,
                          std::string_view vsServerPort, std::string_view vsClientPort,
                          const std::tm& when) {
  std::string line = FormatLogTime(when);
  line += ',';
  line += EscapeControls(RemoveLineBreaks(vsUserID));
  line += ',';
  line += EscapeControls(RemoveLineBreaks(MaskPasswords(vsCommand)));
  line += ',';
  line += vsServerAddress;
  line += ',';
  line += vsServerPort;
  line += ',';
  line += vsClientAddress;
  line += ',';
  line += vsClientPort;
  return line;
}

std::string AccessLogLine(std::string_view vsUserID, std::string_view vsCommand,
                          std::string_view vsServerAddress, std::string_view vsClientAddress,
                          std::string_view vsServerPort, std::string_view vsClientPort) {
  return AccessLogLine(vsUserID, vsCommand, vsServerAddress, vsClientAddress, vsServerPort,
                       vsClientPort, LocalNow());
}

std::string ErrorLogLine(std::string_view vsNumber, std::string_view vsDescription,
                         std::string_view vsContext, const std::tm& when) {
  std::string line = FormatLogTime(when);
  line += ' ';
  line += EscapeControls(RemoveLineBreaks(vsDescription));
  line += " - Error #";
  line += vsNumber;
  if (!vsContext.empty()) {
    line += " (";
    line += vsContext;
    line += ')';
  }
  return line;
}

std::string ErrorLogLine(std::string_view vsNumber, std::string_view vsDescription,
                         std::string_view vsContext) {
  return ErrorLogLine(vsNumber, vsDescription, vsContext, LocalNow());
}

}  // namespace velto
