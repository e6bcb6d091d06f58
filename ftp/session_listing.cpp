// Directory listings.
#include "ftp/ftp_session.h"
#include "ftp/replies.h"

namespace velto {

namespace {
std::string Line(std::string_view text) { return std::string(text) + reply::kCrLf; }
}  // namespace

std::string CFTPSession::CmdLIST(const ParsedCommand&) { return Line(reply::kNotImplemented); }
std::string CFTPSession::CmdNLST(const ParsedCommand&) { return Line(reply::kNotImplemented); }

}  // namespace velto
