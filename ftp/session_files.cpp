// Navigation and file management commands.
#include "ftp/directory.h"
#include "ftp/ftp_session.h"
#include "ftp/replies.h"

namespace velto {

namespace {
std::string Line(std::string_view text) { return std::string(text) + reply::kCrLf; }
}  // namespace

std::string CFTPSession::CmdCWD(const ParsedCommand&) { return Line(reply::kNotImplemented); }
std::string CFTPSession::CmdCD(const ParsedCommand&) { return Line(reply::kSyntaxMissingOrIncorrect); }
std::string CFTPSession::CmdCDUP(const ParsedCommand&) { return Line(reply::kNotImplemented); }
std::string CFTPSession::CmdPWD(const ParsedCommand&) {
  return Line("257 Remote directory is \"" + directory_->CurrentDirectory() + "\"");
}
std::string CFTPSession::CmdMKD(const ParsedCommand&) { return Line(reply::kNotImplemented); }
std::string CFTPSession::CmdRMD(const ParsedCommand&) { return Line(reply::kNotImplemented); }
std::string CFTPSession::CmdDELE(const ParsedCommand&) { return Line(reply::kNotImplemented); }
std::string CFTPSession::CmdRNFR(const ParsedCommand&) { return Line(reply::kNotImplemented); }
std::string CFTPSession::CmdRNTO(const ParsedCommand&) { return Line(reply::kNotImplemented); }

}  // namespace velto
