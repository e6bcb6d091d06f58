// The component from end to end, loaded the way the program loads it.
#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <thread>

namespace {

using namespace std::chrono_literals;
using pwtest::Peer;
using pwtest::PumpFor;
using pwtest::PumpUntil;
using pwtest::Recorder;

std::string Key(std::int32_t handle) { return std::to_string(handle); }

class PortwellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PortwellLoadStatus status{};
    std::string detail;
    pw = PortwellInstance::Load(PORTWELL_LIBRARY_PATH, status, &detail);
    ASSERT_EQ(status, PortwellLoadStatus::Loaded) << detail;
    pw->SetEventSink(&rec);
  }
  void TearDown() override { pw.Reset(); }

  void Activate() { ASSERT_TRUE(pw->Activate(true)); }

  // A listener on a free loopback port; returns its handle, sets `port`.
  std::int32_t Listen(int* port) {
    const std::int32_t h = pw->AddListener(0);
    EXPECT_GT(h, 0);
    *port = pw->ItemByKey(Key(h)).LocalPort;
    return h;
  }

  // Listens, connects a peer and accepts it; returns the accepted handle.
  // `option` (if any) is set on the listener first.
  std::int32_t Accepted(Peer* peer, int* listenPort = nullptr, PWL_SOCK_OPTION option = PWL_SO_DEBUG,
                        std::int32_t value = 0) {
    int port = 0;
    const std::int32_t listener = Listen(&port);
    if (option != PWL_SO_DEBUG) {
      EXPECT_EQ(pw->SetSockOptionValue(Key(listener), option, value), 0);
    }
    const std::size_t before = rec.log.size();
    *peer = Peer::ConnectTo(port);
    EXPECT_TRUE(peer->valid());
    std::int32_t accepted = -1;
    EXPECT_TRUE(PumpUntil([&] {
      for (std::size_t i = before; i < rec.log.size(); ++i) {
        if (rec.log[i].rfind("status ", 0) == 0 && rec.log[i].size() > 2 &&
            rec.log[i].substr(rec.log[i].size() - 2) == " 3") {
          accepted = std::stoi(rec.log[i].substr(7));
          return true;
        }
      }
      return false;
    }));
    if (listenPort) *listenPort = port;
    (void)listener;
    return accepted;
  }

  Recorder rec;
  PortwellInstance pw;
};

// ---- creation, activation, component errors ----------------------------------------------

TEST(PortwellLoading, FactoryKnowsOnlyItsClassAndMissingFilesAreTold) {
  PortwellLoadStatus status{};
  auto absent = PortwellInstance::Load("/nonexistent/libportwell.so", status);
  EXPECT_EQ(status, PortwellLoadStatus::FileAbsent);
  EXPECT_FALSE(absent);
  const auto junk = std::filesystem::temp_directory_path() / ("libjunk-" + std::to_string(::getpid()) + ".so");
  std::ofstream(junk) << "not a library";
  auto broken = PortwellInstance::Load(junk.string(), status);
  EXPECT_EQ(status, PortwellLoadStatus::NotLoadable);
  EXPECT_FALSE(broken);
  std::filesystem::remove(junk);

  void* lib = ::dlopen(PORTWELL_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr);
  auto create = reinterpret_cast<PortwellCreateFn>(::dlsym(lib, "PortwellCreateObject"));
  ASSERT_NE(create, nullptr);
  EXPECT_EQ(create("Portwell.Other"), nullptr);
  EXPECT_EQ(create(nullptr), nullptr);
  ::dlclose(lib);
}

TEST_F(PortwellTest, SendDataBeforeActivateIsTheComponentError) {
  EXPECT_EQ(pw->BaseWndMsg(), 1013);
  EXPECT_FALSE(pw->IsActive());
  try {
    pw->SendData(5, std::string("x"));
    FAIL() << "no error";
  } catch (const PortwellError& e) {
    EXPECT_EQ(e.Number, static_cast<std::int32_t>(0x800403E8u));
    EXPECT_EQ(e.Number, -2147220504);
    EXPECT_EQ(e.Source, "Portwell");
    EXPECT_EQ(e.Description, "No active connections");
  }
  EXPECT_EQ(pw->CloseSock("7"), 0);  // inactive: nothing happens
  Activate();
  EXPECT_EQ(pw->BaseWndMsg(), 1013);
  EXPECT_TRUE(pw->Activate(true));
  EXPECT_EQ(pw->CloseSock("0"), 0);
  EXPECT_EQ(pw->CloseSock(""), 0);
  EXPECT_EQ(pw->CloseSock("abc"), 0);
  // A handle that is not registered: the lookup failure is a component error.
  EXPECT_THROW(pw->SendData(999999, std::string("x")), PortwellError);
  EXPECT_THROW(pw->CloseSock("999999"), PortwellError);
  EXPECT_THROW(pw->RemotePort("999999"), std::out_of_range);
  EXPECT_THROW(pw->ItemByKey("999999"), std::out_of_range);
  EXPECT_FALSE(pw->ItemExists("999999"));
  EXPECT_TRUE(rec.log.empty());
}

TEST_F(PortwellTest, ServicesReportHonestValues) {
  Activate();
  EXPECT_NE(pw->hwnd(), 0);
  EXPECT_EQ(pw->SocketInfoSystemStatus(), "Running");
  EXPECT_EQ(pw->SocketInfoVersion(), "1.1");
  EXPECT_EQ(pw->SocketInfoVendorInfo(), "");
  EXPECT_FALSE(pw->SocketInfoDescription().empty());
  EXPECT_GT(std::stoi(pw->SocketInfoMaxSockets()), 0);
  EXPECT_LE(std::stoi(pw->SocketInfoMaxSockets()), 65535);
  EXPECT_EQ(pw->SocketInfoMaxUdpDg(), "65507");
  const auto ips = pw->LocalHostIP();
  ASSERT_FALSE(ips.empty());
  EXPECT_EQ(pw->LocalHostIP(0), ips[0]);
  EXPECT_EQ(pw->LocalHostIP(static_cast<std::int32_t>(ips.size())), "");
  // The IPv6 list: no link-local address, loopback last.
  const auto ips6 = pw->LocalHostIP6();
  for (std::size_t i = 0; i < ips6.size(); ++i) {
    EXPECT_TRUE(PortwellIsIPv6(ips6[i])) << ips6[i];
    EXPECT_NE(ips6[i].rfind("fe80:", 0), 0u) << ips6[i];
    if (ips6[i] == "::1") {
      EXPECT_EQ(i + 1, ips6.size());
    }
  }
  EXPECT_FALSE(pw->LocalHostName().empty());
  EXPECT_EQ(pw->ChunkSize(), 4096);
  pw->SetChunkSize(0);  // ignored: a chunk holds at least one byte
  EXPECT_EQ(pw->ChunkSize(), 4096);
  EXPECT_EQ(pw->ProcessingIntervalReceive(), 100);
  EXPECT_EQ(pw->ProcessingIntervalToSend(), 100);
}

