// The per-socket queues: outgoing data as send requests of at most ChunkSize
// bytes, and received blocks the client has not taken yet.
//
// A send request is not stored on its own: one SendData call (or one file
// range) is one segment, and its requests are the ChunkSize pieces of it. The
// request boundaries are kept exactly, so the completion rule can run request
// by request however many bytes the system takes in one call.
#pragma once

#include "portwell/portwell.h"
#include "platform/fd.h"

#include <sys/uio.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace portwell {

// The 32-bit counters wrap from 2147483647 to 0 (n >= 0).
inline void WrapAdd(std::int32_t& counter, std::int64_t n) {
  counter = static_cast<std::int32_t>((static_cast<std::int64_t>(counter) + n) % 2147483648LL);
}

struct SendSegment {
  // Memory: the bytes at positions [dropped, length); the first `dropped`
  // bytes were taken by the system before the segment was queued.
  std::string bytes;
  std::int64_t dropped = 0;
  // File range: positions map to file offsets fileOffset + position.
  platform::UniqueFd file;
  std::int64_t fileOffset = 0;
  bool isFile = false;

  std::int64_t length = 0;     // bytes in the segment
  std::int64_t sent = 0;       // bytes the system has taken
  std::int64_t chunkSize = 1;  // request size
  std::int64_t requests = 1;   // requests in the segment (an empty file range is one request)
  std::int64_t completed = 0;  // requests whose bytes were all taken
  std::string remoteHostUDP;
  std::int32_t remotePortUDP = 0;

  std::int64_t Remaining() const { return length - sent; }
  const char* Next() const { return bytes.data() + (sent - dropped); }
  std::int64_t CompletedAt(std::int64_t position) const { return position >= length ? requests : position / chunkSize; }
  std::int64_t RequestLength(std::int64_t index) const {
    return index + 1 < requests ? chunkSize : length - (requests - 1) * chunkSize;
  }
  // The head request: from `sent` to the end of the request it lies in.
  std::int64_t HeadRequestEnd() const { return std::min(length, (completed + 1) * chunkSize); }
};

// Requests of equal length completed together.
struct CompletionRun {
  std::int64_t length = 0;
  std::int64_t count = 0;
};

class CQueSendRequests {
 public:
  // The chunking of SendData: bytes and text cut into requests of at most
  // chunkSize (text: characters, narrowed one byte each); empty data becomes
  // one request holding one byte of value 0. Returns the number of requests.
  // `alreadySent` leading bytes were taken by the system before queuing (the
  // direct send of an empty queue): they are not stored, and the caller
  // completes them at once with Advance(alreadySent) on this new head.
  std::int32_t AddRequests(const PortwellData& data, std::int32_t chunkSize, const std::string& remoteHostUDP,
                           std::int32_t remotePortUDP, std::int64_t alreadySent = 0);
  // Same for bytes the caller hands over (moved, not copied).
  std::int32_t AddOwnedBytes(std::string bytes, std::int32_t chunkSize);
  // A file range; its requests are those of SendData of the same bytes, an
  // empty range being one request of no bytes.
  std::int32_t AddFileRange(platform::UniqueFd file, std::int64_t offset, std::int64_t length, std::int32_t chunkSize);

  std::int64_t Count() const { return pendingRequests_; }
  // Bytes the system has not taken yet, file ranges included.
  std::int64_t Bytes() const { return pendingBytes_; }
  bool Empty() const { return segments_.empty(); }
  void Clear();
  const SendSegment& Head() const { return segments_.front(); }
  SendSegment& Head() { return segments_.front(); }

  // Moves the head on by `taken` bytes and completes what became complete
  // (also requests of no bytes now at the head); `runs` receives the
  // completed requests in order. Finished segments leave the queue.
  void Advance(std::int64_t taken, std::vector<CompletionRun>& runs);
  // Head memory segments as one gather list (up to `maxVectors`; stops at a
  // file range). Returns the number of vectors.
  int GatherHead(iovec* vectors, int maxVectors) const;

 private:
  void Push(SendSegment segment);
  std::deque<SendSegment> segments_;
  std::int64_t pendingRequests_ = 0;
  std::int64_t pendingBytes_ = 0;
};

struct CQueReceiveRequest {
  PortwellData DataReceived;
  std::int32_t SocketHandle = 0;
  std::string RemoteHostUDP;
  std::int32_t RemotePortUDP = 0;
};

class CQueReceiveRequests {
 public:
  void AddRequest(CQueReceiveRequest request) { requests_.push_back(std::move(request)); }
  // A declined block goes back to the head, where it came from.
  void PutBackFirst(CQueReceiveRequest request) { requests_.push_front(std::move(request)); }
  CQueReceiveRequest& FirstRequest() { return requests_.front(); }
  CQueReceiveRequest TakeFirst() {
    CQueReceiveRequest head = std::move(requests_.front());
    requests_.pop_front();
    return head;
  }
  void RemoveFirst() {
    if (!requests_.empty()) requests_.pop_front();
  }
  std::int32_t Count() const { return static_cast<std::int32_t>(requests_.size()); }
  void Clear() { requests_.clear(); }

 private:
  std::deque<CQueReceiveRequest> requests_;
};

}  // namespace portwell
