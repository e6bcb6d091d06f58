// Data connections and transfers, driven through a fake host: what the
// session asks of the connection, when it answers, and what reaches disk.
#include "fake_host.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

namespace velto {
namespace {

const std::string k150 = "150 Opening data connection.\r\n";
const std::string k226 = "226 Transfer completed.\r\n";
const std::string k425 = "425 Can't open data connection.\r\n";

class SessionTransferTest : public test::SessionFixture {
 protected:
  void SetUp() override {
    SessionFixture::SetUp();
    tree.File("ftp/bob/hello.txt", "hello world");
    LogOn({});
    host->TakeReplies();
  }
  std::string Bob(const std::string& name) { return tree.Path("ftp/bob/" + name); }
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
  EXPECT_EQ(Say("REST -1"), "501 Syntax error--missing parameters or arguments.\r\n");
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
  EXPECT_EQ(Say("ABOR"), "226 File transfer aborted.\r\n");
  EXPECT_EQ(ReadAll(Bob("a.txt")), "abc");
  Say("PASV");
  Say("STOR b.txt");
  session->OnDataConnected();
  session->OnDataReceived("def");
  session.reset();
  EXPECT_EQ(ReadAll(Bob("b.txt")), "def");
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

}  // namespace
}  // namespace velto
