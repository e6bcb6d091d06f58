// The program keeps text as bytes; windows show QString. Program texts and
// file names are UTF-8, text that came off the wire is 8-bit, so bytes that
// are not valid UTF-8 are shown one character per byte.
#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace velto {

QString ToQt(std::string_view text);
std::string FromQt(const QString& text);

}  // namespace velto
