// The navigation and file commands, fed to a session line by line.
#include "fake_host.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>
#include <vector>

namespace velto {
namespace {

using test::Rights;

const std::string kOk = "250 Requested file action completed successfully.\r\n";
const std::string kNotFound = "550 Requested file action not taken.  File not found.\r\n";
const std::string kNoAccess = "550 Requested file action not taken---user does not have access.\r\n";
const std::string kFailed = "550 Requested file action not taken---file action failed.\r\n";
const std::string kPathNotFound = "550 Requested file action not taken.  File or path not found.\r\n";
const std::string kSyntaxIncorrect = "501 Syntax error--missing or incorrect parameters or arguments.\r\n";
const std::string kSyntax = "501 Syntax error--missing parameters or arguments.\r\n";
const std::string kPending = "350 Requested file action pending further information.\r\n";
const std::string kFileError = "450 Requested action not taken: File error.\r\n";
const std::string kNotImplemented = "504 That command is not implemented.\r\n";

class SessionFilesTest : public test::SessionFixture {
 protected:
  std::string Pwd() { return Cmd("PWD"); }
  static std::string PwdReply(const std::string& path) { return "257 \"" + path + "\" is the current directory.\r\n"; }
};

// ---- PWD and moving about -------------------------------------------------

TEST_F(SessionFilesTest, PwdAndXpwdShowTheCurrentDirectoryWithItsSlash) {
  LogOn({.limited = false});
  EXPECT_EQ(Cmd("PWD"), PwdReply(tree.Path("ftp/bob/")));
  EXPECT_EQ(Cmd("xpwd"), PwdReply(tree.Path("ftp/bob/")));
  EXPECT_EQ(Cmd("CWD sub"), kOk);
  EXPECT_EQ(Cmd("PWD"), PwdReply(tree.Path("ftp/bob/sub/")));
}

TEST_F(SessionFilesTest, UnlimitedAccountMovesRelativeAbsoluteAndUp) {
  LogOn({.limited = false});
  EXPECT_EQ(Cmd("CWD sub/deeper"), kOk);
  EXPECT_EQ(Pwd(), PwdReply(tree.Path("ftp/bob/sub/deeper/")));
  EXPECT_EQ(Cmd("CWD .."), kOk);
  EXPECT_EQ(Pwd(), PwdReply(tree.Path("ftp/bob/sub/")));
  EXPECT_EQ(Cmd("CDUP"), kOk);
  EXPECT_EQ(Pwd(), PwdReply(tree.Path("ftp/bob/")));
  EXPECT_EQ(Cmd("CWD " + tree.Path("outside")), kOk);
  EXPECT_EQ(Pwd(), PwdReply(tree.Path("outside/")));
  EXPECT_EQ(Cmd("CWD ../ftp/alice"), kOk);
  EXPECT_EQ(Pwd(), PwdReply(tree.Path("ftp/alice/")));
  EXPECT_EQ(Cmd("CWD /"), kOk);
  EXPECT_EQ(Pwd(), PwdReply("/"));
  EXPECT_EQ(Cmd("CDUP"), kOk);
  EXPECT_EQ(Pwd(), PwdReply("/"));
}

TEST_F(SessionFilesTest, RelativeTextFallsBackToTheRoot) {
  LogOn({.limited = false});
  // Not below the current directory, but from the root it names a folder.
  EXPECT_EQ(Cmd("CWD " + tree.Path("ftp/alice").substr(1)), kOk);
  EXPECT_EQ(Pwd(), PwdReply(tree.Path("ftp/alice/")));
}

TEST_F(SessionFilesTest, AbsoluteArgumentIsNeverJoinedToTheCurrentDirectory) {
  // A decoy below the current directory that joining would find first.
  tree.Dir("ftp/bob" + tree.Path("ftp/alice"));
  LogOn({.limited = false});
  EXPECT_EQ(Cmd("CWD " + tree.Path("ftp/alice")), kOk);
  EXPECT_EQ(Pwd(), PwdReply(tree.Path("ftp/alice/")));
  EXPECT_EQ(Cmd("CWD " + tree.Path("ftp/bob")), kOk);
  EXPECT_EQ(Cmd("CWD \\" + tree.Path("ftp/alice").substr(1)), kOk);
  EXPECT_EQ(Pwd(), PwdReply(tree.Path("ftp/alice/")));
}

TEST_F(SessionFilesTest, FailedChangesKeepTheDirectory) {
  LogOn({.limited = false});
  EXPECT_EQ(Cmd("CWD nope"), kNotFound);
  EXPECT_EQ(Cmd("CWD file.txt"), kNotFound);
  EXPECT_EQ(Cmd("CWD"), kSyntaxIncorrect);
  EXPECT_EQ(Cmd("CD"), kSyntaxIncorrect);
  EXPECT_EQ(Cmd("CD sub"), kNotImplemented);
  EXPECT_EQ(Pwd(), PwdReply(tree.Path("ftp/bob/")));
}

TEST_F(SessionFilesTest, DoubledSeparatorsAndBackslashesAreOneSeparator) {
  LogOn({.limited = false});
  EXPECT_EQ(Cmd("CWD sub//deeper"), kOk);
  EXPECT_EQ(Pwd(), PwdReply(tree.Path("ftp/bob/sub/deeper/")));
  EXPECT_EQ(Cmd("CWD ..\\.."), kOk);
  EXPECT_EQ(Pwd(), PwdReply(tree.Path("ftp/bob/")));
}

// ---- The limited account ----------------------------------------------------

TEST_F(SessionFilesTest, LimitedAccountMovesInsideItsTree) {
  LogOn({.limited = true});
  EXPECT_EQ(Cmd("CWD sub"), kOk);
  EXPECT_EQ(Cmd("CWD deeper"), kOk);
  EXPECT_EQ(Pwd(), PwdReply(tree.Path("ftp/bob/sub/deeper/")));
  EXPECT_EQ(Cmd("CDUP"), kOk);
  EXPECT_EQ(Cmd("CWD ../sub/./deeper/.."), kOk);
  EXPECT_EQ(Pwd(), PwdReply(tree.Path("ftp/bob/sub/")));
  EXPECT_EQ(Cmd("CWD " + tree.Path("ftp/bob")), kOk);
  EXPECT_EQ(Cmd("CWD " + tree.Path("ftp/bob/sub/deeper")), kOk);
  EXPECT_EQ(Cmd("CWD " + tree.Path("ftp/bob/sub/deeper/../..")), kOk);
  EXPECT_EQ(Pwd(), PwdReply(tree.Path("ftp/bob/")));
}

// What would have caught the escape: the text begins with the default
// directory, then climbs out.
TEST_F(SessionFilesTest, LimitedAccountCannotClimbOutWithDotDot) {
  LogOn({.limited = true});
  EXPECT_EQ(Cmd("CWD " + tree.Path("ftp/bob/../../outside")), kNoAccess);
  EXPECT_EQ(Cmd("CWD " + tree.Path("ftp/bob/../../../../../../..")), kNoAccess);
  EXPECT_EQ(Cmd("CWD " + tree.Path("ftp/bob/sub/../../bobby")), kNoAccess);
  EXPECT_EQ(Pwd(), PwdReply(tree.Path("ftp/bob/")));
}

TEST_F(SessionFilesTest, LimitedAccountEscapeAttemptsAreRefused) {
  LogOn({.limited = true});
  ASSERT_EQ(Cmd("CWD sub"), kOk);
  const std::string here = PwdReply(tree.Path("ftp/bob/sub/"));
  const std::vector<std::string> attempts = {"../..", "../../../../../../../..", "..\\..\\..", "..//..//outside",
                                             "deeper/../../../bobby", "/", "/etc", "//etc", "\\etc",
                                             tree.Path("ftp/bobby"), tree.Path("ftp/bob") + "by",
                                             tree.Path("outside"), tree.Path("ftp")};
  for (const std::string& arg : attempts) {
    EXPECT_EQ(Cmd("CWD " + arg), kNoAccess) << arg;
    EXPECT_EQ(Pwd(), here) << arg;
  }
  // Through a file: the path still resolves outside.
  EXPECT_EQ(Cmd("CWD ../file.txt/../../.."), kNoAccess);
  EXPECT_EQ(Pwd(), here);
  ASSERT_EQ(Cmd("CDUP"), kOk);
  EXPECT_EQ(Cmd("CDUP"), kNoAccess) << "CDUP at the top";
  EXPECT_EQ(Cmd("CWD .."), kNoAccess);
  EXPECT_EQ(Pwd(), PwdReply(tree.Path("ftp/bob/")));
}

TEST_F(SessionFilesTest, LimitedAccountDoesNotLearnWhatExistsOutside) {
  LogOn({.limited = true});
  // From the root "outside" would exist; a limited account never looks there.
  EXPECT_EQ(Cmd("CWD " + tree.Path("outside").substr(1)), kNotFound);
  EXPECT_EQ(Cmd("CWD " + tree.Path("nothing").substr(1)), kNotFound);
}

// ---- The virtual root ---------------------------------------------------------

TEST_F(SessionFilesTest, ConfinedAccountWithVirtualPathsSeesItsHomeAsTheRoot) {
  LogOn({.limited = true, .virtualPaths = true});
  EXPECT_EQ(Pwd(), PwdReply("/"));
  for (const char* arg : {"/", "/..", "..", "/../..", "\\"}) {
    EXPECT_EQ(Cmd(std::string("CWD ") + arg), kOk) << arg;
    EXPECT_EQ(Pwd(), PwdReply("/")) << arg;
  }
  EXPECT_EQ(Cmd("CDUP"), kOk);
  EXPECT_EQ(Cmd("CWD /sub/deeper"), kOk);
  EXPECT_EQ(Pwd(), PwdReply("/sub/deeper/"));
  EXPECT_EQ(Cmd("CWD ../../../sub"), kOk);
  EXPECT_EQ(Pwd(), PwdReply("/sub/"));
  EXPECT_EQ(Cmd("MKD /sub/new"), "257 \"/sub/new\" Directory created.\r\n");
  EXPECT_TRUE(tree.IsDir("ftp/bob/sub/new"));
  // Outside names nothing: "/outside" is looked for inside the tree.
  EXPECT_EQ(Cmd("CWD " + tree.Path("outside")), kNotFound);
  EXPECT_EQ(Cmd("DELE /../bobby/secret.txt"), kNotFound);
  // The physical form of the home still means the same place, and still
  // cannot climb out.
  EXPECT_EQ(Cmd("CWD " + tree.Path("ftp/bob/sub/deeper")), kOk);
  EXPECT_EQ(Pwd(), PwdReply("/sub/deeper/"));
  EXPECT_EQ(Cmd("CWD " + tree.Path("ftp/bob/../bobby")), kNoAccess);
  EXPECT_EQ(Cmd("CWD " + tree.Path("ftp/bob") + "by"), kNotFound);
}

TEST_F(SessionFilesTest, QuotesInAShownPathAreDoubled) {
  tree.Dir("ftp/bob/say \"hi\"");
  LogOn({.limited = true, .virtualPaths = true});
  EXPECT_EQ(Cmd("CWD say \"hi\""), kOk);
  EXPECT_EQ(Pwd(), "257 \"/say \"\"hi\"\"/\" is the current directory.\r\n");
}

// ---- SIZE, MDTM, MFMT, SITE CHMOD ---------------------------------------------

TEST_F(SessionFilesTest, SizeMdtmMfmtAndChmodFollowTheRightsAndTheLimit) {
  tree.File("ftp/bob/five.txt", "12345");
  LogOn({.limited = true, .virtualPaths = true});
  EXPECT_EQ(Cmd("SIZE five.txt"), "213 5\r\n");
  EXPECT_EQ(Cmd("SIZE sub"), "550 Requested file action not taken---not a regular file.\r\n");
  EXPECT_EQ(Cmd("SIZE nope"), kNotFound);
  EXPECT_EQ(Cmd("MFMT 20010821023600 /five.txt"), "213 Modify=20010821023600; /five.txt\r\n");
  EXPECT_EQ(Cmd("MDTM five.txt"), "213 20010821023600\r\n");
  EXPECT_EQ(Cmd("MFMT 20010231000000 five.txt"), kSyntaxIncorrect) << "no 31 February";
  EXPECT_EQ(Cmd("SITE CHMOD 4751 five.txt"), "200 SITE CHMOD command successful.\r\n");
  struct stat st{};
  ASSERT_EQ(::stat(tree.Path("ftp/bob/five.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0751u) << "never a set-id bit";
  EXPECT_EQ(Cmd("SITE CHMOD 755 /"), kNoAccess) << "the home's own entry";
  EXPECT_EQ(Cmd("SITE CHMOD 9 five.txt"), kSyntaxIncorrect);
  EXPECT_EQ(Cmd("SITE EXEC x"), kNotImplemented);
  Account().WriteAccess = false;
  EXPECT_EQ(Cmd("MFMT 20010821023600 five.txt"), kNoAccess);
  EXPECT_EQ(Cmd("SITE CHMOD 700 five.txt"), kNoAccess);
}

// ---- MKD --------------------------------------------------------------------

TEST_F(SessionFilesTest, MkdCreatesParentsAndAnswersWithThePath) {
  LogOn({.limited = true});
  tree.Dir("ftp/bob/a");
  EXPECT_EQ(Cmd("MKD a/b/c"), "257 \"" + tree.Path("ftp/bob/a/b/c") + "\" Directory created.\r\n");
  EXPECT_TRUE(tree.IsDir("ftp/bob/a/b/c"));
  EXPECT_EQ(Cmd("MKD " + tree.Path("ftp/bob/abs")), "257 \"" + tree.Path("ftp/bob/abs") + "\" Directory created.\r\n");
  EXPECT_TRUE(tree.IsDir("ftp/bob/abs"));
  EXPECT_EQ(Cmd("MKD x//y"), "257 \"" + tree.Path("ftp/bob/x/y") + "\" Directory created.\r\n");
  EXPECT_EQ(Cmd("MKD file.txt/z"), kNotFound);
  EXPECT_EQ(Cmd("MKD"), kSyntax);
}

TEST_F(SessionFilesTest, MkdOutsideTheTreeIsRefusedAndCreatesNothing) {
  LogOn({.limited = true});
  EXPECT_EQ(Cmd("MKD ../escaped"), kNoAccess);
  EXPECT_EQ(Cmd("MKD sub/../../escaped2"), kNoAccess);
  EXPECT_EQ(Cmd("MKD " + tree.Path("ftp/bob/../escaped3")), kNoAccess);
  EXPECT_EQ(Cmd("MKD " + tree.Path("outside/new")), kNoAccess);
  EXPECT_EQ(Cmd("MKD " + tree.Path("ftp/bobby/new")), kNoAccess);
  EXPECT_FALSE(tree.Exists("ftp/escaped"));
  EXPECT_FALSE(tree.Exists("ftp/escaped2"));
  EXPECT_FALSE(tree.Exists("ftp/escaped3"));
  EXPECT_FALSE(tree.Exists("outside/new"));
  EXPECT_FALSE(tree.Exists("ftp/bobby/new"));
}

TEST_F(SessionFilesTest, UnlimitedMkdAbsoluteAnywhere) {
  LogOn({.limited = false});
  EXPECT_EQ(Cmd("MKD " + tree.Path("outside/new")), "257 \"" + tree.Path("outside/new") + "\" Directory created.\r\n");
  EXPECT_TRUE(tree.IsDir("outside/new"));
  EXPECT_FALSE(tree.Exists("ftp/bob" + tree.Path("outside/new")));
}

// ---- RMD --------------------------------------------------------------------

TEST_F(SessionFilesTest, RmdRemovesOnlyEmptyDirectories) {
  LogOn({.limited = true});
  EXPECT_EQ(Cmd("RMD sub"), kNotFound);
  EXPECT_TRUE(tree.IsDir("ftp/bob/sub"));
  EXPECT_EQ(Cmd("RMD sub/deeper"), kOk);
  EXPECT_FALSE(tree.Exists("ftp/bob/sub/deeper"));
  EXPECT_EQ(Cmd("RMD sub/deeper"), kNotFound);
  EXPECT_EQ(Cmd("RMD"), kSyntax);
}

TEST_F(SessionFilesTest, RmdOfAFileRemovesNeitherItNorTheCurrentDirectory) {
  tree.Dir("ftp/bob/empty");
  tree.File("ftp/bob/empty/only.txt");
  LogOn({.limited = true});
  ASSERT_EQ(Cmd("CWD empty"), kOk);
  EXPECT_EQ(Cmd("RMD only.txt"), kNotFound);
  EXPECT_TRUE(tree.Exists("ftp/bob/empty/only.txt"));
  EXPECT_TRUE(tree.IsDir("ftp/bob/empty"));
}

TEST_F(SessionFilesTest, RmdOfTheCurrentDirectoryMovesToItsParent) {
  LogOn({.limited = true});
  ASSERT_EQ(Cmd("CWD sub/deeper"), kOk);
  EXPECT_EQ(Cmd("RMD ."), kOk);
  EXPECT_FALSE(tree.Exists("ftp/bob/sub/deeper"));
  EXPECT_EQ(Pwd(), PwdReply(tree.Path("ftp/bob/sub/")));
}

TEST_F(SessionFilesTest, RmdOutsideOrOfTheTreeItselfIsRefused) {
  tree.Dir("outside/empty");
  tree.Dir("ftp/bobby/empty");
  tree.Dir("ftp/empty");
  LogOn({.limited = true});
  EXPECT_EQ(Cmd("RMD " + tree.Path("outside/empty")), kNoAccess);
  EXPECT_EQ(Cmd("RMD ../bobby/empty"), kNoAccess);
  EXPECT_EQ(Cmd("RMD ../empty"), kNoAccess);
  EXPECT_EQ(Cmd("RMD " + tree.Path("ftp/bob/../empty")), kNoAccess);
  EXPECT_TRUE(tree.IsDir("outside/empty"));
  EXPECT_TRUE(tree.IsDir("ftp/bobby/empty"));
  EXPECT_TRUE(tree.IsDir("ftp/empty"));
  // The default directory's own entry belongs to the folder above it.
  tree.Dir("ftp/carol");
  ASSERT_TRUE(users.pAddUser("carol", "pw", tree.Path("ftp/carol"), false, true, true, true, false, true));
  ASSERT_EQ(Cmd("USER carol"), "331 OK need password.\r\n");
  ASSERT_EQ(Cmd("PASS pw"), "230 \r\n");
  EXPECT_EQ(Cmd("RMD ."), kNoAccess);
  EXPECT_EQ(Cmd("RMD " + tree.Path("ftp/carol")), kNoAccess);
  EXPECT_TRUE(tree.IsDir("ftp/carol"));
}

// ---- DELE -------------------------------------------------------------------

TEST_F(SessionFilesTest, DeleOfFilesReadOnlyIncludedButNotOfDirectories) {
  tree.File("ftp/bob/ro.txt");
  ASSERT_EQ(::chmod(tree.Path("ftp/bob/ro.txt").c_str(), 0444), 0);
  LogOn({.limited = true});
  EXPECT_EQ(Cmd("DELE ro.txt"), kOk);
  EXPECT_FALSE(tree.Exists("ftp/bob/ro.txt"));
  EXPECT_EQ(Cmd("DELE sub"), kFileError);
  EXPECT_TRUE(tree.IsDir("ftp/bob/sub"));
  EXPECT_EQ(Cmd("DELE nope.txt"), kNotFound);
  EXPECT_EQ(Cmd("DELE " + tree.Path("ftp/bob/file.txt")), kOk);
  EXPECT_FALSE(tree.Exists("ftp/bob/file.txt"));
}

TEST_F(SessionFilesTest, DeleOutsideTheTreeIsRefused) {
  LogOn({.limited = true});
  const std::vector<std::string> attempts = {"../bobby/secret.txt", "../../outside/secret.txt",
                                             "..\\bobby\\secret.txt", tree.Path("outside/secret.txt"),
                                             tree.Path("ftp/bob/../bobby/secret.txt"),
                                             tree.Path("ftp/bobby//secret.txt")};
  for (const std::string& arg : attempts) {
    EXPECT_EQ(Cmd("DELE " + arg), kNoAccess) << arg;
  }
  EXPECT_TRUE(tree.Exists("ftp/bobby/secret.txt"));
  EXPECT_TRUE(tree.Exists("outside/secret.txt"));
}

// ".." is taken off the text before anything is checked, and the resolved
// path is what the system gets: a link inside the tree cannot turn "..", as
// the system would read it, into a step outside.
TEST_F(SessionFilesTest, DotDotAfterALinkIsResolvedOnTheTextAsChecked) {
  tree.Dir("outside/sub");
  ASSERT_EQ(::symlink(tree.Path("outside/sub").c_str(), tree.Path("ftp/bob/link").c_str()), 0);
  LogOn({.limited = true});
  EXPECT_EQ(Cmd("DELE link/../secret.txt"), kNotFound);
  EXPECT_EQ(Cmd("RNFR link/../secret.txt"), kPending);
  EXPECT_EQ(Cmd("RNTO mine.txt"), kPathNotFound);
  EXPECT_TRUE(tree.Exists("outside/secret.txt"));
  EXPECT_EQ(Cmd("CWD link/.."), kOk);
  EXPECT_EQ(Pwd(), PwdReply(tree.Path("ftp/bob/")));
  // The link leaves the tree: it leads nowhere.
  EXPECT_EQ(Cmd("CWD link"), kNoAccess);
}

TEST_F(SessionFilesTest, UnlimitedDeleAnywhereByAbsolutePath) {
  LogOn({.limited = false});
  EXPECT_EQ(Cmd("DELE " + tree.Path("outside/secret.txt")), kOk);
  EXPECT_FALSE(tree.Exists("outside/secret.txt"));
}

// ---- RNFR and RNTO --------------------------------------------------------

TEST_F(SessionFilesTest, RenameFilesAndDirectories) {
  LogOn({.limited = true});
  EXPECT_EQ(Cmd("RNFR file.txt"), kPending);
  EXPECT_EQ(Cmd("RNTO sub/moved.txt"), kOk);
  EXPECT_TRUE(tree.Exists("ftp/bob/sub/moved.txt"));
  EXPECT_FALSE(tree.Exists("ftp/bob/file.txt"));
  EXPECT_EQ(Cmd("RNTO again.txt"), kSyntax) << "a second RNTO";

  ASSERT_EQ(Cmd("CWD sub"), kOk);
  EXPECT_EQ(Cmd("RNFR deeper"), kPending);
  EXPECT_EQ(Cmd("RNTO ../newdir"), kOk);
  EXPECT_TRUE(tree.IsDir("ftp/bob/newdir"));
  EXPECT_FALSE(tree.Exists("ftp/bob/sub/deeper"));

  EXPECT_EQ(Cmd("RNFR " + tree.Path("ftp/bob/newdir")), kPending);
  EXPECT_EQ(Cmd("RNTO " + tree.Path("ftp/bob/sub/back")), kOk);
  EXPECT_TRUE(tree.IsDir("ftp/bob/sub/back"));
}

TEST_F(SessionFilesTest, RntoNeedsAFreshRnfrAndNeverReplaces) {
  tree.File("ftp/bob/other.txt", "keep");
  LogOn({.limited = true});
  EXPECT_EQ(Cmd("RNTO x.txt"), kSyntax);
  EXPECT_EQ(Cmd("RNFR"), kSyntax);
  EXPECT_EQ(Cmd("RNFR file.txt"), kPending);
  EXPECT_EQ(Cmd("RNTO"), kSyntax);
  EXPECT_EQ(Cmd("RNTO x.txt"), kSyntax) << "the empty RNTO used up the source";
  EXPECT_EQ(Cmd("RNFR file.txt"), kPending);
  EXPECT_EQ(Cmd("RNTO other.txt"), kFailed);
  EXPECT_TRUE(tree.Exists("ftp/bob/file.txt"));
  EXPECT_EQ(Cmd("RNFR nope.txt"), kPending);
  EXPECT_EQ(Cmd("RNTO y.txt"), kPathNotFound);
  EXPECT_EQ(Cmd("RNTO y.txt"), kSyntax);
}

TEST_F(SessionFilesTest, RenameAcrossTheLimitIsRefused) {
  LogOn({.limited = true});
  EXPECT_EQ(Cmd("RNFR ../bobby/secret.txt"), kPending);
  EXPECT_EQ(Cmd("RNTO stolen.txt"), kNoAccess);
  EXPECT_EQ(Cmd("RNFR " + tree.Path("outside/secret.txt")), kPending);
  EXPECT_EQ(Cmd("RNTO stolen.txt"), kNoAccess);
  EXPECT_EQ(Cmd("RNFR file.txt"), kPending);
  EXPECT_EQ(Cmd("RNTO ../../outside/planted.txt"), kNoAccess);
  EXPECT_EQ(Cmd("RNFR file.txt"), kPending);
  EXPECT_EQ(Cmd("RNTO " + tree.Path("ftp/bob/../bobby/planted.txt")), kNoAccess);
  EXPECT_EQ(Cmd("RNFR sub"), kPending);
  EXPECT_EQ(Cmd("RNTO " + tree.Path("ftp/bob")), kNoAccess);
  EXPECT_EQ(Cmd("RNFR ."), kPending);
  EXPECT_EQ(Cmd("RNTO " + tree.Path("ftp/bob/sub/self")), kNoAccess) << "moving the tree itself";
  EXPECT_TRUE(tree.Exists("ftp/bobby/secret.txt"));
  EXPECT_TRUE(tree.Exists("outside/secret.txt"));
  EXPECT_TRUE(tree.Exists("ftp/bob/file.txt"));
  EXPECT_FALSE(tree.Exists("ftp/bob/stolen.txt"));
  EXPECT_FALSE(tree.Exists("outside/planted.txt"));
  EXPECT_FALSE(tree.Exists("ftp/bobby/planted.txt"));
  EXPECT_TRUE(tree.IsDir("ftp/bob/sub"));
}

// ---- Rights -----------------------------------------------------------------

TEST_F(SessionFilesTest, WriteCommandsNeedTheWriteRight) {
  tree.Dir("ftp/bob/empty");
  LogOn({.limited = true, .write = false});
  EXPECT_EQ(Cmd("MKD new"), kNoAccess);
  EXPECT_EQ(Cmd("MKD"), kNoAccess);
  EXPECT_EQ(Cmd("RMD empty"), kNoAccess);
  EXPECT_EQ(Cmd("DELE file.txt"), kNoAccess);
  EXPECT_EQ(Cmd("RNFR file.txt"), kNoAccess);
  EXPECT_EQ(Cmd("RNTO x.txt"), kNoAccess);
  EXPECT_FALSE(tree.Exists("ftp/bob/new"));
  EXPECT_TRUE(tree.IsDir("ftp/bob/empty"));
  EXPECT_TRUE(tree.Exists("ftp/bob/file.txt"));
  EXPECT_EQ(Cmd("CWD sub"), kOk) << "moving about needs no write right";
}

TEST_F(SessionFilesTest, RightsAreLookedUpOnEveryCommand) {
  LogOn({.limited = false});
  EXPECT_EQ(Cmd("RNFR file.txt"), kPending);
  Account().WriteAccess = false;
  EXPECT_EQ(Cmd("RNTO x.txt"), kNoAccess);
  EXPECT_EQ(Cmd("MKD new"), kNoAccess);
  Account().WriteAccess = true;
  EXPECT_EQ(Cmd("RNTO x.txt"), kSyntax) << "the refused RNTO used up the source";
  EXPECT_EQ(Cmd("CWD " + tree.Path("outside")), kOk);
  ASSERT_EQ(Cmd("CWD " + tree.Path("ftp/bob")), kOk);
  Account().LimitToDefaultDirectory = true;
  EXPECT_EQ(Cmd("CWD " + tree.Path("outside")), kNoAccess);
}

// ---- Names ------------------------------------------------------------------

TEST_F(SessionFilesTest, NamesWithSpacesTrailingSpaceAndUtf8AreKept) {
  LogOn({.limited = true});
  const std::string utf8 = "\xc3\xa9t\xc3\xa9 \xe2\x82\xac";
  EXPECT_EQ(Cmd("MKD two words "), "257 \"" + tree.Path("ftp/bob/two words ") + "\" Directory created.\r\n");
  EXPECT_TRUE(tree.IsDir("ftp/bob/two words "));
  EXPECT_FALSE(tree.Exists("ftp/bob/two words"));
  EXPECT_EQ(Cmd("CWD two words "), kOk);
  EXPECT_EQ(Pwd(), PwdReply(tree.Path("ftp/bob/two words /")));
  EXPECT_EQ(Cmd("MKD " + utf8), "257 \"" + tree.Path("ftp/bob/two words /" + utf8) + "\" Directory created.\r\n");
  EXPECT_EQ(Cmd("CWD " + utf8), kOk);
  EXPECT_EQ(Cmd("CDUP"), kOk);
  EXPECT_EQ(Cmd("RMD " + utf8), kOk);
  tree.File("ftp/bob/two words /end ");
  EXPECT_EQ(Cmd("DELE end"), kNotFound);
  EXPECT_EQ(Cmd("DELE end "), kOk);
  EXPECT_FALSE(tree.Exists("ftp/bob/two words /end "));
}

}  // namespace
}  // namespace velto
