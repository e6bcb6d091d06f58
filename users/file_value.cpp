#include "users/file_value.h"

namespace velto {

namespace {

bool KeptAsIs(unsigned char c) { return c > 0x20 && c < 0x7F && c != '%'; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string EncodeFileValue(std::string_view raw) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(raw.size() * 3);
  for (const char c : raw) {
    const auto byte = static_cast<unsigned char>(c);
    if (KeptAsIs(byte)) {
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
  std::string out;
  out.reserve(stored.size());
  for (std::size_t i = 0; i < stored.size(); ++i) {
    if (stored[i] == '%' && i + 2 < stored.size() && HexDigit(stored[i + 1]) >= 0 &&
        HexDigit(stored[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(stored[i + 1]) * 16 + HexDigit(stored[i + 2]));
      i += 2;
    } else {
      out += stored[i];
    }
  }
  return out;
}

}  // namespace velto
