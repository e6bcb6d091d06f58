// Passive-mode transfers on an open control connection.
#pragma once

#include "ftp_client.h"

#include <cstdint>
#include <functional>
#include <string>

namespace ftpload {

// Receives the data stream in pieces: (data, size, stream offset). Returning
// false stops the transfer as failed.
using Sink = std::function<bool(const char*, size_t, uint64_t)>;

// Says whether the bytes at a stream offset must be seen by the sink; others
// are discarded in the kernel without a copy (recv with MSG_TRUNC).
using WantBytes = std::function<bool(uint64_t offset)>;

struct Transfer {
  Status status;
  uint64_t bytes = 0;
};

// PASV, connect, `command` (RETR or LIST), the data until the server closes it,
// then the final 2xx reply. `deadline` bounds the whole transfer.
Transfer Download(ControlConnection& control, const std::string& command, const Sink& sink,
                  Clock::time_point deadline, const WantBytes& want = nullptr);

// PASV, connect, `command` (STOR), `size` bytes of `pattern`, close, then the
// final 2xx reply. With a `source` descriptor (a file made of the pattern) the
// bytes go out with sendfile, so the client spends no copy on them.
Transfer Upload(ControlConnection& control, const std::string& command, const Pattern& pattern,
                uint64_t size, Clock::time_point deadline, int source = -1);

}  // namespace ftpload
