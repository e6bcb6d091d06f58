#include "portwell/queues.h"

#include <algorithm>

namespace portwell {

namespace {

std::int64_t RequestsFor(std::int64_t length, std::int64_t chunk) {
  return length <= 0 ? 1 : (length + chunk - 1) / chunk;
}

void AppendRun(std::vector<CompletionRun>& runs, std::int64_t length, std::int64_t count) {
  if (count <= 0) return;
  if (!runs.empty() && runs.back().length == length) {
    runs.back().count += count;
  } else {
    runs.push_back({length, count});
  }
}

}  // namespace

void CQueSendRequests::Push(SendSegment segment) {
  pendingRequests_ += segment.requests - segment.completed;
  pendingBytes_ += segment.Remaining();
  segments_.push_back(std::move(segment));
}

std::int32_t CQueSendRequests::AddOwnedBytes(std::string bytes, std::int32_t chunkSize) {
  SendSegment s;
  s.chunkSize = std::max<std::int64_t>(1, chunkSize);
  // An empty send is one request of one zero byte, so that the completion
  // rule runs for it.
  if (bytes.empty()) bytes.assign(1, '\0');
  s.length = static_cast<std::int64_t>(bytes.size());
  s.requests = RequestsFor(s.length, s.chunkSize);
  s.bytes = std::move(bytes);
  const auto requests = static_cast<std::int32_t>(s.requests);
  Push(std::move(s));
  return requests;
}

std::int32_t CQueSendRequests::AddRequests(const PortwellData& data, std::int32_t chunkSize,
                                           const std::string& remoteHostUDP, std::int32_t remotePortUDP,
                                           std::int64_t alreadySent) {
  SendSegment s;
  s.chunkSize = std::max<std::int64_t>(1, chunkSize);
  s.remoteHostUDP = remoteHostUDP;
  s.remotePortUDP = remotePortUDP;
  const auto size = static_cast<std::int64_t>(data.Size());
  if (size == 0) {
    s.bytes.assign(1, '\0');
    s.length = 1;
  } else {
    s.length = size;
    alreadySent = std::clamp<std::int64_t>(alreadySent, 0, size);
    // Only the bytes not yet taken by the system are stored.
    s.dropped = alreadySent;
    if (data.IsText()) {
      const std::u16string& text = data.Text();
      s.bytes.resize(static_cast<std::size_t>(size - alreadySent));
      for (std::size_t i = 0; i < s.bytes.size(); ++i) {
        s.bytes[i] = PortwellData::NarrowUnit(text[static_cast<std::size_t>(alreadySent) + i]);
      }
    } else {
      s.bytes.assign(data.Bytes(), static_cast<std::size_t>(alreadySent), std::string::npos);
    }
  }
  s.requests = RequestsFor(s.length, s.chunkSize);
  const auto requests = static_cast<std::int32_t>(s.requests);
  Push(std::move(s));
  return requests;
}

std::int32_t CQueSendRequests::AddFileRange(platform::UniqueFd file, std::int64_t offset, std::int64_t length,
                                            std::int32_t chunkSize) {
  SendSegment s;
  s.isFile = true;
  s.file = std::move(file);
  s.fileOffset = offset;
  s.chunkSize = std::max<std::int64_t>(1, chunkSize);
  s.length = std::max<std::int64_t>(0, length);
  s.requests = RequestsFor(s.length, s.chunkSize);
  const auto requests = static_cast<std::int32_t>(s.requests);
  Push(std::move(s));
  return requests;
}

void CQueSendRequests::Clear() {
  segments_.clear();
  pendingRequests_ = 0;
  pendingBytes_ = 0;
}

void CQueSendRequests::Advance(std::int64_t taken, std::vector<CompletionRun>& runs) {
  while (!segments_.empty()) {
    SendSegment& head = segments_.front();
    const std::int64_t step = std::min(taken, head.Remaining());
    if (step == 0 && head.Remaining() > 0) break;
    head.sent += step;
    pendingBytes_ -= step;
    taken -= step;
    const std::int64_t done = head.CompletedAt(head.sent);
    if (done > head.completed) {
      const std::int64_t last = head.requests - 1;
      const std::int64_t fullEnd = std::min(done, last);
      if (fullEnd > head.completed) AppendRun(runs, head.chunkSize, fullEnd - head.completed);
      if (done > last) AppendRun(runs, head.RequestLength(last), 1);
      pendingRequests_ -= done - head.completed;
      head.completed = done;
    }
    if (head.completed < head.requests) break;
    segments_.pop_front();
  }
}

int CQueSendRequests::GatherHead(iovec* vectors, int maxVectors) const {
  int n = 0;
  for (const SendSegment& s : segments_) {
    if (n >= maxVectors || s.isFile) break;
    if (s.Remaining() <= 0) continue;
    vectors[n].iov_base = const_cast<char*>(s.Next());
    vectors[n].iov_len = static_cast<std::size_t>(s.Remaining());
    ++n;
  }
  return n;
}

}  // namespace portwell
