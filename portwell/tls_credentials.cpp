#include "portwell/tls_credentials.h"

#include "portwell/tls_layer.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace portwell {

namespace {

// The library's last reason, and an empty error queue for whoever is next.
std::string LibraryReason() {
  const unsigned long code = ERR_peek_last_error();
  const char* why = code != 0 ? ERR_reason_error_string(code) : nullptr;
  ERR_clear_error();
  return why != nullptr ? why : "unknown reason";
}

// A key file with a passphrase cannot be asked for: the server has nobody to
// ask, and the library's default would prompt on the terminal.
int NoPassphrase(char* /*buffer*/, int /*size*/, int /*rwflag*/, void* /*userdata*/) { return 0; }

std::string TimeText(const ASN1_TIME* time) {
  BIO* bio = BIO_new(BIO_s_mem());
  if (bio == nullptr) return "?";
  std::string text;
  if (ASN1_TIME_print(bio, time) == 1) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    if (data != nullptr && length > 0) text.assign(data, static_cast<std::size_t>(length));
  }
  BIO_free(bio);
  return text.empty() ? "?" : text;
}

}  // namespace

void TlsContextFree::operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }

TlsContext LoadTlsContext(const std::string& certificateFile, const std::string& keyFile, std::string& reason) {
  ERR_clear_error();
  if (certificateFile.empty()) {
    reason = "no certificate file given";
    return nullptr;
  }
  if (keyFile.empty()) {
    reason = "no key file given";
    return nullptr;
  }
  TlsContext ctx(SSL_CTX_new(TLS_server_method()));
  if (!ctx) {
    reason = "TLS is not available: " + LibraryReason();
    return nullptr;
  }
  SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
  SSL_CTX_set_options(ctx.get(), SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION | SSL_OP_IGNORE_UNEXPECTED_EOF);
  // An idle connection keeps no record buffers.
  SSL_CTX_set_mode(ctx.get(), SSL_MODE_RELEASE_BUFFERS);
  SSL_CTX_set_default_passwd_cb(ctx.get(), NoPassphrase);
  if (SSL_CTX_use_certificate_chain_file(ctx.get(), certificateFile.c_str()) != 1) {
    reason = "cannot use the certificate file " + certificateFile + ": " + LibraryReason();
    return nullptr;
  }
  if (SSL_CTX_use_PrivateKey_file(ctx.get(), keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
    // The library compares the key with the certificate as it loads it.
    if (ERR_GET_REASON(ERR_peek_last_error()) == X509_R_KEY_VALUES_MISMATCH) {
      ERR_clear_error();
      reason = "the key in " + keyFile + " does not match the certificate in " + certificateFile;
    } else {
      reason = "cannot use the key file " + keyFile + ": " + LibraryReason();
    }
    return nullptr;
  }
  if (SSL_CTX_check_private_key(ctx.get()) != 1) {
    ERR_clear_error();
    reason = "the key in " + keyFile + " does not match the certificate in " + certificateFile;
    return nullptr;
  }
  X509* certificate = SSL_CTX_get0_certificate(ctx.get());
  if (certificate == nullptr) {
    reason = "no certificate in " + certificateFile;
    return nullptr;
  }
  const ASN1_TIME* notBefore = X509_get0_notBefore(certificate);
  const ASN1_TIME* notAfter = X509_get0_notAfter(certificate);
  // 0 means the time could not be compared: not a time one could trust.
  const int started = X509_cmp_current_time(notBefore);
  if (started >= 0) {
    reason = "the certificate in " + certificateFile + " is not valid before " + TimeText(notBefore);
    return nullptr;
  }
  const int ends = X509_cmp_current_time(notAfter);
  if (ends <= 0) {
    reason = "the certificate in " + certificateFile + " expired on " + TimeText(notAfter);
    return nullptr;
  }
  TlsLayer::InstallSessionReuse(ctx.get());
  ERR_clear_error();
  reason.clear();
  return ctx;
}

}  // namespace portwell
