// Client-side TLS for the load client (FTPS, RFC 4217): one context for the
// process, one stream per connection. Certificates are not checked: the
// benchmark's servers use a self-signed one on loopback.
#pragma once

#include <openssl/ssl.h>

#include <memory>
#include <string>

namespace ftpload {

struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
  void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
  void operator()(SSL_SESSION* session) const { SSL_SESSION_free(session); }
};
using SessionPtr = std::unique_ptr<SSL_SESSION, SslFree>;

// The process's client context; `version` is "1.2" or "1.3" (exactly that
// version). Returns an error text, empty on success.
std::string InitTls(const std::string& version);
// True once InitTls succeeded: control connections then use AUTH TLS.
bool TlsEnabled();

// TLS over a connected blocking socket whose time-outs bound every call. The
// socket stays owned by the caller and must outlive the stream.
class TlsStream {
 public:
  // Runs the handshake, offering `resume` (may be null); false with `error` set.
  bool Handshake(int fd, SSL_SESSION* resume, std::string& error);
  // Like recv: bytes read, 0 at the end of the stream, -1 on error.
  long Read(char* data, size_t size);
  bool WriteAll(const char* data, size_t size);
  // Sends close_notify: for an upload, the end of the file.
  void Shutdown();
  // The session to offer on data connections (the newest ticket under TLS 1.3).
  SessionPtr Session() const;
  bool Resumed() const;

 private:
  std::unique_ptr<SSL, SslFree> ssl_;
};

// Text of the last TLS error of this thread.
std::string TlsErrorText();

}  // namespace ftpload
