// Data connections and transfers.
#include "ftp/ftp_session.h"
#include "ftp/replies.h"
#include "server/globals.h"

namespace velto {

namespace {
std::string Line(std::string_view text) { return std::string(text) + reply::kCrLf; }
}  // namespace

std::string CFTPSession::CmdPORT(const ParsedCommand&) { return Line(reply::kNotImplemented); }
std::string CFTPSession::CmdPASV(const ParsedCommand&) { return Line(reply::kNotImplemented); }
std::string CFTPSession::CmdTYPE(const ParsedCommand& command) {
  if (command.argument == "A" || command.argument == "I") {
    TypeMode = command.argument;
    return Line(reply::kOk);
  }
  return Line(reply::kNotImplemented);
}
std::string CFTPSession::CmdREST(const ParsedCommand&) { return Line(reply::kNotImplemented); }
std::string CFTPSession::CmdRETR(const ParsedCommand&) { return Line(reply::kNotImplemented); }
std::string CFTPSession::CmdSTOR(const ParsedCommand&) { return Line(reply::kNotImplemented); }
std::string CFTPSession::CmdABOR(const ParsedCommand&) { return Line(reply::kAborted); }

void CFTPSession::pCommandSTOR(std::string_view) {}

bool CFTPSession::AcceptsDataConnection(std::int32_t port, const std::string& peer) const {
  (void)peer;
  return !DataPortToListenOn.empty() && DataPortToListenOn == std::to_string(port);
}

void CFTPSession::OnDataConnected(std::int32_t handle) { SocketHandleData = handle; }
void CFTPSession::OnDataConnectFailed(std::int32_t) { pendingConnect_ = 0; }
void CFTPSession::OnDataTerminated(std::int32_t handle) {
  if (SocketHandleData == handle) SocketHandleData = 0;
}
void CFTPSession::OnTransferDone(std::int32_t) {}
void CFTPSession::Close() {}

}  // namespace velto
