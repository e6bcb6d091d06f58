// Blocking FTP client for load generation: one control connection, passive
// data connections, every wait bounded by socket time-outs. Traffic goes to
// 127.0.0.1 only; the address in a 227 reply is ignored on purpose.
#pragma once

#include "platform/fd.h"
#include "tls.h"

#include <chrono>
#include <memory>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ftpload {

using Clock = std::chrono::steady_clock;

struct Reply {
  int code = 0;
  std::string text;  // every line, CR LF kept
};

// Outcome of an operation: empty error text means success.
struct Status {
  std::string error;
  bool ok() const { return error.empty(); }
  static Status Ok() { return {}; }
  static Status Fail(std::string text) { return {std::move(text)}; }
};

// A TCP connection to 127.0.0.1:port with send and receive time-outs set.
std::optional<platform::UniqueFd> ConnectLoopback(int port, std::chrono::milliseconds timeout,
                                                  std::string& error);

// Writes all of `data`; false on error or time-out.
bool SendAll(int fd, const char* data, size_t size);

// The repeating block every benchmark file and upload is made of, so received
// data can be checked without keeping a copy.
class Pattern {
 public:
  explicit Pattern(std::string bytes) : bytes_(std::move(bytes)) {}
  const std::string& bytes() const { return bytes_; }
  // True when data equals the pattern repeated, starting at stream offset `offset`.
  bool Matches(const char* data, size_t size, uint64_t offset) const;

 private:
  std::string bytes_;
};

class ControlConnection {
 public:
  explicit ControlConnection(std::chrono::milliseconds timeout) : timeout_(timeout) {}

  // Connects, reads the greeting, logs on, and switches to binary. With TLS
  // (InitTls) it secures the control connection first (AUTH TLS) and asks
  // for protected data connections (PBSZ 0, PROT P) after the log-on.
  Status Open(int port, const std::string& user, const std::string& password);
  // Connect + greeting only.
  Status Connect(int port);
  Status LogOn(const std::string& user, const std::string& password);
  // Sends QUIT and waits for the 221 reply.
  Status Quit();
  void Close() {
    tls_.reset();
    fd_.reset();
    buffer_.clear();
  }
  // The control connection's TLS, or null in clear.
  const TlsStream* tls() const { return tls_.get(); }
  bool connected() const { return static_cast<bool>(fd_); }

  std::optional<Reply> Command(std::string_view line, std::string& error);
  std::optional<Reply> ReadReply(std::string& error);
  // Expects a reply whose first digit is `klass`.
  Status Expect(std::string_view line, int klass);

  // PASV and a connection to the announced port on 127.0.0.1.
  std::optional<platform::UniqueFd> OpenPassive(std::string& error);

 private:
  std::optional<std::string> ReadLine(std::string& error);

  bool SendLine(const std::string& wire);

  std::chrono::milliseconds timeout_;
  platform::UniqueFd fd_;
  std::unique_ptr<TlsStream> tls_;
  std::string buffer_;
};

// Parses "227 ... (h1,h2,h3,h4,p1,p2)" into the port; 0 when malformed.
int ParsePassivePort(std::string_view reply);

}  // namespace ftpload
