#include "portwell/tls_layer.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace portwell {

namespace {

// The layer behind an SSL object. No callbacks: the library may be unloaded
// while the TLS library stays, and an index costs nothing.
int LayerIndex() {
  static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

std::optional<TlsToken> TokenOf(SSL_SESSION* session) {
  void* data = nullptr;
  std::size_t length = 0;
  if (session == nullptr || SSL_SESSION_get0_ticket_appdata(session, &data, &length) != 1 || data == nullptr ||
      length != sizeof(TlsToken)) {
    return std::nullopt;
  }
  TlsToken token{};
  std::memcpy(token.data(), data, token.size());
  return token;
}

TlsToken RandomToken() {
  TlsToken token{};
  if (RAND_bytes(token.data(), static_cast<int>(token.size())) != 1) {
    // No randomness: a token nobody can match is still safe, only reuse fails.
    token.fill(0xFF);
    token[0] = 0;
  }
  return token;
}

// A ticket is about to be made: a session keeps the token it has (a resumed
// one the token of its first handshake), a new one gets its connection's.
int GenerateTicket(SSL* ssl, void* /*arg*/) {
  TlsLayer* layer = TlsLayer::Of(ssl);
  SSL_SESSION* session = SSL_get_session(ssl);
  if (layer == nullptr || session == nullptr || TokenOf(session)) return 1;
  const TlsToken& token =
      SSL_session_reused(ssl) == 1 && layer->TicketToken() ? *layer->TicketToken() : layer->OwnToken();
  return SSL_SESSION_set1_ticket_appdata(session, token.data(), token.size());
}

// The client's ticket was opened: note its token for the reuse check, and
// otherwise answer as the library does by default.
SSL_TICKET_RETURN DecryptTicket(SSL* ssl, SSL_SESSION* session, const unsigned char* /*keyName*/,
                                std::size_t /*keyNameLength*/, SSL_TICKET_STATUS status, void* /*arg*/) {
  switch (status) {
    case SSL_TICKET_SUCCESS:
    case SSL_TICKET_SUCCESS_RENEW: {
      if (TlsLayer* layer = TlsLayer::Of(ssl)) {
        void* data = nullptr;
        std::size_t length = 0;
        SSL_SESSION_get0_ticket_appdata(session, &data, &length);
        layer->NoteTicketToken(data, length);
      }
      // A resumed connection gets no tickets of its own: a client that
      // uploads and closes without reading them would make its system
      // answer with a reset that loses the end of the upload. Fresh tickets
      // go out on the control connection instead (IssueTicket).
      SSL_set_num_tickets(ssl, 0);
      return status == SSL_TICKET_SUCCESS ? SSL_TICKET_RETURN_USE : SSL_TICKET_RETURN_USE_RENEW;
    }
    case SSL_TICKET_NONE:
      return SSL_TICKET_RETURN_IGNORE;
    case SSL_TICKET_EMPTY:
    case SSL_TICKET_NO_DECRYPT:
      return SSL_TICKET_RETURN_IGNORE_RENEW;
    default:
      return SSL_TICKET_RETURN_ABORT;
  }
}

const char kSessionContext[] = "velto-ftps";

}  // namespace

void TlsLayer::InstallSessionReuse(SSL_CTX* ctx) {
  SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_SERVER);
  SSL_CTX_set_session_id_context(ctx, reinterpret_cast<const unsigned char*>(kSessionContext),
                                 sizeof kSessionContext - 1);
  // Tickets are stateless and so reusable; two per full handshake, and one
  // more on the control connection for each data connection that resumed,
  // so a client that spends one ticket per data connection never runs out.
  SSL_CTX_set_num_tickets(ctx, 2);
  SSL_CTX_set_session_ticket_cb(ctx, GenerateTicket, DecryptTicket, nullptr);
}

