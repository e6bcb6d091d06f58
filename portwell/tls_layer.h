// TlsLayer: the server side of TLS for one stream socket, over memory BIOs.
// The socket still reads and writes the raw bytes itself (through the event
// loop, which keeps its readiness bookkeeping); this object turns raw input
// into handshake progress and plaintext, and plaintext into ciphertext that
// waits here until the system has taken all of it.
//
// Session reuse is bound to a token: every session carries the token of the
// connection whose full handshake made it (in the ticket's application data,
// which also travels in the server's session cache), and a resumed session
// keeps its token in the tickets issued on it. A data connection told to
// resume a control connection's session passes only when it resumed a session
// with that connection's token.
#pragma once

#include <openssl/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace portwell {

using TlsToken = std::array<unsigned char, 16>;

class TlsLayer {
 public:
  enum class Phase {
    Clear,        // StartTls's clear text is still going out
    Handshake,    // the handshake runs
    Established,  // sends and receives go through TLS
    Failed,       // over: nothing more is sent or delivered
  };
  enum class Step { Pending, Done, Failed };
  enum class ReadEnd {
    WantInput,   // everything decrypted so far was handed out
    Full,        // `out` reached the limit; more may be decrypted
    PeerClosed,  // the peer's close_notify
    Broken,      // a protocol failure (reason() says which)
  };

  // A layer for a new handshake with `ctx`. `resumeOf`: the token the
  // resumed session must carry (nullptr: no reuse required). nullptr and
  // `reason` when the library cannot make the connection object.
  static std::unique_ptr<TlsLayer> Create(SSL_CTX* ctx, const std::optional<TlsToken>& resumeOf, std::string& reason);
  TlsLayer() = default;  // an empty layer; Create makes a working one
  ~TlsLayer();
  TlsLayer(const TlsLayer&) = delete;
  TlsLayer& operator=(const TlsLayer&) = delete;

  // The ticket callbacks and the cache settings that carry the tokens.
  static void InstallSessionReuse(SSL_CTX* ctx);

  Phase phase() const { return phase_; }
  bool Encrypting() const { return phase_ == Phase::Handshake || phase_ == Phase::Established; }
  // Bytes of StartTls's clear text still to go before the handshake.
  std::int64_t clearLeft = 0;

  // ---- the handshake ----
  void BeginHandshake() { phase_ = Phase::Handshake; }
  // Drives the handshake with the input fed so far. Done: established, or
  // (reuse refused) Failed with reason().
  Step Handshake();
  // Ends the layer (time-out, the peer's close); nothing more goes through it.
  void Fail(const std::string& reason);
  const std::string& reason() const { return reason_; }
  bool Resumed() const { return resumed_; }
  std::string Version() const;
  // The context the connection uses (a data connection takes its control
  // connection's, whose ticket keys and cache know its sessions).
  SSL_CTX* Context() const;
  // The token of the session in use (established only).
  const TlsToken& SessionToken() const { return sessionToken_; }

  // ---- input ----
  void Feed(const char* data, std::size_t length);
  // Appends decrypted plaintext to `out` up to `limit` bytes in all.
  ReadEnd Read(std::string& out, std::size_t limit);
  // Input fed but not yet decrypted or handed out.
  bool HasBufferedInput() const;
  std::int64_t BufferedInput() const;
  bool PeerClosed() const { return peerClosed_; }

  // ---- output ----
  // Encrypts `length` plaintext bytes; they count as sent once all the
  // output before and with them has gone. False (reason()) on failure.
  bool Encrypt(const char* data, std::size_t length);
  // Queues close_notify once (established only).
  void QueueCloseNotify();
  bool CloseNotifyQueued() const { return closeNotifyQueued_; }
  bool HasOutput() const { return outOffset_ < out_.size(); }
  const char* Output() const { return out_.data() + outOffset_; }
  std::size_t OutputSize() const { return out_.size() - outOffset_; }
  // The system took `length` bytes of the output. Returns the plaintext
  // bytes that now count as sent (when the output is all gone).
  std::int64_t Consumed(std::size_t length);
  // TLS 1.3: a new ticket goes out with the next record written.
  void IssueTicket();
  // A data connection's control connection (0: none), which is given a new
  // ticket when this one resumes its session.
  std::int32_t controlHandle = 0;
  // Drops what is waiting to go (the queue it belonged to was dropped).
  void DropOutput();
  // Plaintext bytes whose ciphertext waits here.
  std::int64_t PlainPending() const { return plainPending_; }

  // ---- the ticket callbacks ----
  static TlsLayer* Of(SSL* ssl);
  // A ticket's token, seen when the client's ticket was decrypted.
  void NoteTicketToken(const void* data, std::size_t length);
  const std::optional<TlsToken>& TicketToken() const { return ticketToken_; }
  const TlsToken& OwnToken() const { return token_; }

 private:
  // Moves what the library wrote into the output buffer.
  void CollectOutput();
  std::string ErrorText(int result) const;

  SSL* ssl_ = nullptr;
  BIO* in_ = nullptr;   // owned by ssl_
  BIO* outBio_ = nullptr;  // owned by ssl_
  Phase phase_ = Phase::Clear;
  TlsToken token_{};
  std::optional<TlsToken> expected_;
  std::optional<TlsToken> ticketToken_;
  TlsToken sessionToken_{};
  bool resumed_ = false;
  bool peerClosed_ = false;
  bool closeNotifyQueued_ = false;
  std::string reason_;
  std::string out_;
  std::size_t outOffset_ = 0;
  std::int64_t plainPending_ = 0;
};

}  // namespace portwell
