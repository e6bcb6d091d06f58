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

// ---- FTPS: AUTH, PBSZ, PROT, CCC and the policies ------------------------------

namespace velto {
namespace {

const std::string kAuth234 = "234 AUTH TLS successful\r\n";
const std::string kTls530 = "530 TLS is required to log on: send AUTH TLS first.\r\n";
const std::string k503Pbsz = "503 PBSZ needs AUTH TLS first.\r\n";
const std::string k503Prot = "503 PROT needs PBSZ first.\r\n";
const std::string kPrivate = "200 Protection level set to Private.\r\n";
const std::string kClear = "200 Protection level set to Clear.\r\n";
const std::string k504 = "504 That command is not implemented.\r\n";

class SessionTlsTest : public test::SessionFixture {
 protected:
  void AddBob() { ASSERT_TRUE(users.pAddUser("bob", "pw", tree.Path("ftp/bob"), true, true, true, true, false, true)); }
  // AUTH TLS as the client sends it; true when the host was asked to start TLS.
  bool Secure() {
    host->log.clear();
    return Say("AUTH TLS") == kAuth234 && host->log == "reply:" + kAuth234 + "start-tls\n";
  }
};

TEST_F(SessionTlsTest, WithoutACertificateTheSecurityCommandsAnswerAsBefore) {
  AddBob();
  NewSession();
  for (const char* line : {"AUTH TLS", "AUTH SSL", "PBSZ 0", "PROT P"}) EXPECT_EQ(Cmd(line), k504) << line;
  // CCC is an unknown word there: before log-on it counts as an attempt.
  EXPECT_EQ(Cmd("CCC"), k530);
  Cmd("USER bob");
  Cmd("PASS pw");
  EXPECT_EQ(Cmd("CCC"), k504);
  for (const char* verb : {"AUTH", "PBSZ", "PROT", "CCC"}) {
    EXPECT_EQ(Cmd("FEAT").find(verb), std::string::npos) << verb;
    EXPECT_EQ(Cmd("HELP").find(verb), std::string::npos) << verb;
  }
  EXPECT_FALSE(session->ControlSecured());
}

TEST_F(SessionTlsTest, FeatAndHelpNameTheSecurityCommandsWhileTlsIsAvailable) {
  NewSession(true);
  const std::string feat = Cmd("FEAT");
  EXPECT_EQ(feat.find("211-Features:\r\n AUTH TLS\r\n CLNT\r\n"), 0u) << feat;
  EXPECT_NE(feat.find(" PBSZ\r\n PROT\r\n REST STREAM\r\n"), std::string::npos) << feat;
  const std::string help = Cmd("HELP");
  for (const char* verb : {" AUTH", " CCC", " PBSZ", " PROT"}) EXPECT_NE(help.find(verb), std::string::npos) << verb;
}

TEST_F(SessionTlsTest, TheSecurityCommandsFollowTheirOrderAndAreNotCountedBeforeLogOn) {
  sessions->MaxLogonAttempts = "1";
  NewSession(true);
  EXPECT_EQ(Say("PBSZ 0"), k503Pbsz);
  EXPECT_EQ(Say("PROT P"), k503Prot);
  EXPECT_EQ(Say("CCC"), "533 The control connection is not secured.\r\n");
  EXPECT_EQ(Say("AUTH KERBEROS_V4"), "504 Unknown security mechanism.\r\n");
  EXPECT_EQ(Say("AUTH"), "504 Unknown security mechanism.\r\n");
  ASSERT_TRUE(Secure());
  EXPECT_TRUE(session->ControlSecured());
  EXPECT_EQ(Say("auth tls-c"), "503 The control connection is already secured.\r\n");
  EXPECT_EQ(Say("PROT P"), k503Prot) << "PBSZ comes first";
  for (const char* bad : {"PBSZ", "PBSZ x", "PBSZ -1", "PBSZ 4294967296"}) {
    EXPECT_EQ(Say(bad), "501 Syntax error--missing or incorrect parameters or arguments.\r\n") << bad;
  }
  EXPECT_EQ(Say("PBSZ 16384"), "200 PBSZ=0\r\n");
  EXPECT_EQ(Say("PROT S"), "536 Requested PROT level not supported by mechanism.\r\n");
  EXPECT_EQ(Say("PROT E"), "536 Requested PROT level not supported by mechanism.\r\n");
  EXPECT_EQ(Say("PROT X"), "504 Unknown protection level.\r\n");
  EXPECT_FALSE(session->DataProtected());
  host->log.clear();
  EXPECT_EQ(Say("PROT p"), kPrivate);
  EXPECT_TRUE(session->DataProtected());
  EXPECT_EQ(Say("PROT C"), kClear);
  EXPECT_EQ(host->log, "protect-data\nreply:" + kPrivate + "clear-data\nreply:" + kClear);
  EXPECT_EQ(Say("CCC"), "534 The control connection stays encrypted.\r\n");
  EXPECT_FALSE(host->controlClosed);
}

TEST_F(SessionTlsTest, ACertificateThatDidNotLoadIsAMissingResource) {
  sessions->TLSCertificateFile = "/etc/velto/missing.pem";
  NewSession(false);
  EXPECT_EQ(Say("AUTH SSL"), "431 TLS is not available now.\r\n");
  EXPECT_EQ(Say("AUTH GSSAPI"), "504 Unknown security mechanism.\r\n");
  EXPECT_EQ(Say("PBSZ 0"), k503Pbsz);
  EXPECT_EQ(Cmd("FEAT").find("AUTH"), std::string::npos);
  EXPECT_FALSE(session->ControlSecured());
}

// Lines sent in clear behind AUTH could come from anyone on the path; and
// what was authorised in clear is authorised again under TLS.
TEST_F(SessionTlsTest, AuthDropsWhatCameBehindItAndEndsTheLogOn) {
  LogOn({});
  host->tlsAvailable = true;
  host->TakeReplies();
  session->OnControlData("AUTH TLS\r\nUSER bob\r\nPASS pw\r\nNOO");
  EXPECT_EQ(host->TakeReplies(), kAuth234);
  EXPECT_FALSE(session->LoggedOn());
  EXPECT_TRUE(session->UserID.empty());
  EXPECT_EQ(Say("P"), k530) << "the partial line went too";
  EXPECT_EQ(Say("CWD sub"), k530);
  EXPECT_EQ(Say("USER bob"), "331 OK need password.\r\n");
  EXPECT_EQ(Say("PASS pw"), "230 \r\n");
}

TEST_F(SessionTlsTest, LogOnPoliciesRefuseTheUserBeforeAnyPasswordTravels) {
  AddBob();
  ASSERT_TRUE(users.pAddUser("carl", "pw", tree.Path("ftp/alice"), true, true, true, true, false, true));
  sessions->MaxLogonAttempts = "1";
  sessions->TLSRequiredForLogon = true;
  NewSession(true);
  EXPECT_EQ(Say("USER carl"), kTls530);
  EXPECT_EQ(Say("PASS pw"), kTls530) << "no password is checked in clear";
  EXPECT_FALSE(host->controlClosed) << "nor counted as a guess";
  ASSERT_TRUE(Secure());
  EXPECT_EQ(Say("USER carl"), "331 OK need password.\r\n");
  EXPECT_EQ(Say("PASS pw"), "230 \r\n");

  // The account's own key, with the server-wide policy off.
  sessions->TLSRequiredForLogon = false;
  Account().RequireTLS = true;
  NewSession(true);
  EXPECT_EQ(Say("USER BOB"), kTls530);
  EXPECT_EQ(Say("USER carl"), "331 OK need password.\r\n");
  Account().RequireTLS = false;
  Say("USER bob");
  Account().RequireTLS = true;  // the accounts were read again meanwhile
  EXPECT_EQ(Say("PASS pw"), kTls530);
  ASSERT_TRUE(Secure());
  Say("USER bob");
  EXPECT_EQ(Say("PASS pw"), "230 \r\n");
}

TEST_F(SessionTlsTest, DataPolicyRefusesTransfersAndListingsInClear) {
  tree.File("ftp/bob/hello.txt", "hello");
  sessions->TLSRequiredForData = true;
  LogOn({});
  host->tlsAvailable = true;
  host->TakeReplies();
  const std::string k521 = "521 Data connection cannot be opened with this PROT setting: send PROT P.\r\n";
  EXPECT_EQ(Say("PASV"), "227 Entering Passive Mode (127,0,0,1,156,65).\r\n") << "setting one up is allowed";
  for (const char* line : {"RETR hello.txt", "STOR new.txt", "APPE hello.txt", "STOU", "LIST", "NLST", "MLSD"}) {
    EXPECT_EQ(Say(line), k521) << line;
  }
  EXPECT_FALSE(tree.Exists("ftp/bob/upload"));
  EXPECT_FALSE(tree.Exists("ftp/bob/new.txt"));
  ASSERT_TRUE(Secure());
  Say("USER bob");
  Say("PASS pw");
  Say("PBSZ 0");
  Say("PROT P");
  Say("PASV");
  EXPECT_EQ(Say("RETR hello.txt"), "150 Opening data connection.\r\n");
  EXPECT_EQ(Say("PROT C"), kClear);
  EXPECT_EQ(Say("LIST"), k521);
}

TEST_F(SessionTlsTest, AnImplicitConnectionIsSecuredAndProtectedFromTheStart) {
  NewSession(true, true);
  EXPECT_EQ(host->log, "protect-data\n");
  EXPECT_TRUE(session->ControlSecured());
  EXPECT_TRUE(session->DataProtected());
  EXPECT_EQ(Say("AUTH TLS"), "503 The control connection is already secured.\r\n");
  EXPECT_EQ(Say("PROT C"), kClear) << "PBSZ 0 counts as done";
  EXPECT_EQ(Say("PBSZ 0"), "200 PBSZ=0\r\n");
  EXPECT_EQ(Say("CCC"), "534 The control connection stays encrypted.\r\n");
}

}  // namespace
}  // namespace velto
