// FTPS on the control connection (RFC 4217): AUTH, PBSZ, PROT and CCC, and
// the policies that demand TLS for log-on and for data. The host holds the
// TLS library; the session decides what is allowed and asks.
//
// A server without a certificate configured answers these commands exactly
// as it did before it knew TLS.
#include "ftp/ftp_session.h"
#include "ftp/ftp_sessions.h"
#include "ftp/replies.h"
#include "users/ftp_users.h"

#include <charconv>

namespace velto {

namespace {

using reply::Line;

// PBSZ's argument: a decimal number that fits in 32 bits (RFC 2228).
bool BufferSize(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

bool CFTPSession::TlsOffered() const {
  return controlSecured_ || host_->TlsAvailable() || !Options().TLSCertificateFile.empty();
}

// AUTH TLS (SSL and TLS-C are older names for the same): 234 in clear, then
// the handshake.
std::string CFTPSession::CmdAUTH(const ParsedCommand& command) {
  if (!TlsOffered()) return Line(reply::kNotImplemented);
  if (controlSecured_) return Line(reply::kAlreadySecured);
  const std::string mechanism = UpperAscii(command.argument);
  if (mechanism != "TLS" && mechanism != "SSL" && mechanism != "TLS-C") return Line(reply::kUnknownMechanism);
  // A certificate is configured but did not load.
  if (!host_->TlsAvailable()) return Line(reply::kTlsUnavailable);
  host_->StartControlTls(Line(reply::kAuthTls));
  controlSecured_ = true;
  // Whatever came behind AUTH came in clear, where anyone on the path could
  // have added to it: none of it is ever taken as a command.
  queued_.clear();
  framer_ = ControlLineFramer();
  RestartLogOn();
  return {};
}

// An accepted AUTH ends what was authorised in clear (RFC 2228): a logged-on
// client logs on again, and the name it gave is forgotten.
void CFTPSession::RestartLogOn() {
  SetLoggedOn(false);
  UserID.clear();
  renameFromPath_.clear();
  ArmLogonTimer();
}

// PBSZ n: TLS protects the stream itself, so any size is answered with 0.
std::string CFTPSession::CmdPBSZ(const ParsedCommand& command) {
  if (!TlsOffered()) return Line(reply::kNotImplemented);
  if (!controlSecured_) return Line(reply::kPbszNeedsAuth);
  if (!BufferSize(command.argument)) return Line(reply::kSyntaxMissingOrIncorrect);
  pbszDone_ = true;
  return Line(reply::kPbszOk);
}

// PROT P or C: data connections opened from now on are encrypted or clear.
std::string CFTPSession::CmdPROT(const ParsedCommand& command) {
  if (!TlsOffered()) return Line(reply::kNotImplemented);
  if (!pbszDone_) return Line(reply::kProtNeedsPbsz);
  const std::string level = UpperAscii(command.argument);
  if (level == "P" || level == "C") {
    dataProtected_ = level == "P";
    host_->SetDataProtection(dataProtected_);
    return Line(dataProtected_ ? reply::kProtPrivate : reply::kProtClear);
  }
  // Safe and Confidential are levels TLS does not have.
  if (level == "S" || level == "E") return Line(reply::kProtUnsupported);
  return Line(reply::kProtUnknown);
}

// CCC: the control connection never goes back to clear (RFC 4217 section 6:
// 533 while it is not secured, 534 refused by policy).
std::string CFTPSession::CmdCCC(const ParsedCommand&) {
  return Line(controlSecured_ ? reply::kCccRefused : reply::kCccNotSecured);
}

bool CFTPSession::LogonNeedsTls(const std::string& id) const {
  if (controlSecured_) return false;
  if (Options().TLSRequiredForLogon) return true;
  const CFTPUsers* users = table_.Services().users;
  return users != nullptr && users->pExists(id) && users->ItemByKey(id).RequireTLS;
}

// Refused at the command that would move data, before its 150 and before
// anything on disk changes (RFC 4217's 521).
std::string CFTPSession::DataRefusal() const {
  if (!Options().TLSRequiredForData || dataProtected_) return {};
  return Line(reply::kDataNeedsProt);
}

}  // namespace velto
