// Data connections and transfers, driven through a fake host: what the
// session asks of the connection, when it answers, and what reaches disk.
#include "fake_host.h"
#include "ftp/data_address.h"
#include "log/transfer_log.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <set>
#include <sstream>
#include <vector>

namespace velto {
namespace {

const std::string k150 = "150 Opening data connection.\r\n";
const std::string k226 = "226 Transfer completed.\r\n";
const std::string k425 = "425 Can't open data connection.\r\n";
const std::string kNotFound = "550 Requested file action not taken.  File not found.\r\n";
const std::string k426 = "426 Connection closed; transfer aborted.\r\n";
const std::string kAborted = "226 File transfer aborted.\r\n";

class SessionTransferTest : public test::SessionFixture {
 protected:
  void SetUp() override {
    SessionFixture::SetUp();
    tree.File("ftp/bob/hello.txt", "hello world");
    LogOn({});
    host->TakeReplies();
  }
  std::string Bob(const std::string& name) { return tree.Path("ftp/bob/" + name); }
  // A new session of bob's from `client`, which reached `local`.
  void ConnectFrom(const std::string& client, const std::string& local) {
    connection.clientAddress = client;
    connection.serverAddress = connection.localAddress = local;
    NewSession();
    ASSERT_EQ(Cmd("USER bob"), "331 OK need password.\r\n");
    ASSERT_EQ(Cmd("PASS pw"), "230 \r\n");
    host->TakeReplies();
  }
};

TEST_F(SessionTransferTest, PassiveDownloadAnswersOnlyAfterTheDataHasGone) {
  EXPECT_EQ(Say("PASV"), "227 Entering Passive Mode (127,0,0,1,156,65).\r\n");
  // The client has not connected yet: the transfer waits.
  EXPECT_EQ(Say("RETR hello.txt"), k150);
  EXPECT_TRUE(host->dataOut.empty());
  session->OnDataConnected();
  EXPECT_EQ(host->dataOut, "hello world");
  EXPECT_EQ(host->TakeReplies(), "");
  host->log.clear();
  session->OnDataSent();
  // The data connection closes, then the 226.
  EXPECT_EQ(host->log, "close-data\nreply:" + k226);
  host->TakeReplies();
  // One connection per PASV: the next transfer needs another.
  EXPECT_EQ(Say("RETR hello.txt"), k150 + k425);
}

TEST_F(SessionTransferTest, RestartAndItsLimits) {
  EXPECT_EQ(Say("REST 6"), "350 Restarting transfer at 6.\r\n");
  Say("PASV");
  session->OnDataConnected();
  EXPECT_EQ(Say("RETR hello.txt"), k150);
  EXPECT_EQ(host->dataOut, "world");
  session->OnDataSent();
  EXPECT_EQ(host->TakeReplies(), k226);
  EXPECT_EQ(Say("REST 12"), "350 Restarting transfer at 12.\r\n");
  EXPECT_EQ(Say("RETR hello.txt"), "554 Requested action not taken: invalid REST parameter.\r\n");
  for (const char* offset : {"-1", "1.5", "2e3", "7x"}) {
    EXPECT_EQ(Say(std::string("REST ") + offset), "501 Syntax error--missing parameters or arguments.\r\n") << offset;
  }
  // The next download starts at 0: a refused REST leaves no position.
  Say("PASV");
  session->OnDataConnected();
  host->dataOut.clear();
  EXPECT_EQ(Say("RETR hello.txt"), k150);
  EXPECT_EQ(host->dataOut, "hello world");
}

TEST_F(SessionTransferTest, PortGoesOnlyToTheClientAboveThePrivilegedPorts) {
  EXPECT_EQ(Say("PORT 10,0,0,9,200,10"), "500 Illegal PORT command.\r\n");
  EXPECT_EQ(Say("PORT 127,0,0,1,3,255"), "500 Illegal PORT command.\r\n");
  EXPECT_EQ(Say("PORT 127,0,0,1,300,1"), "501 Syntax error--missing or incorrect parameters or arguments.\r\n");
  EXPECT_EQ(Say("PORT 127,0,0,1,200,10"), "200 OK\r\n");
  EXPECT_EQ(Say("RETR hello.txt"), k150);
  EXPECT_EQ(host->connectedTo, "127.0.0.1:51210");
  session->OnDataConnectFailed();
  EXPECT_EQ(host->TakeReplies(), k425);
}

TEST_F(SessionTransferTest, TransfersNeedAConnectionModeAndOneAtATime) {
  EXPECT_EQ(Say("RETR hello.txt"), k150 + k425);
  Say("PASV");
  EXPECT_EQ(Say("RETR hello.txt"), k150);
  EXPECT_EQ(Say("RETR hello.txt"), "425 A transfer is already running.\r\n");
  // The client never connects: the wait ends in 425.
  ASSERT_TRUE(host->FireNextTimer());
  EXPECT_EQ(host->TakeReplies(), k425);
  // A passive connection that failed before its command (a refused TLS
  // handshake) used up the listener: the next transfer fails at once.
  Say("PASV");
  session->OnDataConnectFailed();
  EXPECT_EQ(Say("RETR hello.txt"), k150 + k425);
}

TEST_F(SessionTransferTest, UploadReplacesTheFileOnlyOnceConnectedAndReportsHowItEnded) {
  tree.File("ftp/bob/old.txt", "old content");
  Say("PASV");
  EXPECT_EQ(Say("STOR old.txt"), k150);
  // No connection yet: the old file is untouched, and stays so when the
  // wait runs out.
  EXPECT_EQ(ReadAll(Bob("old.txt")), "old content");
  host->FireNextTimer();
  EXPECT_EQ(host->TakeReplies(), k425);
  EXPECT_EQ(ReadAll(Bob("old.txt")), "old content");

  Say("PASV");
  Say("STOR old.txt");
  session->OnDataConnected();
  session->OnDataReceived("new ");
  session->OnDataReceived("bytes");
  session->OnDataClosed(false);
  EXPECT_EQ(host->TakeReplies(), k226);
  EXPECT_EQ(ReadAll(Bob("old.txt")), "new bytes");

  // A reset keeps what arrived but is not a success.
  Say("PASV");
  Say("STOR cut.txt");
  session->OnDataConnected();
  session->OnDataReceived("partial");
  session->OnDataClosed(true);
  EXPECT_EQ(host->TakeReplies(), "426 Connection closed; transfer aborted.\r\n");
  EXPECT_EQ(ReadAll(Bob("cut.txt")), "partial");
}

TEST_F(SessionTransferTest, AbortKeepsWhatArrivedAndTheSessionEndWritesItToo) {
  Say("PASV");
  Say("STOR a.txt");
  session->OnDataConnected();
  session->OnDataReceived("abc");
  EXPECT_EQ(Say("ABOR"), k426 + kAborted);
  EXPECT_EQ(ReadAll(Bob("a.txt")), "abc");
  Say("PASV");
  Say("STOR b.txt");
  session->OnDataConnected();
  session->OnDataReceived("def");
  session.reset();
  EXPECT_EQ(ReadAll(Bob("b.txt")), "def");
}

// Clients read the transfer's final reply, then ABOR's: one 426 and one 226
// while a transfer was promised, ABOR's 226 alone otherwise.
TEST_F(SessionTransferTest, AbortAnswersARunningTransferBeforeItself) {
  EXPECT_EQ(Say("ABOR"), kAborted);
  Say("PASV");
  EXPECT_EQ(Say("RETR hello.txt"), k150);  // waiting for its connection
  EXPECT_EQ(Say("ABOR"), k426 + kAborted);
  EXPECT_FALSE(host->FireNextTimer());

  Say("PASV");
  session->OnDataConnected();
  EXPECT_EQ(Say("RETR hello.txt"), k150);  // sending
  EXPECT_EQ(Say("ABOR"), k426 + kAborted);
  session->OnDataSent();
  EXPECT_EQ(host->TakeReplies(), "");

  Say("PASV");
  session->OnDataConnected();
  Say("RETR hello.txt");
  session->OnDataSent();
  EXPECT_EQ(host->TakeReplies(), k226);
  EXPECT_EQ(Say("ABOR"), kAborted);
}

TEST_F(SessionTransferTest, OnlyRegularFilesAreSentOrWritten) {
  ASSERT_EQ(::mkfifo(Bob("fifo").c_str(), 0600), 0);
  const std::string notRegular = "550 Requested file action not taken---not a regular file.\r\n";
  Say("PASV");
  EXPECT_EQ(Say("RETR fifo"), notRegular);
  Say("REST 5");
  EXPECT_EQ(Say("STOR fifo"), notRegular);
  EXPECT_EQ(Say("RETR sub"), "550 Requested file action not taken.  File not found.\r\n");
}

TEST_F(SessionTransferTest, ListingsGoOutInPiecesAfterTheConnectionOpens) {
  for (int i = 0; i < 3000; ++i) tree.File("ftp/bob/sub/file-with-a-long-name-" + std::to_string(i) + ".txt");
  Say("CWD sub");
  Say("PASV");
  EXPECT_EQ(Say("NLST"), k150);
  EXPECT_EQ(host->sendsInFlight, 0) << "nothing is read before the connection";
  session->OnDataConnected();
  int pieces = 0;
  while (host->TakeReplies().empty() && pieces < 100) {
    ++pieces;
    session->OnDataSent();
  }
  EXPECT_GT(pieces, 1);
  EXPECT_NE(host->dataOut.find("file-with-a-long-name-2999.txt\r\n"), std::string::npos);
  EXPECT_NE(host->dataOut.find("deeper\r\n"), std::string::npos);
}

// A host may report a send complete from inside SendData or SendFile: the
// transfer ends as it does when the report comes later, and a listing of
// many pieces never nests one send inside another.
TEST_F(SessionTransferTest, SendsCompletedInsideTheHostsCallEndAlike) {
  for (int i = 0; i < 3000; ++i) tree.File("ftp/bob/sub/file-with-a-long-name-" + std::to_string(i) + ".txt");
  int depth = 0;
  int deepest = 0;
  host->completeSendsAtOnce = [&] {
    deepest = std::max(deepest, ++depth);
    session->OnDataSent();
    --depth;
  };
  Say("PASV");
  session->OnDataConnected();
  EXPECT_EQ(Say("RETR hello.txt"), k150 + k226);
  EXPECT_EQ(host->dataOut, "hello world");
  Say("CWD sub");
  Say("PASV");
  session->OnDataConnected();
  host->dataOut.clear();
  host->log.clear();
  EXPECT_EQ(Say("NLST"), k150 + k226);
  EXPECT_NE(host->dataOut.find("file-with-a-long-name-2999.txt\r\n"), std::string::npos);
  EXPECT_GT(std::count(host->log.begin(), host->log.end(), '\n'), 3) << "several pieces";
  EXPECT_EQ(deepest, 1);
  EXPECT_EQ(Say("NOOP"), "200 OK\r\n");
}

TEST_F(SessionTransferTest, EmptyFolderIsAnEmptyTransfer) {
  Say("CWD sub/deeper");
  Say("PASV");
  session->OnDataConnected();
  EXPECT_EQ(Say("LIST"), "150 Opening ASCII mode data connection for \"" + Bob("sub/deeper/") + "\".\r\n" + k226);
}

// A confined account cannot enter a link that leaves its tree, but it can
// rename one into the place of its current directory.
TEST_F(SessionTransferTest, ListRefusesACurrentDirectoryALinkOutHasReplaced) {
  ASSERT_EQ(::symlink(tree.Path("outside").c_str(), Bob("out").c_str()), 0);
  Say("CWD sub");
  Say("RNFR ../sub");
  Say("RNTO ../moved");
  Say("RNFR ../out");
  ASSERT_EQ(Say("RNTO ../sub"), "250 Requested file action completed successfully.\r\n");
  Say("PASV");
  session->OnDataConnected();
  EXPECT_EQ(Say("LIST"), "550 Requested file action not taken---user does not have access.\r\n");
  EXPECT_EQ(host->dataOut, "");
}

// The same rename while an upload waits for its connection: the target is
// checked again when it is written.
TEST_F(SessionTransferTest, UploadTargetIsCheckedAgainWhenTheConnectionArrives) {
  ASSERT_EQ(::symlink(tree.Path("outside").c_str(), Bob("out").c_str()), 0);
  Say("PASV");
  EXPECT_EQ(Say("STOR sub/planted.txt"), k150);
  Say("RNFR sub");
  Say("RNTO moved");
  Say("RNFR out");
  ASSERT_EQ(Say("RNTO sub"), "250 Requested file action completed successfully.\r\n");
  session->OnDataConnected();
  EXPECT_EQ(host->TakeReplies(), "550 Requested file action not taken---user does not have access.\r\n");
  EXPECT_FALSE(tree.Exists("outside/planted.txt"));
}

// ---- EPSV and EPRT ------------------------------------------------------------

TEST_F(SessionTransferTest, ExtendedPassiveAndActiveModes) {
  EXPECT_EQ(Say("EPSV"), "229 Entering Extended Passive Mode (|||40001|)\r\n");
  EXPECT_EQ(Say("EPSV 1"), "229 Entering Extended Passive Mode (|||40001|)\r\n");
  EXPECT_EQ(Say("EPSV 2"), "522 Network protocol not supported, use (1)\r\n");
  EXPECT_EQ(Say("EPRT |2|::1|5000|"), "522 Network protocol not supported, use (1)\r\n");
  EXPECT_EQ(Say("EPRT |1|10.0.0.9|5000|"), "500 Illegal EPRT command.\r\n");
  EXPECT_EQ(Say("EPRT |1|127.0.0.1|1023|"), "500 Illegal EPRT command.\r\n");
  for (const char* bad : {"|1|127.0.0.1|5000", "|1|127.0.0.1||", "|1|127.0.0.1|70000|", "|1|127.0.0|5000|",
                          "|1|127.0.0.1|50x0|"}) {
    EXPECT_EQ(Say(std::string("EPRT ") + bad), "501 Syntax error--missing or incorrect parameters or arguments.\r\n")
        << bad;
  }
  EXPECT_EQ(Say("EPRT !1!127.0.0.1!5000!"), "200 OK\r\n");
  EXPECT_EQ(Say("RETR hello.txt"), k150);
  EXPECT_EQ(host->connectedTo, "127.0.0.1:5000");
  session->OnDataConnected();
  session->OnDataSent();
  EXPECT_EQ(host->TakeReplies(), k226);
  // After EPSV ALL only EPSV sets up data connections.
  EXPECT_EQ(Say("EPSV ALL"), "200 EPSV ALL accepted.\r\n");
  const std::string epsvOnly = "503 Only EPSV may set up data connections after EPSV ALL.\r\n";
  EXPECT_EQ(Say("PASV"), epsvOnly);
  EXPECT_EQ(Say("PORT 127,0,0,1,200,10"), epsvOnly);
  EXPECT_EQ(Say("EPRT |1|127.0.0.1|5000|"), epsvOnly);
}

TEST_F(SessionTransferTest, ActiveModeOverIPv6GoesOnlyToTheClient) {
  ConnectFrom("2001:db8::5", "2001:db8::1");
  const std::string illegal = "500 Illegal EPRT command.\r\n";
  EXPECT_EQ(Say("EPRT |1|127.0.0.1|5000|"), "522 Network protocol not supported, use (2)\r\n");
  EXPECT_EQ(Say("EPRT |2|2001:db8::6|5000|"), illegal);
  EXPECT_EQ(Say("EPRT |2|2001:db8::5|1023|"), illegal);
  EXPECT_EQ(Say("EPRT |2|::ffff:127.0.0.1|5000|"), illegal);
  EXPECT_EQ(Say("EPRT |2|[2001:db8::5]|5000|"), "501 Syntax error--missing or incorrect parameters or arguments.\r\n");
  EXPECT_EQ(Say("PORT 127,0,0,1,200,10"), "522 PORT names IPv4 addresses only, use EPRT.\r\n");
  // Another spelling of the client's own address is the same address.
  EXPECT_EQ(Say("EPRT #2#2001:DB8:0::5#5000#"), "200 OK\r\n");
  EXPECT_EQ(Say("RETR hello.txt"), k150);
  EXPECT_EQ(host->connectedTo, "2001:db8::5:5000");
  session->OnDataConnected();
  session->OnDataSent();
  EXPECT_EQ(host->TakeReplies(), k226);
  // A link-local client is connected to through the zone it came in on.
  ConnectFrom("fe80::5%eth0", "fe80::1%eth0");
  EXPECT_EQ(Say("EPRT |2|fe80::5|5000|"), "200 OK\r\n");
  EXPECT_EQ(Say("RETR hello.txt"), k150);
  EXPECT_EQ(host->connectedTo, "fe80::5%eth0:5000");
}

TEST_F(SessionTransferTest, PassiveModeOverIPv6IsEpsvOnly) {
  ConnectFrom("2001:db8::5", "2001:db8::1");
  const std::string k229 = "229 Entering Extended Passive Mode (|||40001|)\r\n";
  EXPECT_EQ(Say("EPSV"), k229);
  EXPECT_EQ(Say("EPSV 2"), k229);
  EXPECT_EQ(Say("EPSV 1"), "522 Network protocol not supported, use (2)\r\n");
  EXPECT_EQ(Say("PASV"), "522 PASV names IPv4 addresses only, use EPSV.\r\n");
  EXPECT_EQ(Say("EPSV ALL"), "200 EPSV ALL accepted.\r\n");
  const std::string epsvOnly = "503 Only EPSV may set up data connections after EPSV ALL.\r\n";
  EXPECT_EQ(Say("PASV"), epsvOnly);
  EXPECT_EQ(Say("PORT 127,0,0,1,200,10"), epsvOnly);
  EXPECT_EQ(Say("EPRT |2|2001:db8::5|5000|"), epsvOnly);
  EXPECT_EQ(Say("EPSV"), k229);
}

TEST(AnnouncedPassiveAddress, OutsideClientsHearTheConfiguredAddressNearbyOnesTheReachedOne) {
  const std::string configured = "203.0.113.7";
  const std::string reached = "192.168.1.2";
  for (const char* nearby : {"127.0.0.1", "127.9.9.9", "10.1.2.3", "172.16.0.1", "172.31.255.255", "192.168.7.7",
                             "169.254.1.1", "100.64.0.1", "100.127.255.255", "::1", "fd00::1", "fc00::1", "fe80::1%eth0"}) {
    EXPECT_TRUE(IsNearbyAddress(nearby)) << nearby;
    EXPECT_EQ(AnnouncedPassiveAddress(configured, nearby, reached), reached) << nearby;
  }
  for (const char* outside : {"8.8.8.8", "172.32.0.1", "172.15.255.255", "100.128.0.1", "11.0.0.1", "2001:db8::5",
                              "fec0::1"}) {
    EXPECT_FALSE(IsNearbyAddress(outside)) << outside;
    EXPECT_EQ(AnnouncedPassiveAddress(configured, outside, reached), configured) << outside;
  }
  // Nothing (usable) configured: everyone hears the address it reached.
  EXPECT_EQ(AnnouncedPassiveAddress("", "8.8.8.8", reached), reached);
  EXPECT_EQ(AnnouncedPassiveAddress("ftp.example.com", "8.8.8.8", reached), reached);
}

TEST_F(SessionTransferTest, PasvNamesTheConfiguredAddressToOutsideClientsOnly) {
  sessions->PassiveAddress = "203.0.113.7";
  EXPECT_EQ(Say("PASV"), "227 Entering Passive Mode (127,0,0,1,156,65).\r\n");
  ConnectFrom("198.51.100.9", "192.168.1.2");
  EXPECT_EQ(Say("PASV"), "227 Entering Passive Mode (203,0,113,7,156,65).\r\n");
}

// ---- APPE and STOU ------------------------------------------------------------

TEST_F(SessionTransferTest, AppendAddsAndUniqueStoreNeverReplaces) {
  Say("PASV");
  EXPECT_EQ(Say("REST 3"), "350 Restarting transfer at 3.\r\n");
  EXPECT_EQ(Say("APPE hello.txt"), k150);
  session->OnDataConnected();
  session->OnDataReceived("!");
  session->OnDataClosed(false);
  EXPECT_EQ(host->TakeReplies(), k226);
  EXPECT_EQ(ReadAll(Bob("hello.txt")), "hello world!");

  Say("PASV");
  EXPECT_EQ(Say("STOU hello.txt"), "150 FILE: hello.txt.1\r\n");
  session->OnDataConnected();
  session->OnDataReceived("new");
  session->OnDataClosed(false);
  EXPECT_EQ(host->TakeReplies(), k226);
  EXPECT_EQ(ReadAll(Bob("hello.txt")), "hello world!");
  EXPECT_EQ(ReadAll(Bob("hello.txt.1")), "new");
}

// ---- The transfer log -------------------------------------------------------------

// The xferlog fields of each line, split on blanks as log readers split them.
std::vector<std::vector<std::string>> TransferLogFields(const std::string& text) {
  std::vector<std::vector<std::string>> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    lines.emplace_back(std::istream_iterator<std::string>(words), std::istream_iterator<std::string>());
  }
  return lines;
}

// A line per file transfer as it ends, complete or not, none for a listing;
// the name as the client sees it with its blanks made "_".
TEST_F(SessionTransferTest, TransferLogLineForEachEndedTransfer) {
  std::tm when{};
  when.tm_year = 2026 - 1900;
  when.tm_mon = 11;
  when.tm_mday = 11;
  when.tm_wday = 5;
  when.tm_hour = 17;
  when.tm_min = 32;
  when.tm_sec = 1;
  EXPECT_EQ(TransferLogLine({2, "127.0.0.1", 1048576, "/pub/file.bin", false, false, false, "alice", true}, when),
            "Fri Dec 11 17:32:01 2026 2 127.0.0.1 1048576 /pub/file.bin b _ o r alice ftp 0 * c");

  CTransferLog xferlog;
  ASSERT_EQ(xferlog.Open(tree.Path("xferlog")), 0);
  sessions->Services().transferLog = &xferlog;
  tree.File("ftp/bob/my file.txt", "twelve bytes");
  Say("PASV");
  Say("RETR my file.txt");
  session->OnDataConnected();
  session->OnDataSent();
  Say("PASV");
  Say("NLST");
  session->OnDataConnected();
  for (int i = 0; i < 10 && host->TakeReplies().empty(); ++i) session->OnDataSent();
  Say("TYPE I");
  Say("PASV");
  Say("STOR up.bin");
  session->OnDataConnected();
  session->OnDataReceived("12345");
  EXPECT_EQ(Say("ABOR"), k426 + kAborted);

  // Anonymous, under a virtual root: the client took two of three bytes.
  users.SetAnonymousSwitch([] { return true; });
  sessions->AllowAnonymousLogons = true;
  tree.File("ftp/alice/a.bin", "abc");
  ASSERT_TRUE(users.pAddUser("anonymous", "x", tree.Path("ftp/alice"), true, true, true, false, false, true));
  NewSession();
  Cmd("USER anonymous");
  ASSERT_EQ(Cmd("PASS guest@example.org"), "230 \r\n");
  Say("TYPE I");
  Say("PASV");
  Say("RETR a.bin");
  session->OnDataConnected();
  host->bytesSent -= 1;
  session->OnDataClosed(true);
  EXPECT_EQ(host->TakeReplies(), k426);

  const auto lines = TransferLogFields(ReadAll(tree.Path("xferlog")));
  ASSERT_EQ(lines.size(), 3u) << ReadAll(tree.Path("xferlog"));
  const std::string bobFile = tree.Path("ftp/bob/my_file.txt");
  const std::vector<std::vector<std::string>> expected = {
      {"1", "127.0.0.1", "12", bobFile, "a", "_", "o", "r", "bob", "ftp", "0", "*", "c"},
      {"1", "127.0.0.1", "5", tree.Path("ftp/bob/up.bin"), "b", "_", "i", "r", "bob", "ftp", "0", "*", "i"},
      {"1", "127.0.0.1", "2", "/a.bin", "b", "_", "o", "a", "anonymous", "ftp", "0", "*", "i"},
  };
  for (std::size_t i = 0; i < lines.size(); ++i) {
    ASSERT_EQ(lines[i].size(), 18u);
    // ctime's day, month, day of the month, clock and year come first.
    EXPECT_EQ(lines[i][0].size(), 3u);
    EXPECT_EQ(lines[i][3].size(), 8u);
    EXPECT_EQ(lines[i][4].size(), 4u);
    EXPECT_EQ(std::vector<std::string>(lines[i].begin() + 5, lines[i].end()), expected[i]) << i;
  }
}

// ---- Listings of paths and patterns ---------------------------------------------

class SessionListingTest : public SessionTransferTest {
 protected:
  void SetUp() override {
    SessionTransferTest::SetUp();
    tree.File("ftp/bob/a.txt", "a");
    tree.File("ftp/bob/b.log", "b");
    tree.File("ftp/bob/sub/c.txt", "c");
  }
  // The command's replies and, once the data has gone, what it sent.
  std::string Listing(const std::string& line) {
    host->dataOut.clear();
    Say("PASV");
    session->OnDataConnected();
    std::string replies = Say(line);
    for (int i = 0; i < 10 && host->replies.empty(); ++i) session->OnDataSent();
    replies += host->TakeReplies();
    return replies + "|" + host->dataOut;
  }
  static std::set<std::string> Lines(const std::string& text) {
    std::set<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t end = text.find("\r\n", at);
      lines.insert(text.substr(at, end - at));
      at = end + 2;
    }
    return lines;
  }
};

