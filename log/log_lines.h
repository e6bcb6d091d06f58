// The texts of the two logs and of the time-stamped activity lines. Pure
// functions, so every byte of a line can be checked without a clock or a file.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace velto {

// "MM-DD-YYYY HH:MM:SS AM" for a broken-down local time: 12-hour clock with
// midnight and noon shown as 12, designator "AM" or "PM".
std::string FormatLogTime(const std::tm& when);

// The current local time as FormatLogTime does.
std::string LogTimeNow();

// Time stamp, blank, text.
std::string TimeStampText(std::string_view vsText, const std::tm& when);
std::string TimeStampText(std::string_view vsText);

// Removes line breaks so that an entry stays on one line: every CR LF pair,
// then any CR or LF left on its own.
std::string RemoveLineBreaks(std::string_view text);

// Text from clients made safe to show on a terminal or in a window: every
// control character (C0, DEL, and C1 as UTF-8 spells it) and every byte that
// is not part of valid UTF-8 becomes "\xHH" (two lower-case hex digits, e.g.
// "\x1b"), and a backslash becomes "\\", so each escape reads back to one
// byte. Printable text, UTF-8 included, stays as it is. With kKeep, CR and
// LF stay too (text that carries its own line ends).
enum class LineBreaks { kEscape, kKeep };
std::string EscapeControls(std::string_view text, LineBreaks lineBreaks = LineBreaks::kEscape);

// "<stamp>,<user>,<command>,<server address>,<server port>,<client address>,<client port>".
// Arguments come in the order user, command, server address, client address,
// server port, client port; the line writes the ports beside their addresses.
// Line breaks are removed from the user id and the command text, other
// control characters escaped (EscapeControls), and the argument of a PASS
// command is written as "****": the access log is a plain text file and
// must not collect passwords.
std::string AccessLogLine(std::string_view vsUserID, std::string_view vsCommand,
                          std::string_view vsServerAddress, std::string_view vsClientAddress,
                          std::string_view vsServerPort, std::string_view vsClientPort,
                          const std::tm& when);
std::string AccessLogLine(std::string_view vsUserID, std::string_view vsCommand,
                          std::string_view vsServerAddress, std::string_view vsClientAddress,
                          std::string_view vsServerPort, std::string_view vsClientPort);

// "<stamp> <description> - Error #<number>" plus " (<context>)" when the
// context is not empty. Line breaks are removed from the description (which
// may quote a client's path), other control characters escaped.
std::string ErrorLogLine(std::string_view vsNumber, std::string_view vsDescription,
                         std::string_view vsContext, const std::tm& when);
std::string ErrorLogLine(std::string_view vsNumber, std::string_view vsDescription,
                         std::string_view vsContext);

}  // namespace velto
