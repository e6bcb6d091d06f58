#include "transfers.h"

#include <sys/sendfile.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace ftpload {
namespace {

constexpr size_t kReceiveBuffer = 1 << 20;

// Sends `command` and expects a 1xx reply: the server has taken the transfer on.
Status StartTransfer(ControlConnection& control, const std::string& command) {
  std::string error;
  auto reply = control.Command(command, error);
  const std::string verb = command.substr(0, command.find(' '));
  if (!reply) return Status::Fail(verb + ": " + error);
  if (reply->code / 100 != 1) return Status::Fail(verb + " answered " + reply->text);
  return Status::Ok();
}

// Under TLS, the data connection's handshake, offering the control
// connection's session (servers require that it resume it).
Status SecureData(ControlConnection& control, int fd, std::unique_ptr<TlsStream>& tls) {
  if (!control.tls()) return Status::Ok();
  std::string error;
  tls = std::make_unique<TlsStream>();
  SessionPtr session = control.tls()->Session();
  if (!tls->Handshake(fd, session.get(), error)) return Status::Fail("data connection: " + error);
  return Status::Ok();
}

Status FinalReply(ControlConnection& control, const std::string& command) {
  std::string error;
  auto reply = control.ReadReply(error);
  const std::string verb = command.substr(0, command.find(' '));
  if (!reply) return Status::Fail(verb + " completion: " + error);
  if (reply->code / 100 != 2) return Status::Fail(verb + " completion was " + reply->text);
  return Status::Ok();
}

}  // namespace

Transfer Download(ControlConnection& control, const std::string& command, const Sink& sink,
                  Clock::time_point deadline, const WantBytes& want) {
  Transfer result;
  std::string error;
  auto data = control.OpenPassive(error);
  if (!data) {
    result.status = Status::Fail(error);
    return result;
  }
  if (result.status = StartTransfer(control, command); !result.status.ok()) return result;
  std::unique_ptr<TlsStream> tls;
  if (result.status = SecureData(control, data->get(), tls); !result.status.ok()) return result;

  thread_local std::vector<char> buffer(kReceiveBuffer);
  for (;;) {
    // TLS has to decrypt every byte anyway, so nothing is skipped there.
    const bool copy = !want || want(result.bytes);
    const ssize_t n = tls ? tls->Read(buffer.data(), buffer.size())
                          : ::recv(data->get(), buffer.data(), buffer.size(), copy ? 0 : MSG_TRUNC);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      result.status = Status::Fail(std::string("data connection: ") +
                                   (errno == EAGAIN ? "stalled" : std::strerror(errno)) + " after " +
                                   std::to_string(result.bytes) + " bytes");
      return result;
    }
    if (copy && !sink(buffer.data(), static_cast<size_t>(n), result.bytes)) {
      result.status = Status::Fail("received data differs from the file at offset near " +
                                   std::to_string(result.bytes));
      return result;
    }
    result.bytes += static_cast<uint64_t>(n);
    if (Clock::now() > deadline) {
      result.status = Status::Fail("time limit reached after " + std::to_string(result.bytes) + " bytes");
      return result;
    }
  }
  // Our close_notify too: a server may drop a session whose connection
  // ended without one, and then refuse the next data connection's reuse.
  if (tls) tls->Shutdown();
  tls.reset();
  data->reset();
  result.status = FinalReply(control, command);
  return result;
}

Transfer Upload(ControlConnection& control, const std::string& command, const Pattern& pattern,
                uint64_t size, Clock::time_point deadline, int source) {
  Transfer result;
  std::string error;
  auto data = control.OpenPassive(error);
  if (!data) {
    result.status = Status::Fail(error);
    return result;
  }
  if (result.status = StartTransfer(control, command); !result.status.ok()) return result;
  std::unique_ptr<TlsStream> tls;
  if (result.status = SecureData(control, data->get(), tls); !result.status.ok()) return result;

  const std::string& block = pattern.bytes();
  while (result.bytes < size) {
    const size_t at = static_cast<size_t>(result.bytes % block.size());
    const size_t n = static_cast<size_t>(std::min<uint64_t>(size - result.bytes, block.size() - at));
    bool sent = false;
    if (tls) {
      if (tls->WriteAll(block.data() + at, n)) {
        result.bytes += n;
        sent = true;
      }
    } else if (source >= 0) {
      off_t offset = static_cast<off_t>(result.bytes);
      const ssize_t m = ::sendfile(data->get(), source, &offset, n);
      if (m > 0) {
        result.bytes += static_cast<uint64_t>(m);
        sent = true;
      } else if (m == 0) {
        errno = ENODATA;  // the source file is shorter than the upload
      }
    } else if (SendAll(data->get(), block.data() + at, n)) {
      result.bytes += n;
      sent = true;
    }
    if (!sent) {
      result.status = Status::Fail(std::string("data connection: ") +
                                   (errno == EAGAIN ? "stalled" : std::strerror(errno)) + " after " +
                                   std::to_string(result.bytes) + " bytes");
      return result;
    }
    if (Clock::now() > deadline) {
      result.status = Status::Fail("time limit reached after " + std::to_string(result.bytes) + " bytes");
      return result;
    }
  }
  // Closing the data connection marks the end of the file (under TLS, its
  // close_notify).
  // Then whatever the server still sends (a TLS 1.3 ticket, its own
  // close_notify) is read until it closes: a close with unread bytes would
  // reset the connection, and the server would count the upload as failed.
  if (tls) {
    tls->Shutdown();
    char rest[4096];
    while (tls->Read(rest, sizeof rest) > 0) {
    }
  }
  tls.reset();
  data->reset();
  result.status = FinalReply(control, command);
  return result;
}

}  // namespace ftpload