TEST_F(PortwellTest, LastSockErrClearsWhenRead) {
  Activate();
  EXPECT_EQ(pw->Connect("127.0.0.1", pwtest::ClosedPort()), -1);
  EXPECT_EQ(pw->LastSockErr(), 10061);
  EXPECT_EQ(pw->LastSockErr(), 0);
}

// ---- listening and accepting ----------------------------------------------------------------

TEST_F(PortwellTest, ListenAcceptAndTheReversedPorts) {
  Activate();
  const std::int32_t listener = pw->AddListener(0);
  ASSERT_GT(listener, 0);
  // The listening state is reported before AddListener returns.
  ASSERT_EQ(rec.log, (std::vector<std::string>{"status " + Key(listener) + " 2"}));
  const int port = pw->ItemByKey(Key(listener)).LocalPort;
  EXPECT_GT(port, 0);
  EXPECT_EQ(pw->ItemByKey(Key(listener)).State, PWL_LISTENING);

  Peer peer = Peer::ConnectTo(port);
  ASSERT_TRUE(PumpUntil([&] { return pw->NumberOfConnections() == 2 && rec.log.size() >= 3; }));
  const std::int32_t accepted = pw->ItemByIndex(2).SocketHandle;
  EXPECT_EQ(rec.For(accepted), (std::vector<std::string>{"request " + Key(accepted), "status " + Key(accepted) + " 3"}));
  EXPECT_EQ(pw->RemotePort(Key(accepted)), port);              // the listening port
  EXPECT_EQ(pw->LocalPort(accepted), peer.LocalPort());        // the peer's port
  EXPECT_EQ(pw->RemoteHostIP(Key(accepted)), "127.0.0.1");
  EXPECT_EQ(pw->ItemByKey(Key(accepted)).LocalIP, "127.0.0.1");
  EXPECT_EQ(pw->ItemByKey(Key(accepted)).AddressFamily, 4);
}

TEST_F(PortwellTest, IPv6ListenerAcceptsAndEchoesWithTheSameFieldsAsIPv4) {
  if (!pwtest::HasIPv6Loopback()) GTEST_SKIP() << "::1 is not available on this host";
  Activate();
  const std::int32_t listener = pw->AddListenerOn(0, "::1");
  ASSERT_GT(listener, 0);
  EXPECT_EQ(rec.log, (std::vector<std::string>{"status " + Key(listener) + " 2"}));
  const PortwellSocketInfo listening = pw->ItemByKey(Key(listener));
  EXPECT_EQ(listening.AddressFamily, 6);
  EXPECT_EQ(listening.LocalIP, "::1");
  const int port = pw->LocalPort(listener);
  ASSERT_GT(port, 0);

  Peer peer = Peer::ConnectTo(port, "::1");
  ASSERT_TRUE(peer.valid());
  ASSERT_TRUE(PumpUntil([&] { return pw->NumberOfConnections() == 2; }));
  const std::int32_t accepted = pw->ItemByIndex(2).SocketHandle;
  const PortwellSocketInfo info = pw->ItemByKey(Key(accepted));
  EXPECT_EQ(info.State, PWL_ACCEPTED_CONNECTION);
  EXPECT_EQ(info.RemoteHostIP, "::1");
  EXPECT_EQ(info.LocalIP, "::1");
  EXPECT_EQ(info.RemotePort, port);              // the listening port, as for IPv4
  EXPECT_EQ(info.LocalPort, peer.LocalPort());   // the peer's port
  EXPECT_EQ(info.ListenerHandle, listener);
  EXPECT_EQ(info.AddressFamily, 6);
  EXPECT_EQ(PortwellEndpointText(info.RemoteHostIP, info.LocalPort), "[::1]:" + std::to_string(peer.LocalPort()));

  peer.Send("ping");
  ASSERT_TRUE(PumpUntil([&] { return rec.received[accepted] == "ping"; }));
  pw->SendData(accepted, std::string("pong"));
  EXPECT_EQ(peer.Read(4), "pong");
}

TEST_F(PortwellTest, AnyIPv6ListenerLeavesIPv4ToItsOwnListenerAndBadAddressesAreRefused) {
  EXPECT_EQ(pw->AddListenerOn(0, "127.0.0.1"), -1);
  EXPECT_EQ(pw->LastSockErr(), 10093);  // services not started
  Activate();
  for (const char* bad : {"localhost", "1.2.3", "::g", "", "[::1", "::1%no-such-interface"}) {
    EXPECT_EQ(pw->AddListenerOn(0, bad), -1) << bad;
    EXPECT_EQ(pw->LastSockErr(), 10049) << bad;
  }
  EXPECT_EQ(pw->AddListenerOn(70000, "127.0.0.1"), -1);
  EXPECT_EQ(pw->LastSockErr(), 10022);
  EXPECT_EQ(pw->Connect("[::1", 21), -1);
  EXPECT_EQ(pw->LastSockErr(), 10049);
  EXPECT_EQ(pw->NumberOfConnections(), 0);
  if (!pwtest::HasIPv6Loopback()) GTEST_SKIP() << "::1 is not available on this host";

  const std::int32_t any6 = pw->AddListenerOn(0, "::");
  ASSERT_GT(any6, 0);
  const int port = pw->LocalPort(any6);
  // Nothing takes the port's IPv4 connections...
  EXPECT_FALSE(Peer::ConnectTo(port).valid());
  // ...until an IPv4 listener of the same port does, which IPv6-only makes
  // possible at all.
  const std::int32_t loopback4 = pw->AddListenerOn(port, "127.0.0.1");
  ASSERT_GT(loopback4, 0);
  EXPECT_EQ(pw->ItemByKey(Key(loopback4)).AddressFamily, 4);
  Peer v4 = Peer::ConnectTo(port);
  Peer v6 = Peer::ConnectTo(port, "::1");
  ASSERT_TRUE(v4.valid() && v6.valid());
  ASSERT_TRUE(PumpUntil([&] { return pw->NumberOfConnections() == 4; }));
  std::map<std::int32_t, std::string> byListener;
  for (std::int32_t i = 3; i <= 4; ++i) byListener[pw->ItemByIndex(i).ListenerHandle] = pw->ItemByIndex(i).RemoteHostIP;
  EXPECT_EQ(byListener, (std::map<std::int32_t, std::string>{{any6, "::1"}, {loopback4, "127.0.0.1"}}));
}

TEST_F(PortwellTest, RejectedConnectionIsReportedOnceAndNeverTerminated) {
  Activate();
  int port = 0;
  Listen(&port);
  rec.accept = false;
  Peer peer = Peer::ConnectTo(port);
  ASSERT_TRUE(PumpUntil([&] { return rec.log.size() >= 3; }));
  PumpFor(50ms);
  const std::int32_t rejected = std::stoi(rec.log[1].substr(8));
  EXPECT_EQ(rec.For(rejected), (std::vector<std::string>{"request " + Key(rejected), "status " + Key(rejected) + " 10"}));
  EXPECT_EQ(rec.terminated.count(rejected), 0u);
  EXPECT_EQ(pw->NumberOfConnections(), 1);
  EXPECT_TRUE(peer.WaitEnd());
}

