#include "ftp/command_line.h"

#include <algorithm>
#include <cctype>

namespace velto {

namespace {

constexpr unsigned char kIac = 255;
constexpr unsigned char kSb = 250;
constexpr unsigned char kSe = 240;
constexpr unsigned char kWill = 251;
constexpr unsigned char kDont = 254;

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

std::string WithoutLineBreaks(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (c != '\r' && c != '\n' && c != '\0') out.push_back(c);
  }
  return out;
}

}  // namespace

ParsedCommand ParseCommand(std::string_view block) {
  ParsedCommand parsed;
  const std::string clean = WithoutLineBreaks(block);
  std::string verb = clean.substr(0, 4);
  std::transform(verb.begin(), verb.end(), verb.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  parsed.verb = std::string(TrimSpaces(verb));
  const auto space = block.find(' ');
  if (space != std::string_view::npos) {
    // Blanks are trimmed before the line end is removed, so a blank right
    // before CR LF stays part of the argument.
    parsed.argument = WithoutLineBreaks(TrimSpaces(block.substr(space)));
  }
  return parsed;
}

std::string UpperAscii(std::string text) {
  for (auto& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::vector<ControlLineFramer::Line> ControlLineFramer::Feed(std::string_view bytes) {
  std::vector<Line> out;
  for (char c : bytes) Byte(static_cast<unsigned char>(c), out);
  return out;
}

void ControlLineFramer::Byte(unsigned char c, std::vector<Line>& out) {
  switch (telnet_) {
    case Telnet::Iac:
      if (c == kIac) break;  // IAC IAC is a data byte 255
      if (c >= kWill && c <= kDont) {
        telnet_ = Telnet::Option;
      } else if (c == kSb) {
        telnet_ = Telnet::Sub;
      } else {
        telnet_ = Telnet::Data;  // IP, DM, AO, ...: two-byte commands
      }
      return;
    case Telnet::Option:
      telnet_ = Telnet::Data;
      return;
    case Telnet::Sub:
      if (c == kIac) telnet_ = Telnet::SubIac;
      return;
    case Telnet::SubIac:
      telnet_ = c == kSe ? Telnet::Data : Telnet::Sub;
      return;
    case Telnet::Data:
      if (c == kIac) {
        telnet_ = Telnet::Iac;
        return;
      }
      break;
  }
  telnet_ = Telnet::Data;

  if (c == '\n') {
    if (overflow_) {
      overflow_ = false;  // the end of the line already answered
    } else {
      line_.push_back('\n');
      out.push_back(Line{std::move(line_), false});
    }
    line_.clear();
    return;
  }
  if (overflow_) return;
  if (line_.size() >= kMaxLine) {
    // Answered at once: a client that never ends the line still hears why.
    overflow_ = true;
    line_.clear();
    out.push_back(Line{std::string(), true});
    return;
  }
  line_.push_back(static_cast<char>(c));
}

}  // namespace velto