TEST_F(SessionListingTest, NlstTakesFilesPatternsAndOptions) {
  const std::string done = k150 + k226 + "|";
  EXPECT_EQ(Lines(Listing("NLST *.txt").substr(done.size())),
            (std::set<std::string>{"a.txt", "file.txt", "hello.txt"}));
  EXPECT_EQ(Listing("NLST sub/*.t?t"), done + "sub/c.txt\r\n");
  EXPECT_EQ(Listing("NLST sub/c.txt"), done + "sub/c.txt\r\n");
  EXPECT_EQ(Lines(Listing("NLST -a").substr(done.size())),
            (std::set<std::string>{"a.txt", "b.log", "file.txt", "hello.txt", "sub"}));
  EXPECT_EQ(Say("NLST *.doc"), kNotFound);
  EXPECT_EQ(Say("NLST nope/*.txt"), kNotFound);
  EXPECT_EQ(Say("NLST ../bobby/*"), "550 Requested file action not taken---user does not have access.\r\n");
}

TEST_F(SessionListingTest, ListTakesAPathAndSkipsOptions) {
  const std::string here = "150 Opening ASCII mode data connection for \"" + Bob("") + "\".\r\n";
  const std::string listed = Listing("LIST -la sub");
  EXPECT_EQ(listed.substr(0, listed.find('|')),
            "150 Opening ASCII mode data connection for \"" + Bob("sub/") + "\".\r\n" + k226);
  EXPECT_NE(listed.find(" c.txt\r\n"), std::string::npos);
  EXPECT_EQ(listed.find("hello.txt"), std::string::npos);
  const std::string one = Listing("LIST a.txt");
  EXPECT_EQ(one.substr(one.find('|') + 19), std::string(19, ' ') + "1 a.txt\r\n");
  EXPECT_NE(Listing("LIST -l").find(" hello.txt\r\n"), std::string::npos);
  EXPECT_EQ(Say("LIST nope"), kNotFound) << "refused before the 150";
}

