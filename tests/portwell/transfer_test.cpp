// Big transfers to a loopback peer that reads slowly: byte-exact arrival,
// and bounded memory for file ranges. 1 GiB each; 256 MiB when built with
// sanitizers, which make every byte several times dearer.
#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

using namespace std::chrono_literals;
using pwtest::Peer;
using pwtest::PumpUntil;
using pwtest::Recorder;

#if defined(__SANITIZE_ADDRESS__)
constexpr std::int64_t kSize = 256ll << 20;
#else
constexpr std::int64_t kSize = 1ll << 30;
#endif
constexpr std::size_t kBlock = 1 << 20;

// Position-dependent bytes: a block in the wrong place does not match.
inline char PatternByte(std::uint64_t i) { return static_cast<char>((i ^ (i >> 8) ^ (i >> 16) ^ (i >> 24)) & 0xFF); }

void FillPattern(std::string& block, std::uint64_t offset) {
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = PatternByte(offset + i);
}

long ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0;
  long resident = 0;
  statm >> pages >> resident;
  return resident * ::sysconf(_SC_PAGESIZE);
}

// Reads everything, pausing now and then like a slow client, and checks
// every byte against the pattern.
struct SlowReader {
  explicit SlowReader(Peer& peer)
      : thread([this, &peer] {
          std::vector<char> buffer(64 * 1024);
          std::int64_t since = 0;
          while (total < kSize) {
            pollfd p{peer.fd(), POLLIN, 0};
            if (::poll(&p, 1, 30000) <= 0) break;
            const long n = ::recv(peer.fd(), buffer.data(), buffer.size(), 0);
            if (n <= 0) break;
            for (long i = 0; i < n; ++i) {
              if (buffer[static_cast<std::size_t>(i)] != PatternByte(static_cast<std::uint64_t>(total + i))) {
                mismatches++;
              }
            }
            total += n;
            since += n;
            if (since >= (8 << 20)) {
              since = 0;
              std::this_thread::sleep_for(1ms);
            }
          }
          done = true;
        }) {}
  ~SlowReader() {
    if (thread.joinable()) thread.join();
  }
  std::atomic<std::int64_t> total{0};
  std::atomic<std::int64_t> mismatches{0};
  std::atomic<bool> done{false};
  std::thread thread;
};

class TransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PortwellLoadStatus status{};
    pw = PortwellInstance::Load(PORTWELL_LIBRARY_PATH, status);
    ASSERT_TRUE(pw);
    pw->SetEventSink(&rec);
    ASSERT_TRUE(pw->Activate(true));
    const std::int32_t listener = pw->AddListener(0);
    ASSERT_GT(listener, 0);
    peer = Peer::ConnectTo(pw->ItemByKey(std::to_string(listener)).LocalPort);
    ASSERT_TRUE(PumpUntil([&] { return pw->NumberOfConnections() == 2; }));
    socket = pw->ItemByIndex(2).SocketHandle;
  }
  void TearDown() override { pw.Reset(); }

  Recorder rec;
  PortwellInstance pw;
  Peer peer;
  std::int32_t socket = -1;
};

TEST_F(TransferTest, SendFileArrivesWholeWithBoundedMemory) {
  const auto path = std::filesystem::temp_directory_path() / ("pw-big-" + std::to_string(::getpid()));
  {
    std::ofstream out(path, std::ios::binary);
    std::string block(kBlock, '\0');
    for (std::int64_t at = 0; at < kSize; at += static_cast<std::int64_t>(kBlock)) {
      FillPattern(block, static_cast<std::uint64_t>(at));
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
  }
  rec.recordData = false;
  const std::string key = std::to_string(socket);
  pw->NotifyOnEmptySendQue(key, "FILE", static_cast<std::int32_t>(kSize));
  const long before = ResidentBytes();
  long peak = before;
  SlowReader reader(peer);
  ASSERT_EQ(pw->SendFile(socket, path.string(), 0, -1), 0);
  EXPECT_EQ(pw->RequestsToSendReceived(), kSize / 4096);
  EXPECT_TRUE(PumpUntil(
      [&] {
        peak = std::max(peak, ResidentBytes());
        return reader.done.load();
      },
      240000ms));
  EXPECT_EQ(reader.total.load(), kSize);
  EXPECT_EQ(reader.mismatches.load(), 0);
  EXPECT_TRUE(PumpUntil([&] { return rec.empties.size() == 1; }));
  EXPECT_EQ(pw->RequestsToSendProcessed(), kSize / 4096);
  // The file never passes through the process's memory.
  EXPECT_LT(peak - before, 64l << 20) << "resident memory grew by " << (peak - before) / 1024 << " KiB";
  std::filesystem::remove(path);
}

TEST_F(TransferTest, SendDataSequenceArrivesWholeInSmallChunks) {
  pw->SetChunkSize(512);
  pw->Activate(false);  // new sockets take the chunk size: reconnect
  pw.Reset();
  SetUp();
  ASSERT_EQ(pw->ItemByKey(std::to_string(socket)).ChunkSize, 4096);
  // The chunk size of a socket comes from the registry when it is attached.
  pw->SetChunkSize(512);
  const std::int32_t listener = pw->ItemByIndex(1).SocketHandle;
  Peer second = Peer::ConnectTo(pw->ItemByKey(std::to_string(listener)).LocalPort);
  ASSERT_TRUE(PumpUntil([&] { return pw->NumberOfConnections() == 3; }));
  const std::int32_t s = pw->ItemByIndex(3).SocketHandle;
  ASSERT_EQ(pw->ItemByKey(std::to_string(s)).ChunkSize, 512);

  rec.recordData = false;
  std::int64_t queued = 0;
  std::string block(kBlock, '\0');
  auto sendNext = [&] {
    if (queued >= kSize) return;
    FillPattern(block, static_cast<std::uint64_t>(queued));
    // Counted first: SendData may raise EmptySendQue, which sends the next block.
    queued += static_cast<std::int64_t>(kBlock);
    pw->SendData(s, block);
  };
  // Keep about 8 MiB waiting: one more block each time one has gone.
  pw->NotifyOnEmptySendQue(std::to_string(s), "BLOCK", static_cast<std::int32_t>(kBlock));
  rec.onEmpty = [&](std::int32_t, const std::string&) { sendNext(); };
  SlowReader reader(second);
  for (int i = 0; i < 8; ++i) sendNext();
  EXPECT_TRUE(PumpUntil([&] { return reader.done.load(); }, 240000ms));
  EXPECT_EQ(reader.total.load(), kSize);
  EXPECT_EQ(reader.mismatches.load(), 0);
  EXPECT_EQ(pw->RequestsToSendReceived(), kSize / 512);
  EXPECT_TRUE(PumpUntil([&] { return pw->RequestsToSendProcessed() == kSize / 512; }));
  EXPECT_EQ(static_cast<std::int64_t>(rec.empties.size()), kSize / static_cast<std::int64_t>(kBlock));
}

}  // namespace