TEST_F(PortwellTest, ManySocketsAtOnce) {
  Activate();
  const std::int32_t listener = pw->AddListener(0, PWL_TCPIP, -1, 1024);
  ASSERT_GT(listener, 0);
  const int port = pw->ItemByKey(Key(listener)).LocalPort;
  rec.recordData = false;
  // Echo every block back.
  rec.onData = [&](std::int32_t s, PortwellData& d, bool&) { pw->SendData(s, d); };
  constexpr int kPeers = 500;
  std::vector<Peer> peers;
  for (int i = 0; i < kPeers; ++i) {
    peers.push_back(Peer::ConnectTo(port));
    ASSERT_TRUE(peers.back().valid());
    if (i % 20 == 19) PumpFor(1ms);
  }
  ASSERT_TRUE(PumpUntil([&] { return pw->NumberOfConnections() == kPeers + 1; }, 20000ms));
  for (int i = 0; i < kPeers; ++i) peers[static_cast<std::size_t>(i)].Send("peer " + std::to_string(i));
  ASSERT_TRUE(PumpUntil([&] { return rec.received.size() == kPeers; }, 20000ms));
  for (int i = 0; i < kPeers; ++i) {
    const std::string want = "peer " + std::to_string(i);
    EXPECT_EQ(peers[static_cast<std::size_t>(i)].Read(want.size()), want);
  }
  for (auto& p : peers) p.Close();
  ASSERT_TRUE(PumpUntil([&] { return pw->NumberOfConnections() == 1; }, 20000ms));
  EXPECT_EQ(static_cast<int>(rec.terminated.size()), kPeers);
}

// ---- receiving ------------------------------------------------------------------------------------

TEST_F(PortwellTest, ReceivedBytesAreWidenedUnlessTurnedOff) {
  Activate();
  Peer peer;
  const std::int32_t s = Accepted(&peer);
  std::string all(256, '\0');
  for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<char>(i);
  std::vector<PortwellData> blocks;
  rec.onData = [&](std::int32_t, PortwellData& d, bool&) { blocks.push_back(d); };
  peer.Send(all);
  ASSERT_TRUE(PumpUntil([&] { return rec.received[s].size() == 256; }));
  ASSERT_FALSE(blocks.empty());
  EXPECT_TRUE(blocks[0].IsText());
  std::u16string widened;
  for (const auto& b : blocks) widened += b.Text();
  ASSERT_EQ(widened.size(), 256u);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(widened[static_cast<std::size_t>(i)], static_cast<char16_t>(i));

  blocks.clear();
  pw->SetNoUnicodeConversionOnRecv(Key(s), true);
  peer.Send(all);
  ASSERT_TRUE(PumpUntil([&] { return rec.received[s].size() == 512; }));
  std::string raw;
  for (const auto& b : blocks) {
    EXPECT_FALSE(b.IsText());
    raw += b.Bytes();
  }
  EXPECT_EQ(raw, all);
  EXPECT_EQ(pw->RequestsProcessed(), pw->RequestsReceived());
}

TEST_F(PortwellTest, DeclinedBlockComesBackWithTheSameBytes) {
  Activate();
  Peer peer;
  const std::int32_t s = Accepted(&peer);
  pw->SetProcessingIntervalReceive(10);
  std::vector<std::pair<bool, std::string>> offers;
  int offered = 0;
  rec.onData = [&](std::int32_t, PortwellData& d, bool& retrieved) {
    ++offered;
    offers.emplace_back(offered == 1, d.ToBytes());
    retrieved = offered > 1;
    EXPECT_LE(pw->RequestsProcessed(), pw->RequestsReceived());
  };
  peer.Send("declined once");
  ASSERT_TRUE(PumpUntil([&] { return offered == 2; }));
  EXPECT_EQ(offers[0].second, "declined once");
  EXPECT_EQ(offers[1].second, "declined once");
  EXPECT_EQ(pw->RequestsReceived(), 1);
  EXPECT_EQ(pw->RequestsProcessed(), 1);
  EXPECT_EQ(pw->ItemByKey(Key(s)).QueReceiveCount, 0);
}

TEST_F(PortwellTest, BufferedReceiveDeliversFromTheTick) {
  Activate();
  Peer peer;
  const std::int32_t s = Accepted(&peer);
  pw->SetProcessingIntervalReceive(10);
  pw->SetUseBufferToReceive(Key(s), true);
  EXPECT_TRUE(pw->UseBufferToReceive(Key(s)));
  peer.Send("queued");
  ASSERT_TRUE(PumpUntil([&] { return rec.received[s] == "queued"; }));
  EXPECT_EQ(pw->RequestsReceived(), 1);
  EXPECT_EQ(pw->RequestsProcessed(), 1);
}

TEST_F(PortwellTest, PausedSocketHoldsItsInputAndItsCloseUntilResumed) {
  Activate();
  pw->SetProcessingIntervalReceive(10);
  for (const bool buffered : {false, true}) {
    SCOPED_TRACE(buffered ? "buffered" : "direct");
    Peer peer;
    const std::int32_t s = Accepted(&peer);
    pw->SetLingerTime(Key(s), 1);
    pw->SetUseBufferToReceive(Key(s), buffered);
    // The first block is declined and the socket paused from its handler: the
    // block waits in the receive queue, what follows in the system.
    int offers = 0;
    rec.onData = [&](std::int32_t h, PortwellData&, bool& retrieved) {
      if (h == s && ++offers == 1) {
        retrieved = false;
        pw->SetReceivePaused(Key(h), true);
      }
    };
    peer.Send("one");
    ASSERT_TRUE(PumpUntil([&] { return offers == 1; }));
    peer.Send("two");
    peer.Close();
    PumpFor(50ms);
    EXPECT_EQ(pwtest::DispatchedDuring(50ms), 0);  // no reads, no timer, no spinning
    EXPECT_EQ(offers, 1);
    EXPECT_EQ(pw->ItemByKey(Key(s)).QueReceiveCount, 1);
    pw->SetReceivePaused(Key(s), false);
    ASSERT_TRUE(PumpUntil([&] { return rec.terminated.count(s) > 0; }));
    EXPECT_EQ(rec.received[s], "onetwo");
    // The peer's close comes after the data that preceded it.
    EXPECT_EQ(rec.For(s, true),
              (std::vector<std::string>{"request " + Key(s), "status " + Key(s) + " 3", "data " + Key(s) + " 3",
                                        "data " + Key(s) + " 3", "data " + Key(s) + " 3", "status " + Key(s) + " 8",
                                        "status " + Key(s) + " 0", "terminated " + Key(s),
                                        "status " + Key(s) + " 0"}));
  }
  rec.onData = nullptr;
  // A reset is not held: it ends the pause, after the data before it.
  Peer peer;
  const std::int32_t s = Accepted(&peer);
  pw->SetLingerTime(Key(s), 1);
  pw->SetReceivePaused(Key(s), true);
  peer.Send("held");
  peer.Reset();
  ASSERT_TRUE(PumpUntil([&] { return rec.terminated.count(s) > 0; }));
  EXPECT_EQ(rec.For(s, true),
            (std::vector<std::string>{"request " + Key(s), "status " + Key(s) + " 3", "data " + Key(s) + " 4",
                                      "error " + Key(s) + " 10054", "status " + Key(s) + " 9",
                                      "status " + Key(s) + " 8", "status " + Key(s) + " 0", "terminated " + Key(s),
                                      "status " + Key(s) + " 0"}));
}

