// The object's TLS credentials: one server context made from a PEM
// certificate chain and a PEM private key, checked before it is put in force.
#pragma once

#include <openssl/types.h>

#include <memory>
#include <string>

namespace portwell {

struct TlsContextFree {
  void operator()(SSL_CTX* ctx) const;
};
using TlsContext = std::unique_ptr<SSL_CTX, TlsContextFree>;

// A server context for TLS 1.2 or later (the library's default ciphers, no
// compression, no renegotiation, session reuse by ticket and by id), or
// nullptr and the reason: a file that cannot be read, a key that does not
// match the certificate, a certificate that has expired or is not valid yet.
TlsContext LoadTlsContext(const std::string& certificateFile, const std::string& keyFile, std::string& reason);

}  // namespace portwell
