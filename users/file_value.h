// How a password (any byte values after encryption) is kept in one line of
// the user file: printable ASCII other than '%' and blank is written as it
// is, except a ']' as the last byte (it would end the INI section); every
// other byte becomes '%' and two upper-case hex digits. The file thus never
// holds line breaks, NUL or 8-bit bytes inside a password value.
#pragma once

#include <string>
#include <string_view>

namespace velto {

std::string EncodeFileValue(std::string_view raw);

// Inverse of EncodeFileValue. A value EncodeFileValue cannot have produced
// (a byte outside '!'..'~', or a '%' not followed by two upper-case hex
// digits) is a value in the classic form, the cipher bytes written as they
// are, and is returned unchanged.
std::string DecodeFileValue(std::string_view stored);

}  // namespace velto
