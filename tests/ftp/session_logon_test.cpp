// Log-on, rights and the session's hold on its input, driven through a fake
// host.
#include "fake_host.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <vector>

namespace velto {
namespace {

const std::string k530 = "530 Invalid user ID and/or password. Cannot log in.\r\n";
const std::string kNoAccess = "550 Requested file action not taken---user does not have access.\r\n";

class SessionLogonTest : public test::SessionFixture {};

TEST_F(SessionLogonTest, UserEndsTheLogOnAndItsRights) {
  LogOn({.limited = false});
  ASSERT_TRUE(users.pAddUser("carl", "pw2", tree.Path("ftp/alice"), false, false, true, true, false, true));
  EXPECT_EQ(Cmd("USER carl"), "331 OK need password.\r\n");
  EXPECT_FALSE(session->LoggedOn());
  EXPECT_EQ(Cmd("CWD /"), k530);
  EXPECT_EQ(Cmd("MKD " + tree.Path("outside/x")), k530);
  EXPECT_FALSE(tree.Exists("outside/x"));
}

TEST_F(SessionLogonTest, AHomeThatIsNoFolderCannotLogOn) {
  ASSERT_TRUE(users.pAddUser("nohome", "pw", tree.Path("missing"), false, true, true, true, false, true));
  ASSERT_TRUE(users.pAddUser("empty", "pw", "", false, true, true, true, false, true));
  // A relative home would be read against the folder the program runs in.
  ASSERT_TRUE(users.pAddUser("relative", "pw", ".", false, true, true, true, false, true));
  sessions->MaxLogonAttempts = "10";
  NewSession();
  for (const char* id : {"nohome", "empty", "relative"}) {
    Cmd(std::string("USER ") + id);
    EXPECT_EQ(Cmd("PASS pw"), k530) << id;
    EXPECT_FALSE(session->LoggedOn()) << id;
  }
  const std::string errors = ReadAll(tree.Path("Errors.log"));
  EXPECT_NE(errors.find("nohome"), std::string::npos);
  EXPECT_NE(errors.find(tree.Path("missing")), std::string::npos);
  EXPECT_NE(errors.find("Account relative cannot log on: its default directory \".\" is not an absolute path"),
            std::string::npos)
      << errors;
}

TEST_F(SessionLogonTest, FailedPasswordIsAnsweredLateAndNothingElseMeanwhile) {
  sessions->FailedLogonDelay = 1000;
  LogOn({});
  Say("USER bob");
  EXPECT_EQ(Say("PASS wrong\r\nNOOP"), "");
  EXPECT_FALSE(host->held) << "the input is read on, so a client that leaves is seen";
  ASSERT_EQ(host->timers.size(), 1u);
  EXPECT_EQ(host->timers.begin()->second.first, 1000u);
  host->FireNextTimer();
  EXPECT_EQ(host->TakeReplies(), k530 + "200 OK\r\n") << "the NOOP waited for the refusal";
  EXPECT_FALSE(host->held);
  // The next failure waits longer.
  Say("PASS wrong");
  EXPECT_EQ(host->timers.begin()->second.first, 2000u);
}

// Connections of one address share the delay, and while it has recent
// failures a right password waits as long as a wrong one, so a client that
// leaves before the answer learns nothing and has failed once more.
TEST_F(SessionLogonTest, TheDelayFollowsTheAddressAndHoldsEveryAnswer) {
  sessions->FailedLogonDelay = 1000;
  ASSERT_TRUE(users.pAddUser("bob", "pw", tree.Path("ftp/bob"), true, true, true, true, false, true));
  NewSession();
  Say("USER bob");
  Say("PASS wrong");
  host->FireNextTimer();
  EXPECT_EQ(host->TakeReplies(), k530);

  NewSession();  // another connection from the same address
  Say("USER bob");
  EXPECT_EQ(Say("PASS pw\r\nNOOP"), "") << "a right password is held too";
  ASSERT_EQ(host->timers.size(), 1u);
  EXPECT_EQ(host->timers.begin()->second.first, 2000u);
  EXPECT_FALSE(session->LoggedOn());
  session->OnControlClosed();

  NewSession();
  Say("USER bob");
  Say("PASS pw");
  ASSERT_EQ(host->timers.size(), 1u);
  EXPECT_EQ(host->timers.begin()->second.first, 3000u) << "the dropped connection counted as a failure";
  host->FireNextTimer();
  EXPECT_EQ(host->TakeReplies(), "230 \r\n");
  EXPECT_TRUE(session->LoggedOn());
}

TEST_F(SessionLogonTest, AClientThatLeavesDuringTheSystemCheckHasFailed) {
  sessions->FailedLogonDelay = 1000;
  sessions->UseNTAuthentication = true;
  users.IsRunningAsService = true;
  std::function<void(bool)> answer;
  sessions->Services().systemLogon = [&](const std::string&, const std::string&, std::function<void(bool)> done) {
    answer = std::move(done);
  };
  ASSERT_TRUE(users.pAddUser("bob", "x", tree.Path("ftp/bob"), true, true, true, true, false, true));
  NewSession();
  Say("USER bob");
  Say("PASS guess");
  session->OnControlClosed();
  answer(false);  // comes back after the client left
  NewSession();
  Say("USER bob");
  Say("PASS guess");
  answer(true);
  ASSERT_EQ(host->timers.size(), 1u);
  EXPECT_EQ(host->timers.begin()->second.first, 2000u);
}

TEST_F(SessionLogonTest, AHashedPasswordIsComparedOffTheLoop) {
  std::function<bool()> job;
  std::function<void(bool)> answer;
  sessions->Services().offLoop = [&](std::function<bool()> work, std::function<void(bool)> done) {
    job = std::move(work);
    answer = std::move(done);
  };
  users.HashNewPasswords = true;
  ASSERT_TRUE(users.pAddUser("bob", "pw", tree.Path("ftp/bob"), true, true, true, true, false, true));
  NewSession();
  Say("USER bob");
  EXPECT_EQ(Say("PASS pw"), "") << "answered before the check came back";
  ASSERT_TRUE(job);
  answer(job());
  EXPECT_EQ(host->TakeReplies(), "230 \r\n");
}

TEST_F(SessionLogonTest, UnreadRepliesStopTheInputUntilTheyDrain) {
  LogOn({});
  host->backlogged = true;
  EXPECT_EQ(Say("NOOP\r\nNOOP"), "");
  EXPECT_TRUE(host->held);
  host->backlogged = false;
  session->OnControlDrained();
  EXPECT_EQ(host->TakeReplies(), "200 OK\r\n200 OK\r\n");
  EXPECT_FALSE(host->held);
}

TEST_F(SessionLogonTest, NegotiationBeforeLogOnIsAnsweredAndNotCounted) {
  sessions->MaxLogonAttempts = "2";
  LogOn({});
  NewSession();
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(Cmd("FEAT").substr(0, 4), "211-");
    EXPECT_EQ(Cmd("AUTH TLS"), "504 That command is not implemented.\r\n");
    EXPECT_EQ(Cmd("SYST"), "215 Windows_NT\r\n");
    EXPECT_EQ(Cmd("OPTS UTF8 ON"), "200 OK\r\n");
    EXPECT_EQ(Cmd("NOOP"), "200 OK\r\n");
    EXPECT_EQ(Cmd("QUIT"), "221 Goodbye.\r\n");
  }
  EXPECT_FALSE(host->controlClosed);
  // The last allowed attempt is answered, then the connection closes.
  EXPECT_EQ(Cmd("STAT"), k530);
  Cmd("USER bob");
  EXPECT_EQ(Cmd("PASS wrong"), "");
  EXPECT_EQ(host->log, "reply:" + k530 + "close-control\n");
}

// A ban ends every connection of the address that is not logged on, is
// logged once, and a session logged on before it guesses no further.
TEST_F(SessionLogonTest, ABanEndsTheAddressesOpenGuesses) {
  sessions->BanFailedLogons = 2;
  sessions->MaxLogonAttempts = "10";
  ASSERT_TRUE(users.pAddUser("bob", "pw", tree.Path("ftp/bob"), true, true, true, true, false, true));
  std::vector<test::FakeHost*> hosts;
  auto add = [&](const std::string& address) -> CFTPSession& {
    auto fake = std::make_unique<test::FakeHost>();
    hosts.push_back(fake.get());
    return sessions->pAddFTPSession(std::to_string(hosts.size()), std::move(fake),
                                    ConnectionInfo{address, 50000, "127.0.0.1", 21, "127.0.0.1"});
  };
  CFTPSession& member = add("10.0.0.1");
  member.pSubmitCommand("USER bob\r\n");
  ASSERT_EQ(member.pSubmitCommand("PASS pw\r\n"), "230 \r\n");
  CFTPSession& idle = add("10.0.0.1");
  CFTPSession& stranger = add("10.0.0.2");
  CFTPSession& guesser = add("10.0.0.1");
  guesser.pSubmitCommand("USER bob\r\n");
  EXPECT_EQ(guesser.pSubmitCommand("PASS wrong1\r\n"), k530);
  EXPECT_EQ(guesser.pSubmitCommand("PASS wrong2\r\n"), "");
  const std::string k421 = "421 Too many failed log-ons from your address; try again later.\r\n";
  EXPECT_EQ(hosts[3]->replies, k530 + k421) << "the guess is answered, then the ban";
  EXPECT_EQ(hosts[1]->replies, k421);
  EXPECT_TRUE(hosts[1]->controlClosed);
  EXPECT_TRUE(guesser.Closed());
  EXPECT_TRUE(idle.Closed());
  EXPECT_FALSE(stranger.Closed());
  EXPECT_FALSE(member.Closed());
  member.pSubmitCommand("USER bob\r\n");
  EXPECT_EQ(member.pSubmitCommand("PASS wrong3\r\n"), "");
  EXPECT_EQ(hosts[0]->replies, k421);
  EXPECT_TRUE(member.Closed());
  const std::string errors = ReadAll(tree.Path("Errors.log"));
  EXPECT_NE(errors.find("10.0.0.1 refused"), std::string::npos) << errors;
  EXPECT_EQ(errors.find("refused"), errors.rfind("refused")) << errors;
}

TEST_F(SessionLogonTest, StrangersAreTimedOut) {
  sessions->LogonTimeout = 60000;
  NewSession();
  ASSERT_EQ(host->timers.size(), 1u);
  host->FireNextTimer();
  EXPECT_EQ(host->TakeReplies(), "421 Log-on time-out.\r\n");
  EXPECT_TRUE(host->controlClosed);
}

TEST_F(SessionLogonTest, EveryLineTakenAsPassIsMaskedAndFailuresAreLogged) {
  ASSERT_TRUE(users.pAddUser("bob", "pw", tree.Path("ftp/bob"), true, true, true, true, true, true));
  NewSession();
  Cmd("USER bob");
  using namespace std::string_literals;
  for (const std::string& line : {"pass secret1"s, "PASSWORD secret2"s, "PASSX secret3"s, "P\0ASS secret4"s}) Cmd(line);
  const std::string log = ReadAll(tree.Path("Access.log"));
  EXPECT_EQ(log.find("secret"), std::string::npos) << log;
  EXPECT_NE(log.find("PASS ****"), std::string::npos);
}

TEST_F(SessionLogonTest, LinksLeavingAConfinedTreeLeadNowhere) {
  std::filesystem::create_directory_symlink(tree.Path("outside"), tree.Path("ftp/bob/out"));
  std::filesystem::create_directory_symlink(tree.Path("ftp/bob/sub"), tree.Path("ftp/bob/in"));
  std::filesystem::create_directory_symlink(tree.Path("ftp/bob/out"), tree.Path("ftp/bob/sub/hop"));
  LogOn({});
  EXPECT_EQ(Cmd("CWD out"), kNoAccess);
  // Deeper down, and through a link that stays inside to one that leaves.
  EXPECT_EQ(Cmd("RETR sub/hop/secret.txt"), kNoAccess);
  EXPECT_EQ(Cmd("STOR in/hop/new.txt"), kNoAccess);
  EXPECT_EQ(Cmd("CWD in/hop"), kNoAccess);
  EXPECT_EQ(Cmd("RETR out/secret.txt"), kNoAccess);
  EXPECT_EQ(Cmd("STOR out/new.txt"), kNoAccess);
  EXPECT_EQ(Cmd("MKD out/new"), kNoAccess);
  EXPECT_FALSE(tree.Exists("outside/new"));
  EXPECT_EQ(Cmd("CWD in"), "250 Requested file action completed successfully.\r\n");
  // The link itself may go.
  EXPECT_EQ(Cmd("DELE " + tree.Path("ftp/bob/out")), "250 Requested file action completed successfully.\r\n");
  EXPECT_TRUE(tree.Exists("outside/secret.txt"));
}

}  // namespace
}  // namespace velto