TEST_F(SessionListingTest, MachineListingsGiveExactFacts) {
  ASSERT_EQ(Say("MFMT 20010821023600 a.txt"), "213 Modify=20010821023600; a.txt\r\n");
  struct stat st{};
  ASSERT_EQ(::stat(Bob("a.txt").c_str(), &st), 0);
  char unique[64];
  std::snprintf(unique, sizeof unique, "unique=%llxg%llx;", static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  const std::string facts = std::string("type=file;size=1;modify=20010821023600;perm=radfw;") + unique + " ";
  EXPECT_EQ(Say("MLST a.txt"), "250-Listing " + Bob("a.txt") + "\r\n " + facts + Bob("a.txt") + "\r\n250 End.\r\n");
  const std::set<std::string> lines = Lines(Listing("MLSD").substr(k150.size() + k226.size() + 1));
  EXPECT_TRUE(lines.count(facts + "a.txt")) << *lines.begin();
  EXPECT_EQ(lines.size(), 5u);
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.rfind("type=dir;modify=", 0) == 0 &&
                                                            l.find(";perm=elcdfmp;") != std::string::npos; }),
            1);
  // The facts asked for, in FEAT's marks too.
  EXPECT_EQ(Say("OPTS MLST size;Type;bogus"), "200 MLST OPTS size;type;\r\n");
  EXPECT_EQ(Say("MLST a.txt"), "250-Listing " + Bob("a.txt") + "\r\n type=file;size=1; " + Bob("a.txt") +
                                   "\r\n250 End.\r\n");
  EXPECT_NE(Say("FEAT").find(" MLST type*;size*;modify;perm;unique;\r\n"), std::string::npos);
  EXPECT_EQ(Say("MLSD a.txt"), kNotFound) << "a file is no folder";
}