// A client's replies outgrow what its peer reads: the sink pauses reading
// above a mark and resumes once what was queued has gone, as the server does
// with control connections.
TEST_F(PortwellTest, PausingBoundsTheRepliesToAPeerThatDoesNotRead) {
  Activate();
  Peer peer;
  const std::int32_t s = Accepted(&peer);
  pw->SetSockOption(Key(s), PWL_OPTIONAL_SO_SNDBUF, true);
  peer.ShrinkReceiveBuffer();
  constexpr int kLines = 32768;
  constexpr std::size_t kLine = 32;
  constexpr std::size_t kReply = 512;
  constexpr std::int64_t kMark = 64 * 1024;
  std::string pending;
  int answered = 0;
  int pauses = 0;
  bool paused = false;
  std::int64_t most = 0;
  auto work = [&] {
    std::size_t end;
    while (!paused && (end = pending.find('\n')) != std::string::npos) {
      pending.erase(0, end + 1);
      pw->SendData(s, std::string(kReply, 'r'));
      ++answered;
      const std::int64_t queued = pw->ItemByKey(Key(s)).QueSendBytes;
      most = std::max(most, queued);
      if (queued > kMark) {
        paused = true;
        ++pauses;
        pw->SetReceivePaused(Key(s), true);
        pw->NotifyOnEmptySendQue(Key(s), "DRAINED", static_cast<std::int32_t>(queued));
      }
    }
  };
  rec.recordData = false;
  rec.onData = [&](std::int32_t, PortwellData& d, bool&) {
    pending += d.ToBytes();
    work();
  };
  rec.onEmpty = [&](std::int32_t h, const std::string& id) {
    if (id != "DRAINED") return;
    EXPECT_LT(pw->ItemByKey(Key(h)).QueSendBytes, 4096);  // what was queued has gone
    pw->NotifyOnEmptySendQue(Key(h), "", 0);
    paused = false;
    pw->SetReceivePaused(Key(h), false);
    work();
  };
  std::thread sender([&] {
    std::string line(kLine - 1, 'n');
    line += '\n';
    std::string all;
    for (int i = 0; i < kLines; ++i) all += line;
    peer.Send(all);
  });
  // Replies flow until the peer's buffers are full; then reading stops and
  // the rest of the lines waits in the system.
  std::size_t read = 0;
  ASSERT_TRUE(PumpUntil(
      [&] {
        const std::size_t before = rec.received[s].size();
        PumpFor(200ms);
        read = rec.received[s].size();
        return paused && read == before;
      },
      20000ms));
  EXPECT_LT(read, kLines * kLine);
  // The peer reads: everything flows again.
  std::size_t got = 0;
  EXPECT_TRUE(PumpUntil(
      [&] {
        char buffer[65536];
        long n;
        while ((n = ::recv(peer.fd(), buffer, sizeof buffer, MSG_DONTWAIT)) > 0) got += static_cast<std::size_t>(n);
        return got == kLines * kReply;
      },
      30000ms));
  sender.join();
  EXPECT_EQ(answered, kLines);
  EXPECT_LE(most, kMark + static_cast<std::int64_t>(kReply));
  EXPECT_GT(pauses, 1);
}

TEST_F(PortwellTest, UdpDatagramsBothWays) {
  Activate();
  const std::int32_t udp = pw->AddListener(0, PWL_UDP);
  ASSERT_GT(udp, 0);
  const int port = pw->ItemByKey(Key(udp)).LocalPort;
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in self{};
  self.sin_family = AF_INET;
  self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof self);
  socklen_t len = sizeof self;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&self), &len);
  sockaddr_in to = self;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  const std::string big(40000, 'b');
  ::sendto(fd, big.data(), big.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  std::string lastHost;
  rec.onData = [&](std::int32_t s, PortwellData&, bool&) { lastHost = pw->ItemByKey(Key(s)).LastRemoteHostUDP; };
  ASSERT_TRUE(PumpUntil([&] { return !rec.received[udp].empty(); }));
  EXPECT_EQ(rec.received[udp].size(), 32767u);  // a datagram is cut at 32767 bytes
  EXPECT_EQ(lastHost, "127.0.0.1");
  EXPECT_EQ(pw->ItemByKey(Key(udp)).LastRemotePortUDP, std::to_string(ntohs(self.sin_port)));

  pw->SendData(udp, std::string("reply"), "127.0.0.1", ntohs(self.sin_port));
  char buffer[64];
  pollfd p{fd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 5000), 1);
  const long n = ::recv(fd, buffer, sizeof buffer, 0);
  EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(std::max(0L, n))), "reply");
  ::close(fd);
}

// ---- sending --------------------------------------------------------------------------------------

TEST_F(PortwellTest, ChunkCountsAndEmptySends) {
  Activate();
  Peer peer;
  const std::int32_t s = Accepted(&peer);
  pw->SendData(s, std::string(8192, 'a'));
  EXPECT_EQ(pw->RequestsToSendReceived(), 2);
  pw->SendData(s, std::string(8193, 'b'));
  EXPECT_EQ(pw->RequestsToSendReceived(), 5);
  pw->SetChunkSize(2);
  // The socket keeps the chunk size it was attached with; a new socket takes
  // the new one.
  pw->SendData(s, std::u16string(u"ABCDE"));
  EXPECT_EQ(pw->RequestsToSendReceived(), 6);
  EXPECT_EQ(pw->RequestsToSendProcessed(), 6);
  pw->SendData(s, std::string());
  EXPECT_EQ(pw->RequestsToSendReceived(), 7);
  const std::string want = std::string(8192, 'a') + std::string(8193, 'b') + "ABCDE" + std::string(1, '\0');
  EXPECT_EQ(peer.Read(want.size()), want);
  EXPECT_EQ(pw->ItemByKey(Key(s)).BytesSent, static_cast<std::int32_t>(want.size()));

  Peer second;
  const std::int32_t t = Accepted(&second);
  EXPECT_EQ(pw->ItemByKey(Key(t)).ChunkSize, 2);
  pw->SendData(t, std::u16string(u"ABCDE"));  // "AB", "CD", "E"
  EXPECT_EQ(pw->RequestsToSendReceived(), 10);
  EXPECT_EQ(second.Read(5), "ABCDE");
}

