// The server-wide options every FTP session reads, with their defaults.
#pragma once

#include <cstdint>
#include <string>

namespace velto {

struct SessionOptions {
  std::string BannerWelcome;
  std::string BannerExit = "Goodbye.";
  std::string BannerMaxUsers = "Maximum connections reached.";
  // Text as stored; empty or non-numeric counts as 3.
  std::string MaxLogonAttempts = "3";
  bool AllowAnonymousLogons = false;
  bool UseNTAuthentication = false;
  std::int32_t Timeout = 600000;  // ms of idleness; below 1 = never
  std::int32_t MaxUsers = 10;

  // Guessing and strangers.
  std::int32_t FailedLogonDelay = 1000;    // ms before a failed PASS is answered, times the failures; 0 = off
  std::int32_t BanFailedLogons = 0;        // failed log-ons from one address that ban it; 0 = off
  std::int32_t BanTime = 600000;           // ms: the window those failures fall in, and the ban
  std::int32_t LogonTimeout = 60000;       // ms a connection may stay without log-on; 0 = off
  std::int32_t MaxConnectionsPerIP = 0;    // control connections per client address; 0 = off

  // A new upload is written under a temporary name and takes its name only
  // once complete, so a failed one leaves the old file as it was.
  bool AtomicUploads = false;

  // FTPS. The certificate file as configured: when it is empty the server
  // offers no TLS at all and the security commands answer as they always
  // did; when it is set but the host holds no usable credentials, AUTH
  // says the resource is missing.
  std::string TLSCertificateFile;
  bool TLSRequiredForLogon = false;  // USER/PASS only over an encrypted control connection
  bool TLSRequiredForData = false;   // transfers and listings only under PROT P

  // The IPv4 literal PASV announces to clients outside the server's own
  // networks (a server behind NAT names its public address), resolved
  // before it gets here; empty: every client is told the address it reached.
  std::string PassiveAddress;
};

}  // namespace velto