TEST_F(SessionListingTest, StatOfAPathWaitsWhileTheClientDoesNotRead) {
  for (int i = 0; i < 2000; ++i) tree.File("ftp/bob/sub/entry-" + std::to_string(i));
  host->backlogAbove = 1000;
  std::string text = Say("STAT sub");
  EXPECT_EQ(text.rfind("213-Status of \"" + Bob("sub/") + "\":\r\n ", 0), 0u) << text.substr(0, 200);
  EXPECT_LT(text.size(), 40000u) << "one piece, then a wait";
  EXPECT_EQ(Say("NOOP"), "") << "later commands wait too";
  host->backlogAbove = SIZE_MAX;
  session->OnControlDrained();
  text += host->TakeReplies();
  const std::string end = "\r\n213 End of status.\r\n200 OK\r\n";
  ASSERT_EQ(text.substr(text.size() - end.size()), end);
  EXPECT_EQ(text.find("\r\n2"), text.size() - end.size()) << "every other line indented";
  EXPECT_NE(text.find(" entry-1999\r\n"), std::string::npos);
}

TEST_F(SessionListingTest, StatLeavesOutNamesThatWouldBreakItsLines) {
  tree.File("ftp/bob/sub/odd\r\n226 name");
  tree.File("ftp/bob/sub/line\nbreak");
  const std::string text = Say("STAT sub");
  EXPECT_NE(text.find(" c.txt\r\n"), std::string::npos);
  EXPECT_EQ(text.find("name"), std::string::npos);
  EXPECT_EQ(text.find("break"), std::string::npos);
}

// A transfer that ends while a STAT reply waits for the client is told after
// the reply's last line, not among its lines, where a client would miss it.
TEST_F(SessionListingTest, TransferEndDuringAHeldStatReplyComesAfterIt) {
  for (int i = 0; i < 2000; ++i) tree.File("ftp/bob/sub/entry-" + std::to_string(i));
  Say("PASV");
  session->OnDataConnected();
  ASSERT_EQ(Say("RETR hello.txt"), k150);
  host->backlogAbove = 1000;
  std::string text = Say("STAT sub");
  session->OnDataSent();
  host->backlogAbove = SIZE_MAX;
  session->OnControlDrained();
  text += host->TakeReplies();
  const std::string end = "\r\n213 End of status.\r\n" + k226;
  ASSERT_EQ(text.substr(text.size() - end.size()), end);
  EXPECT_EQ(text.find("\r\n2"), text.size() - end.size());
}

}  // namespace
}  // namespace velto
