// Turning the bytes of a control connection into commands: Telnet control
// sequences are stripped, lines are framed at LF, and each line is split
// into verb and argument by the classic rules.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velto {

struct ParsedCommand {
  std::string verb;      // first four characters, upper-cased, blanks trimmed
  std::string argument;  // from the first space; blanks trimmed, then CR/LF/NUL removed
};

// Parses one received command line (which may still carry its CR LF).
ParsedCommand ParseCommand(std::string_view block);

// ASCII letters upper-cased, every other byte kept (names stay bytes).
std::string UpperAscii(std::string text);

// Collects a control connection's bytes and hands out complete lines, each
// with its line end as received ("...\r\n" or "...\n"), so the parser sees
// exactly what the client sent for that command.
class ControlLineFramer {
 public:
  static constexpr std::size_t kMaxLine = 4096;

  struct Line {
    std::string text;      // the line with its terminator
    bool tooLong = false;  // over-long line, dropped up to its end: answer 500
  };

  // Appends received bytes; returns the lines completed by them.
  std::vector<Line> Feed(std::string_view bytes);

  // Bytes of an incomplete line waiting for its end.
  std::size_t Pending() const { return line_.size(); }

 private:
  enum class Telnet { Data, Iac, Option, Sub, SubIac };

  void Byte(unsigned char c, std::vector<Line>& out);

  Telnet telnet_ = Telnet::Data;
  std::string line_;
  bool overflow_ = false;  // discarding the rest of an over-long line
};

}  // namespace velto