std::unique_ptr<TlsLayer> TlsLayer::Create(SSL_CTX* ctx, const std::optional<TlsToken>& resumeOf,
                                           std::string& reason) {
  ERR_clear_error();
  SSL* ssl = SSL_new(ctx);
  BIO* in = BIO_new(BIO_s_mem());
  BIO* out = BIO_new(BIO_s_mem());
  if (ssl == nullptr || in == nullptr || out == nullptr) {
    const unsigned long code = ERR_peek_last_error();
    const char* why = code != 0 ? ERR_reason_error_string(code) : nullptr;
    reason = why != nullptr ? why : "the TLS connection could not be made";
    ERR_clear_error();
    SSL_free(ssl);
    BIO_free(in);
    BIO_free(out);
    return nullptr;
  }
  auto layer = std::make_unique<TlsLayer>();
  layer->ssl_ = ssl;
  layer->in_ = in;
  layer->outBio_ = out;
  // An empty input BIO means "more to come", never the end.
  BIO_set_mem_eof_return(layer->in_, -1);
  BIO_set_mem_eof_return(layer->outBio_, -1);
  SSL_set_bio(layer->ssl_, layer->in_, layer->outBio_);
  SSL_set_accept_state(layer->ssl_);
  SSL_set_ex_data(layer->ssl_, LayerIndex(), layer.get());
  layer->token_ = RandomToken();
  layer->expected_ = resumeOf;
  return layer;
}

TlsLayer::~TlsLayer() {
  if (ssl_ != nullptr) SSL_free(ssl_);  // frees the BIOs too
}

TlsLayer* TlsLayer::Of(SSL* ssl) { return static_cast<TlsLayer*>(SSL_get_ex_data(ssl, LayerIndex())); }

void TlsLayer::NoteTicketToken(const void* data, std::size_t length) {
  if (data == nullptr || length != sizeof(TlsToken)) {
    ticketToken_.reset();
    return;
  }
  TlsToken token{};
  std::memcpy(token.data(), data, token.size());
  ticketToken_ = token;
}

std::string TlsLayer::ErrorText(int result) const {
  const unsigned long code = ERR_peek_last_error();
  std::string text;
  if (code != 0) {
    const char* why = ERR_reason_error_string(code);
    text = why != nullptr ? why : "TLS library error " + std::to_string(ERR_GET_REASON(code));
  } else if (ssl_ != nullptr && result <= 0 && SSL_get_error(ssl_, result) == SSL_ERROR_ZERO_RETURN) {
    text = "the peer closed TLS";
  } else {
    text = "TLS library failure";
  }
  ERR_clear_error();
  return text;
}

std::string TlsLayer::Version() const { return ssl_ != nullptr ? SSL_get_version(ssl_) : ""; }

SSL_CTX* TlsLayer::Context() const { return ssl_ != nullptr ? SSL_get_SSL_CTX(ssl_) : nullptr; }

void TlsLayer::CollectOutput() {
  std::size_t waiting = BIO_ctrl_pending(outBio_);
  while (waiting > 0) {
    if (outOffset_ == out_.size()) {
      out_.clear();
      outOffset_ = 0;
    }
    const std::size_t old = out_.size();
    out_.resize(old + waiting);
    const int n = BIO_read(outBio_, out_.data() + old, static_cast<int>(std::min<std::size_t>(waiting, 1u << 30)));
    out_.resize(old + static_cast<std::size_t>(std::max(n, 0)));
    if (n <= 0) break;
    waiting = BIO_ctrl_pending(outBio_);
  }
}

TlsLayer::Step TlsLayer::Handshake() {
  if (phase_ == Phase::Established) return Step::Done;
  if (phase_ != Phase::Handshake) return Step::Failed;
  ERR_clear_error();
  const int r = SSL_do_handshake(ssl_);
  CollectOutput();
  if (r != 1) {
    const int error = SSL_get_error(ssl_, r);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) return Step::Pending;
    Fail(ErrorText(r));
    return Step::Failed;
  }
  resumed_ = SSL_session_reused(ssl_) == 1;
  SSL_SESSION* session = SSL_get_session(ssl_);
  if (resumed_) {
    // The token of the session resumed: from the ticket, or from the
    // session the cache held (it never changes once set).
    std::optional<TlsToken> carried = ticketToken_ ? ticketToken_ : TokenOf(session);
    sessionToken_ = carried ? *carried : RandomToken();
  } else {
    // A session the cache keeps for resumption by id carries the token too.
    if (session != nullptr && !TokenOf(session)) SSL_SESSION_set1_ticket_appdata(session, token_.data(), token_.size());
    const std::optional<TlsToken> own = TokenOf(session);
    sessionToken_ = own ? *own : token_;
  }
  if (expected_ && (!resumed_ || sessionToken_ != *expected_)) {
    Fail("session reuse required");
    return Step::Failed;
  }
  phase_ = Phase::Established;
  return Step::Done;
}

