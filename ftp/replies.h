// Every reply text of the command interpreter, in one place.
#pragma once

#include <string>
#include <string_view>

namespace velto::reply {

inline constexpr const char* kCrLf = "\r\n";
inline constexpr const char* kNotLoggedOn = "530 Invalid user ID and/or password. Cannot log in.";
inline constexpr const char* kConcurrent = "530 User already logged in.  Concurrent logons not allowed.";
inline constexpr const char* kNeedPassword = "331 OK need password.";
inline constexpr const char* kNotImplemented = "504 That command is not implemented.";
inline constexpr const char* kOk = "200 OK";
// The system type first, so clients pick the parser for LIST's format.
inline constexpr const char* kSyst = "215 Windows_NT";
inline constexpr const char* kActionOk = "250 Requested file action completed successfully.";
inline constexpr const char* kFileNotFound = "550 Requested file action not taken.  File not found.";
inline constexpr const char* kNoAccess = "550 Requested file action not taken---user does not have access.";
inline constexpr const char* kActionFailed = "550 Requested file action not taken---file action failed.";
inline constexpr const char* kPathNotFound = "550 Requested file action not taken.  File or path not found.";
inline constexpr const char* kSyntaxMissingOrIncorrect = "501 Syntax error--missing or incorrect parameters or arguments.";
inline constexpr const char* kSyntaxMissing = "501 Syntax error--missing parameters or arguments.";
inline constexpr const char* kPending = "350 Requested file action pending further information.";
inline constexpr const char* kFileError = "450 Requested action not taken: File error.";
inline constexpr const char* kOpening = "150 Opening data connection.";
inline constexpr const char* kLocalError = "451 Requested action aborted: local error in processing.";
inline constexpr const char* kCannotDelete = "451 Requested action aborted: unable to delete existing file.";
inline constexpr const char* kTransferCompleted = "226 Transfer completed.";
inline constexpr const char* kAborted = "226 File transfer aborted.";
inline constexpr const char* kCantOpenData = "425 Can't open data connection.";
inline constexpr const char* kIllegalPort = "500 Illegal PORT command.";
inline constexpr const char* kLineTooLong = "500 Command line too long.";
inline constexpr const char* kAbortedByPeer = "426 Connection closed; transfer aborted.";
inline constexpr const char* kTimeout = "421 Timeout.";
inline constexpr const char* kLogonTimeout = "421 Log-on time-out.";
inline constexpr const char* kBanned = "421 Too many failed log-ons from your address; try again later.";
inline constexpr const char* kTooManyFromAddress = "421 Too many connections from your address.";
inline constexpr const char* kTransferRunning = "425 A transfer is already running.";
inline constexpr const char* kTimeNotStored = "501 The file system cannot hold that time.";
inline constexpr const char* kNotRegularFile = "550 Requested file action not taken---not a regular file.";
inline constexpr const char* kBadRestart = "554 Requested action not taken: invalid REST parameter.";
inline constexpr const char* kNoStorageNeeded = "202 Command not implemented, superfluous at this site.";
inline constexpr const char* kEpsvAll = "200 EPSV ALL accepted.";
inline constexpr const char* kEpsvOnly = "503 Only EPSV may set up data connections after EPSV ALL.";
inline constexpr const char* kIllegalEprt = "500 Illegal EPRT command.";
inline constexpr const char* kOnlyIpv4 = "522 Network protocol not supported, use (1)";
inline constexpr const char* kOnlyIpv6 = "522 Network protocol not supported, use (2)";
// PASV and PORT carry IPv4 addresses only: on an IPv6 control connection
// the client is sent to their extended forms.
inline constexpr const char* kPasvIpv4Only = "522 PASV names IPv4 addresses only, use EPSV.";
inline constexpr const char* kPortIpv4Only = "522 PORT names IPv4 addresses only, use EPRT.";
inline constexpr const char* kChmodDone = "200 SITE CHMOD command successful.";
inline constexpr const char* kStatusEnd = "213 End of status.";
// FTPS (RFC 4217).
inline constexpr const char* kAuthTls = "234 AUTH TLS successful";
inline constexpr const char* kTlsUnavailable = "431 TLS is not available now.";
inline constexpr const char* kUnknownMechanism = "504 Unknown security mechanism.";
inline constexpr const char* kAlreadySecured = "503 The control connection is already secured.";
inline constexpr const char* kPbszNeedsAuth = "503 PBSZ needs AUTH TLS first.";
inline constexpr const char* kPbszOk = "200 PBSZ=0";
inline constexpr const char* kProtNeedsPbsz = "503 PROT needs PBSZ first.";
inline constexpr const char* kProtPrivate = "200 Protection level set to Private.";
inline constexpr const char* kProtClear = "200 Protection level set to Clear.";
inline constexpr const char* kProtUnsupported = "536 Requested PROT level not supported by mechanism.";
inline constexpr const char* kProtUnknown = "504 Unknown protection level.";
inline constexpr const char* kCccNotSecured = "533 The control connection is not secured.";
inline constexpr const char* kCccRefused = "534 The control connection stays encrypted.";
inline constexpr const char* kTlsRequired = "530 TLS is required to log on: send AUTH TLS first.";
inline constexpr const char* kDataNeedsProt = "521 Data connection cannot be opened with this PROT setting: send PROT P.";

// A reply line: the text and CR LF.
inline std::string Line(std::string_view text) { return std::string(text) + kCrLf; }

// A path inside a reply, in double quotes; a quote in it is doubled
// (RFC 959), so clients find where the path ends.
inline std::string Quoted(std::string_view path) {
  std::string out = "\"";
  for (char c : path) {
    out.push_back(c);
    if (c == '"') out.push_back('"');
  }
  return out + "\"";
}

// Account ids compare without regard to ASCII letter case.
inline std::string LowerId(std::string text) {
  for (auto& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace velto::reply