TEST_F(PortwellTest, BufferedEmptySendIsOneZeroByteFromTheTick) {
  Activate();
  Peer peer;
  const std::int32_t s = Accepted(&peer);
  pw->SetProcessingIntervalToSend(10);
  pw->SetUseBufferToSend(Key(s), true);
  pw->NotifyOnEmptySendQue(Key(s), "EMPTY", 1);
  pw->SendData(s, std::u16string());
  EXPECT_EQ(pw->ItemByKey(Key(s)).QueSendCount, 1);
  ASSERT_TRUE(PumpUntil([&] { return rec.empties.size() == 1; }));
  EXPECT_EQ(pw->ItemByKey(Key(s)).QueSendCount, 0);
  EXPECT_EQ(peer.Read(1), std::string(1, '\0'));
}

TEST_F(PortwellTest, EmptySendQueFiresOncePerArmedCount) {
  Activate();
  Peer peer;
  const std::int32_t s = Accepted(&peer);
  pw->NotifyOnEmptySendQue(Key(s), "RETR", 8192);
  pw->SendData(s, std::string(4096, 'x'));
  EXPECT_TRUE(rec.empties.empty());
  pw->SendData(s, std::string(4096, 'x'));
  ASSERT_EQ(rec.empties.size(), 1u);
  EXPECT_EQ(rec.empties[0], std::make_pair(s, std::string("RETR")));
  EXPECT_EQ(pw->ItemByKey(Key(s)).BytesSent, 0);
  pw->SendData(s, std::string(8192, 'x'));  // two more requests: fires again
  EXPECT_EQ(rec.empties.size(), 2u);
  EXPECT_EQ(peer.Read(16384).size(), 16384u);
}

TEST_F(PortwellTest, EventsKeepRequestOrderWhenAHandlerSendsMore) {
  Activate();
  Peer peer;
  const std::int32_t s = Accepted(&peer);
  pw->NotifyOnEmptySendQue(Key(s), "X", 4096);
  int fired = 0;
  rec.onEmpty = [&](std::int32_t h, const std::string&) {
    if (++fired <= 3) pw->SendData(h, std::string(4096, static_cast<char>('0' + fired)));
  };
  pw->SendData(s, std::string(8192, 'a'));
  ASSERT_TRUE(PumpUntil([&] { return fired == 5; }));
  const std::string want = std::string(8192, 'a') + std::string(4096, '1') + std::string(4096, '2') +
                           std::string(4096, '3');
  EXPECT_EQ(peer.Read(want.size()), want);
}

TEST_F(PortwellTest, LargeSendWaitsForWriteReadinessAndArrivesWhole) {
  Activate();
  Peer peer;
  const std::int32_t s = Accepted(&peer);
  std::string big(32 * 1024 * 1024, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i ^ (i >> 9)) & 0xFF);
  pw->NotifyOnEmptySendQue(Key(s), "BIG", static_cast<std::int32_t>(big.size()));
  pw->SendData(s, big);
  EXPECT_GT(pw->ItemByKey(Key(s)).QueSendCount, 0);  // the system did not take it all at once
  std::string got;
  std::thread reader([&] { got = peer.Read(big.size(), 20000ms); });
  EXPECT_TRUE(PumpUntil([&] { return rec.empties.size() == 1; }, 20000ms));
  reader.join();
  EXPECT_TRUE(got == big);
  EXPECT_EQ(pw->RequestsToSendProcessed(), 8192);
}

TEST_F(PortwellTest, SendTickStopsAtAFullSocket) {
  Activate();
  Peer p1, p2, p3;
  const std::int32_t s1 = Accepted(&p1);
  const std::int32_t s2 = Accepted(&p2);
  const std::int32_t s3 = Accepted(&p3);
  PumpFor(20ms);  // the first write readiness of each new socket is spent
  // Fill the second socket: small buffers, and its peer does not read.
  pw->SetSockOption(Key(s2), PWL_OPTIONAL_SO_SNDBUF, true);
  p2.ShrinkReceiveBuffer();
  pw->SendData(s2, std::string(4 * 1024 * 1024, 'f'));
  ASSERT_GT(pw->ItemByKey(Key(s2)).QueSendCount, 0);
  pw->SetProcessingIntervalToSend(10);
  for (auto s : {s1, s2, s3}) pw->SetUseBufferToSend(Key(s), true);
  pw->SendData(s1, std::string(10000, '1'));
  pw->SendData(s3, std::string(10000, '3'));
  ASSERT_TRUE(PumpUntil([&] { return pw->ItemByKey(Key(s1)).QueSendCount == 0; }));
  PumpFor(100ms);
  EXPECT_EQ(pw->ItemByKey(Key(s3)).QueSendCount, 3);  // waits behind the full socket
  EXPECT_EQ(p1.Read(10000), std::string(10000, '1'));
  // Once the second peer reads, everything moves.
  std::string drained;
  std::thread drain([&] { drained = p2.Read(4 * 1024 * 1024, 20000ms); });
  EXPECT_TRUE(PumpUntil(
      [&] { return pw->ItemByKey(Key(s2)).QueSendCount == 0 && pw->ItemByKey(Key(s3)).QueSendCount == 0; },
      20000ms));
  drain.join();
  EXPECT_EQ(drained.size(), 4u * 1024 * 1024);
  EXPECT_EQ(p3.Read(10000), std::string(10000, '3'));
}

