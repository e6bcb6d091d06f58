// Chunking of send data and the request bookkeeping of the send queue.
#include "portwell/queues.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

using portwell::CompletionRun;
using portwell::CQueSendRequests;

std::vector<std::int64_t> Flatten(const std::vector<CompletionRun>& runs) {
  std::vector<std::int64_t> lengths;
  for (const auto& r : runs) lengths.insert(lengths.end(), static_cast<std::size_t>(r.count), r.length);
  return lengths;
}

// Sends everything in steps of `step` bytes and returns the request lengths
// completed, in order.
std::vector<std::int64_t> Drain(CQueSendRequests& q, std::int64_t step) {
  std::vector<CompletionRun> runs;
  while (!q.Empty()) q.Advance(step, runs);
  return Flatten(runs);
}

TEST(CQueSendRequests, ChunkCountsFollowTheChunkSize) {
  CQueSendRequests q;
  EXPECT_EQ(q.AddRequests(std::string(8192, 'x'), 4096, "", 0), 2);
  EXPECT_EQ(q.AddRequests(std::string(8193, 'x'), 4096, "", 0), 3);
  EXPECT_EQ(q.Count(), 5);
  EXPECT_EQ(Drain(q, 1000), (std::vector<std::int64_t>{4096, 4096, 4096, 4096, 1}));
  EXPECT_EQ(q.Count(), 0);
}

TEST(CQueSendRequests, TextIsCutByCharactersAndNarrowed) {
  CQueSendRequests q;
  EXPECT_EQ(q.AddRequests(std::u16string(u"ABCDE"), 2, "", 0), 3);
  iovec v[4];
  ASSERT_EQ(q.GatherHead(v, 4), 1);
  EXPECT_EQ(std::string(static_cast<char*>(v[0].iov_base), v[0].iov_len), "ABCDE");
  EXPECT_EQ(Drain(q, 1), (std::vector<std::int64_t>{2, 2, 1}));
}

TEST(CQueSendRequests, EmptyDataIsOneZeroByte) {
  for (const PortwellData& empty : {PortwellData(std::string()), PortwellData(std::u16string()), PortwellData()}) {
    CQueSendRequests q;
    EXPECT_EQ(q.AddRequests(empty, 4096, "", 0), 1);
    iovec v[1];
    ASSERT_EQ(q.GatherHead(v, 1), 1);
    ASSERT_EQ(v[0].iov_len, 1u);
    EXPECT_EQ(static_cast<char*>(v[0].iov_base)[0], '\0');
  }
}

TEST(CQueSendRequests, PartialSendKeepsTheRestOfTheHeadRequest) {
  // 10000 bytes in 4096-byte requests; the system takes 3000, then the rest.
  CQueSendRequests q;
  std::string data(10000, '\0');
  std::iota(data.begin(), data.end(), '\0');
  ASSERT_EQ(q.AddRequests(data, 4096, "", 0), 3);
  std::vector<CompletionRun> runs;
  q.Advance(3000, runs);
  EXPECT_TRUE(runs.empty());
  EXPECT_EQ(q.Count(), 3);
  EXPECT_EQ(q.Bytes(), 7000);
  iovec v[1];
  ASSERT_EQ(q.GatherHead(v, 1), 1);
  EXPECT_EQ(std::string(static_cast<char*>(v[0].iov_base), v[0].iov_len), data.substr(3000));
  EXPECT_EQ(q.Head().HeadRequestEnd() - q.Head().sent, 1096);
  q.Advance(1096, runs);
  EXPECT_EQ(Flatten(runs), (std::vector<std::int64_t>{4096}));
  runs.clear();
  q.Advance(5904, runs);
  EXPECT_EQ(Flatten(runs), (std::vector<std::int64_t>{4096, 1808}));
  EXPECT_TRUE(q.Empty());
}

TEST(CQueSendRequests, OneBigSendCompletesAcrossSegmentsInOrder) {
  CQueSendRequests q;
  q.AddRequests(std::string(5, 'a'), 2, "", 0);
  q.AddRequests(std::string(3, 'b'), 4, "", 0);
  iovec v[8];
  ASSERT_EQ(q.GatherHead(v, 8), 2);
  std::vector<CompletionRun> runs;
  q.Advance(8, runs);
  EXPECT_EQ(Flatten(runs), (std::vector<std::int64_t>{2, 2, 1, 3}));
  EXPECT_TRUE(q.Empty());
}

TEST(CQueSendRequests, AlreadySentBytesAreNotStored) {
  CQueSendRequests q;
  const std::string data = "0123456789";
  ASSERT_EQ(q.AddRequests(data, 4, "", 0, 6), 3);
  std::vector<CompletionRun> runs;
  q.Advance(6, runs);
  EXPECT_EQ(q.Bytes(), 4);
  EXPECT_EQ(Flatten(runs), (std::vector<std::int64_t>{4}));
  iovec v[1];
  ASSERT_EQ(q.GatherHead(v, 1), 1);
  EXPECT_EQ(std::string(static_cast<char*>(v[0].iov_base), v[0].iov_len), "6789");
  EXPECT_EQ(q.Head().bytes.size(), 4u);
}

TEST(CQueSendRequests, FileRangesCountLikeTheSameBytesAndStopTheGather) {
  CQueSendRequests q;
  q.AddRequests(std::string("head"), 512, "", 0);
  EXPECT_EQ(q.AddFileRange(platform::UniqueFd(), 0, 1025, 512), 3);
  EXPECT_EQ(q.AddFileRange(platform::UniqueFd(), 0, 0, 512), 1);  // empty range: one request, no bytes
  iovec v[8];
  EXPECT_EQ(q.GatherHead(v, 8), 1);
  EXPECT_EQ(q.Bytes(), 4 + 1025);
  EXPECT_EQ(Drain(q, 4096), (std::vector<std::int64_t>{4, 512, 512, 1, 0}));
  EXPECT_EQ(q.Bytes(), 0);
}

TEST(Counters, WrapToZeroAfterTheLargestValue) {
  std::int32_t c = 2147483646;
  portwell::WrapAdd(c, 1);
  EXPECT_EQ(c, 2147483647);
  portwell::WrapAdd(c, 1);
  EXPECT_EQ(c, 0);
  c = 2147483640;
  portwell::WrapAdd(c, 10);
  EXPECT_EQ(c, 2);
}

}  // namespace