void TlsLayer::Fail(const std::string& reason) {
  if (phase_ == Phase::Failed) return;
  phase_ = Phase::Failed;
  reason_ = reason;
}

void TlsLayer::Feed(const char* data, std::size_t length) {
  if (length == 0 || phase_ == Phase::Failed || peerClosed_) return;
  BIO_write(in_, data, static_cast<int>(length));
}

bool TlsLayer::HasBufferedInput() const { return BufferedInput() > 0; }

std::int64_t TlsLayer::BufferedInput() const {
  if (phase_ != Phase::Established || peerClosed_) return 0;
  return static_cast<std::int64_t>(SSL_pending(ssl_)) + static_cast<std::int64_t>(BIO_ctrl_pending(in_));
}

TlsLayer::ReadEnd TlsLayer::Read(std::string& out, std::size_t limit) {
  if (peerClosed_) return ReadEnd::PeerClosed;
  if (phase_ != Phase::Established) return ReadEnd::Broken;
  std::size_t length = out.size();
  if (length >= limit) return ReadEnd::Full;
  out.resize(limit);
  ReadEnd end = ReadEnd::Full;
  while (length < limit) {
    ERR_clear_error();
    const int n = SSL_read(ssl_, out.data() + length, static_cast<int>(std::min<std::size_t>(limit - length, 1u << 30)));
    if (n > 0) {
      length += static_cast<std::size_t>(n);
      continue;
    }
    const int error = SSL_get_error(ssl_, n);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
      end = ReadEnd::WantInput;
    } else if (error == SSL_ERROR_ZERO_RETURN) {
      peerClosed_ = true;
      end = ReadEnd::PeerClosed;
    } else {
      Fail(ErrorText(n));
      end = ReadEnd::Broken;
    }
    break;
  }
  out.resize(length);
  // Reading may answer (a key update, an alert).
  CollectOutput();
  return end;
}

bool TlsLayer::Encrypt(const char* data, std::size_t length) {
  if (phase_ != Phase::Established || closeNotifyQueued_) return false;
  ERR_clear_error();
  const int n = SSL_write(ssl_, data, static_cast<int>(length));
  CollectOutput();
  if (n <= 0 || static_cast<std::size_t>(n) != length) {
    Fail(ErrorText(n));
    return false;
  }
  plainPending_ += static_cast<std::int64_t>(length);
  return true;
}

void TlsLayer::QueueCloseNotify() {
  if (phase_ != Phase::Established || closeNotifyQueued_) return;
  closeNotifyQueued_ = true;
  ERR_clear_error();
  SSL_shutdown(ssl_);
  ERR_clear_error();
  CollectOutput();
}

std::int64_t TlsLayer::Consumed(std::size_t length) {
  outOffset_ = std::min(out_.size(), outOffset_ + length);
  if (outOffset_ < out_.size()) return 0;
  out_.clear();
  outOffset_ = 0;
  return std::exchange(plainPending_, 0);
}

void TlsLayer::IssueTicket() {
  if (phase_ != Phase::Established || closeNotifyQueued_ || SSL_version(ssl_) < TLS1_3_VERSION) return;
  // Sent with the next record this connection writes (the next reply).
  SSL_new_session_ticket(ssl_);
}

void TlsLayer::DropOutput() {
  out_.clear();
  outOffset_ = 0;
  plainPending_ = 0;
}

}  // namespace portwell