TEST_F(PortwellTest, SendFileCountsLikeSendDataAndSendsTheRange) {
  Activate();
  Peer peer;
  const std::int32_t s = Accepted(&peer);
  const auto path = std::filesystem::temp_directory_path() / ("pwfile-" + std::to_string(::getpid()));
  std::string content(100000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  std::ofstream(path, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
  pw->SetChunkSize(512);
  Peer second;
  const std::int32_t t = Accepted(&second);
  pw->NotifyOnEmptySendQue(Key(t), "FILE", 1000);
  EXPECT_EQ(pw->SendFile(t, path.string(), 10, 1000), 0);
  EXPECT_EQ(pw->RequestsToSendReceived(), 2);  // 512 + 488
  EXPECT_EQ(second.Read(1000), content.substr(10, 1000));
  ASSERT_TRUE(PumpUntil([&] { return rec.empties.size() == 1; }));
  // The whole file, then an empty range: no bytes, but one request completes.
  pw->NotifyOnEmptySendQue(Key(t), "REST", static_cast<std::int32_t>(content.size()));
  EXPECT_EQ(pw->SendFile(t, path.string(), 0, -1), 0);
  EXPECT_EQ(second.Read(content.size()), content);
  ASSERT_TRUE(PumpUntil([&] { return rec.empties.size() == 2; }));
  pw->NotifyOnEmptySendQue(Key(t), "NONE", 0);
  EXPECT_EQ(pw->SendFile(t, path.string(), 5, 0), 0);
  ASSERT_TRUE(PumpUntil([&] { return rec.empties.size() == 3; }));
  EXPECT_EQ(rec.empties.back().second, "NONE");
  EXPECT_EQ(second.Read(1, 100ms), "");
  // Bytes not yet taken by the system, file ranges included.
  pw->SetUseBufferToSend(Key(t), true);
  EXPECT_EQ(pw->SendFile(t, path.string(), 0, 1000), 0);
  pw->SendData(t, std::string(24, 'q'));
  EXPECT_EQ(pw->ItemByKey(Key(t)).QueSendBytes, 1024);
  ASSERT_TRUE(PumpUntil([&] { return pw->ItemByKey(Key(t)).QueSendBytes == 0; }));
  EXPECT_EQ(second.Read(1024), content.substr(0, 1000) + std::string(24, 'q'));

  EXPECT_EQ(pw->SendFile(t, path.string() + ".missing", 0, -1), ENOENT);
  EXPECT_EQ(pw->SendFile(t, path.string(), 0, 100001), 10022);
  EXPECT_EQ(pw->SendFile(999999, path.string(), 0, -1), 10038);

  // From the client's own descriptor, which the component closes when done.
  pw->SetUseBufferToSend(Key(t), false);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  pw->NotifyOnEmptySendQue(Key(t), "FD", 3000);
  EXPECT_EQ(pw->SendFileDescriptor(t, fd, 20, 3000), 0);
  EXPECT_EQ(second.Read(3000), content.substr(20, 3000));
  ASSERT_TRUE(PumpUntil([&] { return !rec.empties.empty() && rec.empties.back().second == "FD"; }));
  EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
  EXPECT_EQ(pw->SendFileDescriptor(999999, ::open(path.c_str(), O_RDONLY | O_CLOEXEC), 0, 1), 10038);
  // A file that ends before its range fails the connection.
  EXPECT_EQ(pw->SendFileDescriptor(s, ::open(path.c_str(), O_RDONLY | O_CLOEXEC), 0, 100010), 0);
  ASSERT_TRUE(PumpUntil([&] { return rec.terminated.count(s) > 0; }));
  EXPECT_EQ(rec.For(s).front(), "request " + Key(s));
  EXPECT_NE(std::find(rec.log.begin(), rec.log.end(), "status " + Key(s) + " 9"), rec.log.end());
  std::filesystem::remove(path);
}

// Large ranges leave in full segments (corked) and uncork with their last
// byte; a socket the client corked (here through its listener) stays so
// until its sending side is shut.
TEST_F(PortwellTest, LargeFileRangesGoCorkedAndTheClientsCorkStays) {
  Activate();
  const auto path = std::filesystem::temp_directory_path() / ("pwcork-" + std::to_string(::getpid()));
  const std::string content(300 * 1024, 'c');
  std::ofstream(path, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
  Peer peer;
  const std::int32_t s = Accepted(&peer);
  EXPECT_EQ(pw->SendFile(s, path.string(), 0, -1), 0);
  ASSERT_EQ(peer.Read(content.size()), content);
  pw->SendData(s, std::string("tail"));
  EXPECT_EQ(peer.Read(4, 150ms), "tail");

  // A cork the accepted socket inherited is left to the client: the graceful
  // close takes out what it holds.
  Peer corked;
  const std::int32_t c = Accepted(&corked, nullptr, PWL_TCP_CORK, 1);
  EXPECT_EQ(pw->SendFile(c, path.string(), 0, -1), 0);
  pw->SendData(c, std::string("tail"));
  ASSERT_TRUE(PumpUntil([&] { return pw->QueSendBytes(Key(c)) == 0; }));
  pw->CloseSock(Key(c));
  bool eof = false;
  EXPECT_EQ(corked.Read(SIZE_MAX, 5000ms, &eof), content + "tail");
  EXPECT_TRUE(eof);
  std::filesystem::remove(path);
}

// ---- closing --------------------------------------------------------------------------------------

TEST_F(PortwellTest, PeerCloseThenLingerThenTermination) {
  Activate();
  Peer peer;
  const std::int32_t s = Accepted(&peer);
  pw->SetLingerTime(Key(s), 0);
  pw->SetLingerTime(Key(s), 60001);
  EXPECT_EQ(pw->ItemByKey(Key(s)).LingerTime, 1000);
  pw->SetLingerTime(Key(s), 60000);
  EXPECT_EQ(pw->ItemByKey(Key(s)).LingerTime, 60000);
  pw->SetLingerTime(Key(s), 50);
  peer.Send("last words");
  peer.Close();
  ASSERT_TRUE(PumpUntil([&] { return rec.terminated.count(s) > 0; }));
  PumpFor(20ms);
  // A clean end: PWL_CLOSING after the data, and no Error.
  EXPECT_EQ(rec.For(s, true), (std::vector<std::string>{"request " + Key(s), "status " + Key(s) + " 3",
                                                         "data " + Key(s) + " 10", "status " + Key(s) + " 8",
                                                         "status " + Key(s) + " 0", "terminated " + Key(s),
                                                         "status " + Key(s) + " 0"}));
  EXPECT_EQ(rec.received[s], "last words");
  EXPECT_FALSE(pw->ItemExists(Key(s)));
}

TEST_F(PortwellTest, GracefulCloseDeliversPendingInputFirst) {
  Activate();
  for (const bool buffered : {false, true}) {
    SCOPED_TRACE(buffered ? "buffered" : "direct");
    Peer peer;
    const std::int32_t s = Accepted(&peer);
    pw->SetLingerTime(Key(s), 50);
    pw->SetUseBufferToReceive(Key(s), buffered);
    peer.Send(std::string(3000, 'p'));
    std::this_thread::sleep_for(50ms);  // the bytes wait in the system, not yet read
    EXPECT_EQ(pw->CloseSock(Key(s)), 0);
    // Drained inside CloseSock: delivered at once, or queued for the tick.
    EXPECT_EQ(rec.received[s].size() + (buffered ? 3000u : 0u), 3000u);
    EXPECT_EQ(rec.terminated.count(s), 0u);
    EXPECT_TRUE(peer.WaitEnd());  // the sending direction is shut
    ASSERT_TRUE(PumpUntil([&] { return rec.terminated.count(s) > 0; }));
    EXPECT_EQ(rec.terminated[s], 1);
    EXPECT_EQ(rec.received[s].size(), 3000u);
  }
}

// The peer sends and closes at once; the end of its data must not be lost
// to a short linger, whichever way blocks are delivered.
TEST_F(PortwellTest, PeerCloseRightAfterBulkDataLosesNothing) {
  Activate();
  constexpr std::size_t kBytes = 3 * 1024 * 1024;
  for (const bool buffered : {false, true}) {
    SCOPED_TRACE(buffered ? "buffered" : "direct");
    Peer peer;
    const std::int32_t s = Accepted(&peer);
    pw->SetLingerTime(Key(s), 1);
    pw->SetNoUnicodeConversionOnRecv(Key(s), true);
    pw->SetUseBufferToReceive(Key(s), buffered);
    std::thread sender([&] {
      peer.Send(std::string(kBytes, 'u'));
      peer.Close();
    });
    EXPECT_TRUE(PumpUntil([&] { return rec.terminated.count(s) > 0; }, 20000ms));
    sender.join();
    EXPECT_EQ(rec.received[s].size(), kBytes);
    const auto lines = rec.For(s, true);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[lines.size() - 4], "status " + Key(s) + " 8");  // every block before the end
    EXPECT_TRUE(rec.errors.empty());
  }
}

TEST_F(PortwellTest, CloseWithoutLingerRemovesAtOnce) {
  Activate();
  Peer peer;
  const std::int32_t s = Accepted(&peer);
  const std::size_t before = rec.log.size();
  EXPECT_EQ(pw->CloseSock(Key(s), true), s);
  EXPECT_EQ(std::vector<std::string>(rec.log.begin() + static_cast<long>(before), rec.log.end()),
            (std::vector<std::string>{"terminated " + Key(s), "status " + Key(s) + " 0"}));
  EXPECT_FALSE(pw->ItemExists(Key(s)));
  EXPECT_TRUE(peer.WaitEnd());
}

TEST_F(PortwellTest, HandlerMayCloseItsSocketInsideEvents) {
  Activate();
  Peer peer;
  const std::int32_t s = Accepted(&peer);
  rec.onData = [&](std::int32_t h, PortwellData&, bool&) { pw->CloseSock(Key(h), true); };
  peer.Send("bye");
  ASSERT_TRUE(PumpUntil([&] { return !pw->ItemExists(Key(s)); }));
  Peer second;
  const std::int32_t t = Accepted(&second);
  rec.onData = nullptr;
  pw->NotifyOnEmptySendQue(Key(t), "X", 1);
  rec.onEmpty = [&](std::int32_t h, const std::string&) { pw->CloseSock(Key(h), true); };
  pw->SendData(t, std::string(100000, 'z'));
  ASSERT_TRUE(PumpUntil([&] { return !pw->ItemExists(Key(t)); }));
  EXPECT_EQ(rec.empties.size(), 1u);
}

TEST_F(PortwellTest, PeerResetMidStreamIsAnErrorBeforeTermination) {
  Activate();
  Peer peer;
  const std::int32_t s = Accepted(&peer);
  pw->SetLingerTime(Key(s), 1);
  peer.Send(std::string(32 * 1024, 'u'));
  peer.Reset();
  ASSERT_TRUE(PumpUntil([&] { return rec.terminated.count(s) > 0; }));
  // Unlike the peer's clean close: Error and PWL_ERROR before PWL_CLOSING.
  EXPECT_EQ(rec.For(s), (std::vector<std::string>{"request " + Key(s), "status " + Key(s) + " 3",
                                                  "error " + Key(s) + " 10054", "status " + Key(s) + " 9",
                                                  "status " + Key(s) + " 8", "status " + Key(s) + " 0",
                                                  "terminated " + Key(s), "status " + Key(s) + " 0"}));
}

TEST_F(PortwellTest, PeerResetMidSendEndsInErrorAndTermination) {
  Activate();
  Peer peer;
  const std::int32_t s = Accepted(&peer);
  pw->SetLingerTime(Key(s), 50);
  peer.ShrinkReceiveBuffer();
  pw->SetSockOption(Key(s), PWL_OPTIONAL_SO_SNDBUF, true);
  pw->SendData(s, std::string(16 * 1024 * 1024, 'r'));
  ASSERT_GT(pw->ItemByKey(Key(s)).QueSendCount, 0);
  peer.Read(100000);
  peer.Reset();
  ASSERT_TRUE(PumpUntil([&] { return rec.terminated.count(s) > 0; }));
  bool sawError = false;
  for (const auto& [h, n] : rec.errors) sawError |= h == s && (n == 10054 || n == 10053);
  EXPECT_TRUE(sawError);
  EXPECT_GE(rec.Count("status " + Key(s) + " 9") + rec.Count("status " + Key(s) + " 8"), 1);
  EXPECT_FALSE(pw->ItemExists(Key(s)));
  // Nothing keeps running: the loop goes quiet.
  PumpFor(50ms);
  EXPECT_EQ(platform::EventLoop::Instance().PendingCount(), 0u);
}

// ---- connecting -------------------------------------------------------------------------------

TEST_F(PortwellTest, ConnectRefusals) {
  Activate();
  EXPECT_EQ(pw->Connect("127.0.0.1", 65535), -1);
  EXPECT_EQ(pw->LastSockErr(), 0);
  int port = 0;
  const int plain = pwtest::PlainListener(&port);
  EXPECT_EQ(pw->Connect("127.0.0.1", port, PWL_TCPIP, 1), -1);  // only adapter 0 exists for a host
  EXPECT_EQ(pw->LastSockErr(), 0);
  ::close(plain);
  EXPECT_EQ(pw->Connect("127.0.0.1", pwtest::ClosedPort()), -1);
  EXPECT_EQ(pw->LastSockErr(), 10061);
  EXPECT_EQ(pw->NumberOfConnections(), 0);
  EXPECT_TRUE(rec.log.empty());
}

TEST_F(PortwellTest, ConnectEstablishesBeforeItReturns) {
  Activate();
  int port = 0;
  const int plain = pwtest::PlainListener(&port);
  std::int32_t seen = -1;
  rec.onEstablished = [&](std::int32_t h) { seen = h; };
  const std::int32_t h = pw->Connect("127.0.0.1", port);
  ASSERT_GT(h, 0);
  EXPECT_EQ(seen, h);
  EXPECT_EQ(pw->RemotePort(Key(h)), port);
  EXPECT_EQ(pw->RemoteHostIP(Key(h)), "127.0.0.1");
  Peer server(::accept(plain, nullptr, nullptr));
  EXPECT_EQ(pw->SetSockOption(Key(h), PWL_TCP_NODELAY, true), 0);
  // Closed as the server closes a data connection (when everything was
  // handed over): the peer, reading slowly, still gets every byte although
  // the connection's system linger is zero.
  pw->SetLingerTime(Key(h), 20);
  const std::string data(4 * 1024 * 1024, 'c');
  std::size_t got = 0;
  std::thread reader([&] {
    while (true) {
      const std::string part = server.Read(64 * 1024, 2000ms);
      if (part.empty()) break;
      got += part.size();
      std::this_thread::sleep_for(2ms);
    }
  });
  pw->NotifyOnEmptySendQue(Key(h), "DONE", static_cast<std::int32_t>(data.size()));
  rec.onEmpty = [&](std::int32_t s, const std::string&) { pw->CloseSock(Key(s)); };
  pw->SendData(h, data);
  ASSERT_TRUE(PumpUntil([&] { return rec.terminated.count(h) > 0; }, 20000ms));
  reader.join();
  EXPECT_EQ(got, data.size());
  ::close(plain);
}

TEST_F(PortwellTest, ConnectAsyncCompletesLater) {
  Activate();
  int port = 0;
  const int plain = pwtest::PlainListener(&port);
  const std::int32_t h = pw->ConnectAsync("127.0.0.1", port);
  ASSERT_GT(h, 0);
  EXPECT_TRUE(rec.log.empty());
  EXPECT_EQ(pw->ItemByKey(Key(h)).State, PWL_CONNECTING);
  pw->SendData(h, std::string("early"));  // queued until connected
  ASSERT_TRUE(PumpUntil([&] { return rec.Count("established " + Key(h)) == 1; }));
  EXPECT_EQ(rec.For(h), (std::vector<std::string>{"status " + Key(h) + " 7", "established " + Key(h)}));
  Peer server(::accept(plain, nullptr, nullptr));
  EXPECT_EQ(server.Read(5), "early");
  ::close(plain);
}

TEST_F(PortwellTest, ConnectingToIPv6Loopback) {
  if (!pwtest::HasIPv6Loopback()) GTEST_SKIP() << "::1 is not available on this host";
  Activate();
  int port = 0;
  const int plain = pwtest::PlainListener(&port, 16, "::1");
  const std::int32_t h = pw->ConnectAsync("[::1]", port);
  ASSERT_GT(h, 0);
  EXPECT_EQ(pw->ItemByKey(Key(h)).State, PWL_CONNECTING);
  pw->SendData(h, std::string("early"));
  ASSERT_TRUE(PumpUntil([&] { return rec.Count("established " + Key(h)) == 1; }));
  const PortwellSocketInfo info = pw->ItemByKey(Key(h));
  EXPECT_EQ(info.RemoteHostIP, "::1");
  EXPECT_EQ(info.RemotePort, port);
  EXPECT_EQ(info.LocalIP, "::1");
  EXPECT_GT(info.LocalPort, 0);
  EXPECT_EQ(info.AddressFamily, 6);
  Peer server(::accept(plain, nullptr, nullptr));
  EXPECT_EQ(server.Read(5), "early");

  const std::int32_t blocking = pw->Connect("::1", port);
  ASSERT_GT(blocking, 0);
  EXPECT_EQ(pw->RemoteHostIP(Key(blocking)), "::1");
  // Datagram sockets stay IPv4.
  EXPECT_EQ(pw->Connect("::1", port, PWL_UDP), -1);
  EXPECT_EQ(pw->LastSockErr(), 10047);
  ::close(plain);
}

TEST_F(PortwellTest, ConnectAsyncRefusedEndsInErrorAndTermination) {
  Activate();
  const std::int32_t h = pw->ConnectAsync("127.0.0.1", pwtest::ClosedPort(), PWL_TCPIP, 0, 5000);
  ASSERT_GT(h, 0);
  pw->SetLingerTime(Key(h), 20);
  ASSERT_TRUE(PumpUntil([&] { return rec.terminated.count(h) > 0; }));
  EXPECT_EQ(rec.For(h), (std::vector<std::string>{"error " + Key(h) + " 10061", "status " + Key(h) + " 9",
                                                  "status " + Key(h) + " 0", "terminated " + Key(h),
                                                  "status " + Key(h) + " 0"}));
}

TEST_F(PortwellTest, ConnectAsyncUnansweredTimesOut) {
  Activate();
  int port = 0;
  // A listener whose backlog is full leaves further attempts unanswered.
  const int plain = pwtest::PlainListener(&port, 0);
  std::vector<Peer> fill;
  for (int i = 0; i < 4; ++i) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    fill.emplace_back(fd);
  }
  std::this_thread::sleep_for(50ms);
  const std::int32_t h = pw->ConnectAsync("127.0.0.1", port, PWL_TCPIP, 0, 300);
  ASSERT_GT(h, 0);
  pw->SetLingerTime(Key(h), 20);
  ASSERT_TRUE(PumpUntil([&] { return rec.terminated.count(h) > 0; }));
  ASSERT_FALSE(rec.errors.empty());
  EXPECT_EQ(rec.errors.front(), std::make_pair(h, 10060));
  EXPECT_EQ(rec.Count("established " + Key(h)), 0);
  ::close(plain);
}

// ---- deactivation and the debug log -----------------------------------------------------------------

TEST_F(PortwellTest, AfterDeactivationSocketsWorkButRaiseNothing) {
  Activate();
  int port = 0;
  Listen(&port);
  EXPECT_FALSE(pw->Activate(false));
  EXPECT_EQ(pw->NumberOfConnections(), 0);  // emptied without events
  EXPECT_EQ(rec.log.size(), 1u);
  EXPECT_FALSE(pw->Activate(false));
  Activate();
  const std::int32_t listener = pw->AddListener(0);
  ASSERT_GT(listener, 0);
  Peer peer = Peer::ConnectTo(pw->ItemByKey(Key(listener)).LocalPort);
  ASSERT_TRUE(PumpUntil([&] { return pw->NumberOfConnections() == 2; }));
  const std::int32_t s = pw->ItemByIndex(2).SocketHandle;
  pw->SendData(s, std::string("still works"));
  EXPECT_EQ(peer.Read(11), "still works");
  EXPECT_EQ(rec.log.size(), 1u);
}

TEST_F(PortwellTest, DeactivationOffersQueuedBlocksFirst) {
  Activate();
  Peer peer;
  const std::int32_t s = Accepted(&peer);
  pw->SetProcessingIntervalReceive(30000);
  pw->SetUseBufferToReceive(Key(s), true);
  peer.Send("queued");
  ASSERT_TRUE(PumpUntil([&] { return pw->ItemByKey(Key(s)).QueReceiveCount == 1; }));
  EXPECT_FALSE(pw->Activate(false));
  EXPECT_EQ(rec.received[s], "queued");
}

TEST(PortwellDebugLog, MarkerFileSwitchesTheLogOnAndOff) {
  const auto folder = std::filesystem::path(PORTWELL_LIBRARY_PATH).parent_path();
  const auto marker = folder / "Portwell.dbg";
  std::filesystem::remove(marker);
  auto run = [] {
    PortwellLoadStatus status{};
    auto pw = PortwellInstance::Load(PORTWELL_LIBRARY_PATH, status);
    ASSERT_TRUE(pw);
    ASSERT_TRUE(pw->Activate(true));
    const std::int32_t h = pw->AddListener(0);
    ASSERT_GT(h, 0);
    EXPECT_EQ(pw->Connect("127.0.0.1", 65535), -1);
  };
  run();
  EXPECT_FALSE(std::filesystem::exists(marker));
  std::ofstream(marker).close();
  run();
  std::ifstream in(marker, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::filesystem::remove(marker);
  EXPECT_NE(text.find("CWinsock::Listen - Created listening socket (local port 0, socket handle "), std::string::npos);
  EXPECT_NE(text.find("\r\nBefore: Set mobjWinsocks = Nothing\r\n"), std::string::npos);
  EXPECT_NE(text.find("After: Set pcolTimers = Nothing, Before: Set gobjPortwellDbg = Nothing (LAST EXECUTABLE LINE "
                      "OF CODE)\r\n"),
            std::string::npos);
}

}  // namespace
