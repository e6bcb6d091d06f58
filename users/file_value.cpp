#include "users/file_value.h"

namespace velto {

namespace {

bool KeptAsIs(unsigned char c) { return c > 0x20 && c < 0x7F && c != '%'; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsEscape(std::string_view text, std::size_t at) {
  return text[at] == '%' && at + 2 < text.size() && HexDigit(text[at + 1]) >= 0 &&
         HexDigit(text[at + 2]) >= 0;
}

bool IsEncoded(std::string_view stored) {
  for (std::size_t i = 0; i < stored.size(); ++i) {
    if (stored[i] == '%') {
      if (!IsEscape(stored, i)) return false;
      i += 2;
    } else if (!KeptAsIs(static_cast<unsigned char>(stored[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string EncodeFileValue(std::string_view raw) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(raw.size() * 3);
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    const auto byte = static_cast<unsigned char>(c);
    // A value ending in "]" would end its INI section early and hide the
    // keys after it (the account's UserID among them).
    const bool endsSection = c == ']' && i + 1 == raw.size();
    if (KeptAsIs(byte) && !endsSection) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    }
  }
  return out;
}

std::string DecodeFileValue(std::string_view stored) {
  if (!IsEncoded(stored)) return std::string(stored);
  std::string out;
  out.reserve(stored.size());
  for (std::size_t i = 0; i < stored.size(); ++i) {
    if (stored[i] == '%') {
      out += static_cast<char>(HexDigit(stored[i + 1]) * 16 + HexDigit(stored[i + 2]));
      i += 2;
    } else {
      out += stored[i];
    }
  }
  return out;
}

}  // namespace velto
