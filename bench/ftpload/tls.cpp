#include "tls.h"

#include <openssl/err.h>

#include <cerrno>
#include <cstring>

namespace ftpload {
namespace {

std::unique_ptr<SSL_CTX, SslFree>& Context() {
  static std::unique_ptr<SSL_CTX, SslFree> context;
  return context;
}

}  // namespace

std::string TlsErrorText() {
  const unsigned long code = ERR_get_error();
  if (code == 0) return errno ? std::strerror(errno) : "unknown TLS error";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  ERR_clear_error();
  return text;
}

std::string InitTls(const std::string& version) {
  int wanted = 0;
  if (version == "1.2") wanted = TLS1_2_VERSION;
  else if (version == "1.3") wanted = TLS1_3_VERSION;
  else return "TLS version must be 1.2 or 1.3, not " + version;
  std::unique_ptr<SSL_CTX, SslFree> context(SSL_CTX_new(TLS_client_method()));
  if (!context) return TlsErrorText();
  SSL_CTX_set_min_proto_version(context.get(), wanted);
  SSL_CTX_set_max_proto_version(context.get(), wanted);
  SSL_CTX_set_verify(context.get(), SSL_VERIFY_NONE, nullptr);
  // A server that closes a download without close_notify still ends it.
  SSL_CTX_set_options(context.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
  // Sessions are offered by hand (SSL_set_session), never from a cache.
  SSL_CTX_set_session_cache_mode(context.get(), SSL_SESS_CACHE_OFF);
  Context() = std::move(context);
  return {};
}

bool TlsEnabled() { return Context() != nullptr; }

bool TlsStream::Handshake(int fd, SSL_SESSION* resume, std::string& error) {
  ssl_.reset(SSL_new(Context().get()));
  if (!ssl_ || SSL_set_fd(ssl_.get(), fd) != 1 || (resume && SSL_set_session(ssl_.get(), resume) != 1)) {
    error = "TLS set-up: " + TlsErrorText();
    return false;
  }
  if (SSL_connect(ssl_.get()) != 1) {
    error = "TLS handshake: " + TlsErrorText();
    return false;
  }
  return true;
}

long TlsStream::Read(char* data, size_t size) {
  size_t got = 0;
  if (SSL_read_ex(ssl_.get(), data, size, &got) == 1) return static_cast<long>(got);
  const int reason = SSL_get_error(ssl_.get(), 0);
  if (reason == SSL_ERROR_ZERO_RETURN) return 0;
  if (reason == SSL_ERROR_WANT_READ || reason == SSL_ERROR_WANT_WRITE) errno = EAGAIN;
  ERR_clear_error();
  return -1;
}

bool TlsStream::WriteAll(const char* data, size_t size) {
  while (size > 0) {
    size_t sent = 0;
    if (SSL_write_ex(ssl_.get(), data, size, &sent) != 1) {
      const int reason = SSL_get_error(ssl_.get(), 0);
      if (reason == SSL_ERROR_WANT_READ || reason == SSL_ERROR_WANT_WRITE) errno = EAGAIN;
      ERR_clear_error();
      return false;
    }
    data += sent;
    size -= sent;
  }
  return true;
}

void TlsStream::Shutdown() {
  if (ssl_) SSL_shutdown(ssl_.get());
  ERR_clear_error();
}

SessionPtr TlsStream::Session() const { return SessionPtr(ssl_ ? SSL_get1_session(ssl_.get()) : nullptr); }

bool TlsStream::Resumed() const { return ssl_ && SSL_session_reused(ssl_.get()) == 1; }

}  // namespace ftpload
