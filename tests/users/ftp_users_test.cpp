#include "users/ftp_users.h"

#include "users/encrypt.h"
#include "users/file_value.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace velto {
namespace {

namespace fs = std::filesystem;

class FTPUsersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "velto-users-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    file_ = (dir_ / "Velto.usr").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  void WriteFile(const std::string& text) { std::ofstream(file_, std::ios::binary) << text; }
  std::string ReadFile() const {
    std::ifstream in(file_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::unique_ptr<CFTPUsers> Open(CFTPUsers::MessagePump pump = {}) {
    auto users = std::make_unique<CFTPUsers>(std::move(pump));
    users->SetDataFile(file_);
    return users;
  }
  static void Add(CFTPUsers& users, std::string_view id, std::string_view password = "pw") {
    ASSERT_TRUE(users.pAddUser(id, password, "/home/x", false, true, true, true, false, true));
  }

  fs::path dir_;
  std::string file_;
};

TEST_F(FTPUsersTest, MissingFileLoadsNoAccounts) {
  auto users = Open();
  EXPECT_EQ(users->DataFile(), file_);
  EXPECT_EQ(users->Count(), 0);
  EXPECT_FALSE(fs::exists(file_));
}

TEST_F(FTPUsersTest, LoadingStopsAtTheFirstGap) {
  WriteFile("[User1]\r\nUserID=a\r\n[User2]\r\nUserID=b\r\n[User4]\r\nUserID=d\r\n");
  auto users = Open();
  ASSERT_EQ(users->Count(), 2);
  EXPECT_EQ(users->ItemByIndex(1).UserID, "a");
  EXPECT_EQ(users->ItemByIndex(2).UserID, "b");
  EXPECT_FALSE(users->pExists("d"));
}

TEST_F(FTPUsersTest, EmptyUserIDEndsTheList) {
  WriteFile("[User1]\r\nUserID=a\r\n[User2]\r\nUserID=\r\n[User3]\r\nUserID=c\r\n");
  EXPECT_EQ(Open()->Count(), 1);
}

TEST_F(FTPUsersTest, IdsDifferingOnlyInCaseLoadOnce) {
  WriteFile("[User1]\r\nUserID=Bob\r\nLogAccess=True\r\n[User2]\r\nUserID=BOB\r\n[User3]\r\nUserID=carl\r\n");
  auto users = Open();
  ASSERT_EQ(users->Count(), 2);
  EXPECT_EQ(users->ItemByKey("bob").UserID, "Bob");
  EXPECT_TRUE(users->ItemByKey("bob").LogAccess);
  EXPECT_EQ(users->ItemByIndex(2).UserID, "carl");
}

TEST_F(FTPUsersTest, SectionWithOnlyUserIDGetsTheDefaults) {
  WriteFile("[User1]\r\nUserID=guest\r\n");
  auto users = Open();
  ASSERT_EQ(users->Count(), 1);
  const CFTPUser& user = users->ItemByKey("GUEST");
  EXPECT_EQ(user.Password, "");
  EXPECT_EQ(user.DefaultDirectory, "") << "no folder: such an account cannot log on";
  EXPECT_FALSE(user.AllowConcurrentLogons);
  EXPECT_TRUE(user.LimitToDefaultDirectory);
  EXPECT_TRUE(user.ReadAccess);
  EXPECT_TRUE(user.WriteAccess);
  EXPECT_FALSE(user.LogAccess);
  EXPECT_TRUE(user.UseVirtualPaths);
}

TEST_F(FTPUsersTest, BooleansAcceptWordsAndNumbers) {
  WriteFile(
      "[User1]\r\nUserID=u\r\nAllowConcurrentLogons=1\r\nLimitToDefaultDirectory=0\r\n"
      "ReadAccess=false\r\nWriteAccess=FALSE\r\nLogAccess=-1\r\nUseVirtualPaths=maybe\r\n");
  auto users = Open();
  const CFTPUser& user = users->ItemByKey("u");
  EXPECT_TRUE(user.AllowConcurrentLogons);
  EXPECT_FALSE(user.LimitToDefaultDirectory);
  EXPECT_FALSE(user.ReadAccess);
  EXPECT_FALSE(user.WriteAccess);
  EXPECT_TRUE(user.LogAccess);
  EXPECT_TRUE(user.UseVirtualPaths) << "unreadable text keeps the default";
}

TEST(TextToBool, Conversions) {
  EXPECT_TRUE(TextToBool("True", false));
  EXPECT_TRUE(TextToBool(" true ", false));
  EXPECT_FALSE(TextToBool("False", true));
  EXPECT_FALSE(TextToBool("0", true));
  EXPECT_TRUE(TextToBool("2.5", false));
  EXPECT_FALSE(TextToBool("", false));
  EXPECT_TRUE(TextToBool("", true));
  EXPECT_FALSE(TextToBool("yes", false));
}

TEST_F(FTPUsersTest, AddedAccountIsWrittenAndReadBack) {
  {
    auto users = Open();
    ASSERT_TRUE(users->pAddUser("Alice", "MixedCase", "/data/alice", true, false, true, false, true, false));
    EXPECT_TRUE(users->LastSaveSucceeded());
  }
  const std::string text = ReadFile();
  EXPECT_NE(text.find("[User1]\r\n"), std::string::npos);
  EXPECT_NE(text.find("UserID=Alice\r\n"), std::string::npos);
  EXPECT_NE(text.find("AllowConcurrentLogons=True\r\n"), std::string::npos);
  EXPECT_NE(text.find("WriteAccess=False\r\n"), std::string::npos);
  EXPECT_EQ(text.find("MixedCase"), std::string::npos) << "the password is not stored in clear";
  // The store puts each new key first, so the last written key leads.
  EXPECT_NE(text.find("[User1]\r\nUseVirtualPaths=False\r\n"), std::string::npos);

  auto again = Open();
  ASSERT_EQ(again->Count(), 1);
  const CFTPUser& user = again->ItemByKey("alice");
  EXPECT_EQ(user.UserID, "Alice");
  EXPECT_EQ(user.Password, "MixedCase");
  EXPECT_EQ(user.DefaultDirectory, "/data/alice");
  EXPECT_TRUE(user.AllowConcurrentLogons);
  EXPECT_FALSE(user.LimitToDefaultDirectory);
  EXPECT_TRUE(user.ReadAccess);
  EXPECT_FALSE(user.WriteAccess);
  EXPECT_TRUE(user.LogAccess);
  EXPECT_FALSE(user.UseVirtualPaths);
}

TEST_F(FTPUsersTest, PasswordFileValueIsTheEncryptedPassword) {
  {
    auto users = Open();
    Add(*users, "u", "Secret");
  }
  const std::string stored = EncodeFileValue(CEncrypt::Encrypt("Secret", CFTPUsers::kPassPhrase));
  EXPECT_NE(ReadFile().find("\r\nPassword=" + stored + "\r\n"), std::string::npos);
}

TEST_F(FTPUsersTest, EmptyPasswordIsAnEmptyValue) {
  {
    auto users = Open();
    Add(*users, "u", "");
  }
  EXPECT_NE(ReadFile().find("\r\nPassword=\r\n"), std::string::npos);
  EXPECT_EQ(Open()->ItemByKey("u").Password, "");
}

TEST_F(FTPUsersTest, PasswordsOfAnyByteSurviveTheFile) {
  std::string all;
  for (int i = 1; i < 256; ++i) all += static_cast<char>(i);
  const std::string withNul = std::string("a\0b\r\n]\r\n[User2]\r\nUserID=x", 25);
  {
    auto users = Open();
    Add(*users, "one", all);
    Add(*users, "two", withNul);
    Add(*users, "three", "plain");
  }
  auto again = Open();
  ASSERT_EQ(again->Count(), 3);
  EXPECT_EQ(again->ItemByKey("one").Password, all);
  EXPECT_EQ(again->ItemByKey("two").Password, withNul);
  EXPECT_EQ(again->ItemByKey("three").Password, "plain");
}

TEST_F(FTPUsersTest, PasswordWhoseCipherEndsInABracketKeepsItsAccount) {
  // As the last byte of a line, "]" would end the section before UserID.
  ASSERT_EQ(CEncrypt::Encrypt("pay", CFTPUsers::kPassPhrase).back(), ']');
  {
    auto users = Open();
    Add(*users, "u", "pay");
    Add(*users, "v");
  }
  auto again = Open();
  ASSERT_EQ(again->Count(), 2);
  EXPECT_TRUE(again->ValidateUser("u", "pay"));
}

TEST_F(FTPUsersTest, ClassicRawPasswordValueLoads) {
  // "secret" encrypted and written byte for byte, as older files hold it.
  const std::string cipher = CEncrypt::Encrypt("secret", CFTPUsers::kPassPhrase);
  ASSERT_EQ(cipher.find_first_of(std::string("\r\n\0", 3)), std::string::npos);
  WriteFile("[User1]\r\nUserID=old\r\nPassword=" + cipher + "\r\n");
  auto users = Open();
  EXPECT_TRUE(users->ValidateUser("old", "secret"));
}

TEST_F(FTPUsersTest, HashedPasswordsGoUnderTheirOwnKeyAndClassicAccountsStayAsTheyWere) {
  const std::string classic =
      "[User1]\r\nDefaultDirectory=/\r\nPassword=" + EncodeFileValue(CEncrypt::Encrypt("secret", CFTPUsers::kPassPhrase)) +
      "\r\nUserID=old\r\n";
  WriteFile(classic);
  {
    auto users = Open();
    users->HashNewPasswords = true;
    Add(*users, "new", "pw");
  }
  const std::string file = ReadFile();
  EXPECT_EQ(file.rfind(classic, 0), 0u) << "the classic account is written as before:\n" << file;
  const auto hashAt = file.find("\r\nPasswordHash=$y$");
  ASSERT_NE(hashAt, std::string::npos) << file;
  EXPECT_GT(hashAt, file.find("[User2]"));

  auto users = Open();
  EXPECT_TRUE(users->ValidateUser("old", "secret"));
  EXPECT_TRUE(users->ValidateUser("new", "pw"));
  EXPECT_FALSE(users->ValidateUser("new", ""));
  EXPECT_EQ(users->ItemByKey("new").Password, "");
  // What a program without hashes reads as the password: a CR LF, which no
  // PASS command can carry, so it refuses every log-on.
  CIni ini;
  ini.SetContents(file);
  EXPECT_EQ(CEncrypt::Decrypt(DecodeFileValue(ini.GetValue("User2", "Password")), CFTPUsers::kPassPhrase), "\r\n");

  // With hashing off a new password is classic again and the hash goes.
  ASSERT_TRUE(users->SetPassword(users->ItemByKey("new"), "plain"));
  ASSERT_TRUE(users->pUpdateUsers());
  auto again = Open();
  EXPECT_TRUE(again->ValidateUser("new", "plain"));
  EXPECT_FALSE(again->ValidateUser("new", "pw"));
  EXPECT_NE(ReadFile().find("\r\nPasswordHash=\r\n"), std::string::npos);
  again->HashNewPasswords = true;
  EXPECT_FALSE(again->SetPassword(again->ItemByKey("new"), std::string("a\0b", 3)));
  EXPECT_NE(again->LastError().find("cannot be hashed"), std::string::npos);
  EXPECT_TRUE(again->ValidateUser("new", "plain")) << "a refused password changes nothing";
}

// The key is written only for an account that has it, or to turn it off
// where the file holds it: other accounts' sections stay as they were.
TEST_F(FTPUsersTest, RequireTlsIsReadWrittenAndAbsentMeansOff) {
  const std::string old = "[User1]\r\nDefaultDirectory=/\r\nUserID=old\r\n";
  WriteFile(old);
  {
    auto users = Open();
    EXPECT_FALSE(users->ItemByKey("old").RequireTLS);
    Add(*users, "secure");
    users->ItemByKey("secure").RequireTLS = true;
    ASSERT_TRUE(users->pUpdateUsers());
  }
  std::string file = ReadFile();
  EXPECT_EQ(file.find("RequireTLS"), file.rfind("RequireTLS")) << file;
  EXPECT_NE(file.find("[User2]\r\nRequireTLS=True\r\nUseVirtualPaths="), std::string::npos) << file;
  EXPECT_EQ(file.substr(0, file.find("[User2]")).find("RequireTLS"), std::string::npos) << file;
  auto users = Open();
  EXPECT_TRUE(users->ItemByKey("secure").RequireTLS);
  EXPECT_FALSE(users->ItemByKey("old").RequireTLS);
  users->ItemByKey("secure").RequireTLS = false;
  ASSERT_TRUE(users->pUpdateUsers());
  EXPECT_NE(ReadFile().find("\r\nRequireTLS=False\r\n"), std::string::npos);
  EXPECT_FALSE(Open()->ItemByKey("secure").RequireTLS);
}

TEST_F(FTPUsersTest, ValuesTheFileCannotHoldAreRefused) {
  auto users = Open();
  Add(*users, "Bob");
  EXPECT_FALSE(users->pAddUser("bob", "x", "/", false, true, true, true, false, true));
  EXPECT_FALSE(users->pAddUser("", "x", "/", false, true, true, true, false, true));
  EXPECT_FALSE(users->pAddUser("a\r\nb", "x", "/", false, true, true, true, false, true));
  EXPECT_FALSE(users->pAddUser("c]", "x", "/", false, true, true, true, false, true));
  EXPECT_FALSE(users->pAddUser("d", "x", "/srv/[x]", false, true, true, true, false, true));
  EXPECT_NE(users->LastError().find("DefaultDirectory"), std::string::npos);
  EXPECT_FALSE(users->pAddUser("e", "x", "/srv\r\nx", false, true, true, true, false, true));
  Add(*users, "f");
  // An update that would break the file writes nothing.
  users->ItemByKey("bob").DefaultDirectory = "/srv/x]";
  users->ItemByKey("f").Password = "new";
  EXPECT_FALSE(users->pUpdateUsers());
  EXPECT_EQ(users->Count(), 2);
  auto again = Open();
  ASSERT_EQ(again->Count(), 2);
  EXPECT_EQ(again->ItemByKey("BOB").DefaultDirectory, "/home/x");
  EXPECT_EQ(again->ItemByKey("f").Password, "pw");
}

// Tens of thousands of accounts load, save and renumber in well under the
// test's time limit (each step once took time growing with the square).
TEST_F(FTPUsersTest, LargeFilesLoadSaveAndRenumber) {
  constexpr int kAccounts = 40000;
  {
    auto users = Open();
    std::string text;
    for (int n = 1; n <= kAccounts; ++n) {
      text += "\r\n[User" + std::to_string(n) + "]\r\nDefaultDirectory=/d\r\nUserID=u" + std::to_string(n) + "\r\n";
    }
    WriteFile(text);
  }
  auto users = Open();
  ASSERT_EQ(users->Count(), kAccounts);
  users->ItemByKey("u7").Password = "seven";
  ASSERT_TRUE(users->pUpdateUsers());
  ASSERT_TRUE(users->pDeleteByKey("u1"));
  ASSERT_TRUE(users->pDeleteByKey("u2"));
  auto again = Open();
  ASSERT_EQ(again->Count(), kAccounts - 2);
  EXPECT_EQ(again->ItemByIndex(1).UserID, "u3");
  EXPECT_EQ(again->ItemByKey("U7").Password, "seven");
  EXPECT_EQ(again->ItemByIndex(kAccounts - 2).UserID, "u" + std::to_string(kAccounts));
}

TEST_F(FTPUsersTest, AddKeepsAccountsWhoseSectionNumberDiffersFromTheirPosition) {
  // bob is the second account but lives in section User3.
  WriteFile("[User1]\r\nUserID=alice\r\n[User2]\r\nUserID=ALICE\r\n[User3]\r\nUserID=bob\r\n");
  Add(*Open(), "carl");
  auto again = Open();
  EXPECT_EQ(again->Count(), 3);
  EXPECT_TRUE(again->pExists("bob") && again->pExists("carl"));

  // The same after a removal from memory only.
  again->pDeleteByIndex(1);
  Add(*again, "dora");
  auto third = Open();
  EXPECT_TRUE(third->pExists("carl") && third->pExists("dora"));
}

TEST_F(FTPUsersTest, DeleteByKeyRenumbersTheFile) {
  {
    auto users = Open();
    Add(*users, "a", "1");
    Add(*users, "b", "2");
    Add(*users, "c", "3");
    EXPECT_TRUE(users->pDeleteByKey("B"));
    EXPECT_EQ(users->Count(), 2);
    EXPECT_FALSE(users->pExists("b"));
  }
  const std::string text = ReadFile();
  EXPECT_NE(text.find("[User1]"), std::string::npos);
  EXPECT_NE(text.find("[User2]"), std::string::npos);
  EXPECT_EQ(text.find("[User3]"), std::string::npos);
  EXPECT_EQ(text.find("UserID=b\r\n"), std::string::npos);
  auto again = Open();
  ASSERT_EQ(again->Count(), 2);
  EXPECT_EQ(again->ItemByIndex(1).UserID, "a");
  EXPECT_EQ(again->ItemByIndex(2).UserID, "c");
  EXPECT_EQ(again->ItemByIndex(2).Password, "3");
}

TEST_F(FTPUsersTest, DeleteRefusedForAnotherAccountChangesNothing) {
  auto users = Open();
  Add(*users, "a");
  Add(*users, "b");
  users->ItemByKey("b").DefaultDirectory = "/srv/x]";
  EXPECT_FALSE(users->pDeleteByKey("a"));
  EXPECT_TRUE(users->pExists("a"));
  // The next save must not write sections the refused delete had emptied.
  users->ItemByKey("b").DefaultDirectory = "/srv/x";
  Add(*users, "c");
  EXPECT_EQ(Open()->Count(), 3);
}

TEST_F(FTPUsersTest, DeleteOfUnknownKeyChangesNothing) {
  auto users = Open();
  Add(*users, "a");
  Add(*users, "b");
  const std::string before = ReadFile();
  EXPECT_FALSE(users->pDeleteByKey("zz"));
  EXPECT_EQ(users->Count(), 2);
  EXPECT_EQ(ReadFile(), before);
}

TEST_F(FTPUsersTest, DeleteByIndexTouchesMemoryOnly) {
  auto users = Open();
  Add(*users, "a");
  Add(*users, "b");
  const std::string before = ReadFile();
  users->pDeleteByIndex(1);
  EXPECT_EQ(users->Count(), 1);
  EXPECT_EQ(users->ItemByIndex(1).UserID, "b");
  EXPECT_EQ(ReadFile(), before);
  EXPECT_THROW(users->pDeleteByIndex(2), UnknownUserError);
}

TEST_F(FTPUsersTest, UpdateSavesInPlaceEditsAndPumpsBetweenAccounts) {
  int pumps = 0;
  {
    auto users = Open([&] { ++pumps; });
    Add(*users, "a");
    Add(*users, "b");
    Add(*users, "c");
    EXPECT_EQ(pumps, 0);
    CFTPUser& b = users->ItemByKey("b");
    b.Password = "changed";
    b.ReadAccess = false;
    EXPECT_TRUE(users->pUpdateUsers());
    EXPECT_EQ(pumps, 2);
  }
  auto again = Open();
  EXPECT_EQ(again->ItemByKey("b").Password, "changed");
  EXPECT_FALSE(again->ItemByKey("b").ReadAccess);
  EXPECT_TRUE(again->ItemByKey("a").ReadAccess);
}

TEST_F(FTPUsersTest, PumpThatRemovesAnAccountDoesNotBreakTheSave) {
  CFTPUsers* self = nullptr;
  auto users = Open([&] {
    if (self != nullptr && self->Count() == 3) self->pDeleteByIndex(3);
  });
  Add(*users, "a");
  Add(*users, "b");
  Add(*users, "c");
  self = users.get();
  EXPECT_TRUE(users->pUpdateUsers());
  EXPECT_EQ(users->Count(), 2);
}

TEST_F(FTPUsersTest, LoadingAddsToAccountsInMemory) {
  WriteFile("[User1]\r\nUserID=fromfile\r\n[User2]\r\nUserID=Mem\r\n");
  CFTPUsers users;
  users.SetDataFile((dir_ / "other.usr").string());
  Add(users, "mem");
  users.SetDataFile(file_);
  ASSERT_EQ(users.Count(), 2);
  EXPECT_EQ(users.ItemByIndex(1).UserID, "mem");
  EXPECT_EQ(users.ItemByIndex(2).UserID, "fromfile");
}

// Another program changed the file: the accounts become what it holds, and a
// session's reference to an account that is still there stays good.
TEST_F(FTPUsersTest, ReloadMakesTheAccountsWhatTheFileHolds) {
  auto server = Open();
  Add(*server, "kept", "old");
  Add(*server, "dropped");
  const CFTPUser* kept = &server->ItemByKey("kept");
  {
    auto tool = Open();
    ASSERT_TRUE(tool->pDeleteByKey("dropped"));
    Add(*tool, "new");
    tool->ItemByKey("kept").Password = "changed";
    ASSERT_TRUE(tool->pUpdateUsers());
  }
  server->Reload();
  ASSERT_EQ(server->Count(), 2);
  EXPECT_EQ(&server->ItemByKey("KEPT"), kept);
  EXPECT_EQ(kept->Password, "changed");
  EXPECT_FALSE(server->pExists("dropped"));
  EXPECT_EQ(server->ItemByIndex(2).UserID, "new");
  EXPECT_TRUE(server->ValidateStored("new", "pw"));
}

TEST_F(FTPUsersTest, UnsavableFileIsReported) {
  CFTPUsers users;
  users.SetDataFile((dir_ / "no-such-folder" / "Velto.usr").string());
  EXPECT_TRUE(users.pAddUser("a", "b", "/", false, true, true, true, false, true));
  EXPECT_FALSE(users.LastSaveSucceeded());
  EXPECT_FALSE(users.pUpdateUsers());
}

TEST_F(FTPUsersTest, MissingAccountsAreErrorsTheCallerSees) {
  auto users = Open();
  Add(*users, "a");
  EXPECT_THROW(users->ItemByKey("b"), UnknownUserError);
  EXPECT_THROW(users->ItemByIndex(0), std::out_of_range);
  EXPECT_THROW(users->ItemByIndex(2), std::out_of_range);
}

class ValidateUserTest : public FTPUsersTest {
 protected:
  void SetUp() override {
    FTPUsersTest::SetUp();
    users_ = Open();
    users_->SetAnonymousSwitch([this] { return anonymous_; });
    users_->SetSystemLogonCheck([this](const std::string& user, const std::string& password) {
      ++systemChecks_;
      return user == "sysuser" && password == "syspass";
    });
    Add(*users_, "Bob", "Secret");
  }

  std::unique_ptr<CFTPUsers> users_;
  bool anonymous_ = false;
  int systemChecks_ = 0;
};

TEST_F(ValidateUserTest, PasswordIsCaseSensitiveIdIsNot) {
  EXPECT_TRUE(users_->ValidateUser("Bob", "Secret"));
  EXPECT_TRUE(users_->ValidateUser("bOB", "Secret"));
  EXPECT_FALSE(users_->ValidateUser("Bob", "secret"));
  EXPECT_FALSE(users_->ValidateUser("Bob", ""));
  EXPECT_FALSE(users_->ValidateUser("nobody", "Secret"));
  EXPECT_FALSE(users_->ValidateUser("", ""));
}

TEST_F(ValidateUserTest, AnonymousNeedsSwitchAccountAndSomePassword) {
  Add(*users_, "anonymous", "real");
  anonymous_ = true;
  EXPECT_FALSE(users_->ValidateUser("anonymous", ""));
  EXPECT_TRUE(users_->ValidateUser("ANONYMOUS", "guest@example"));
  anonymous_ = false;
  EXPECT_FALSE(users_->ValidateUser("anonymous", "guest@example"));
  EXPECT_TRUE(users_->ValidateUser("anonymous", "real"));
}

TEST_F(ValidateUserTest, AnonymousWithoutAccountUsesTheNormalCheck) {
  anonymous_ = true;
  EXPECT_FALSE(users_->ValidateUser("anonymous", "guest@example"));
}

TEST_F(ValidateUserTest, SystemCheckOnlyAsAServiceWithTheSwitch) {
  EXPECT_FALSE(users_->ValidateUser("sysuser", "syspass", true));
  EXPECT_TRUE(users_->ValidateUser("Bob", "Secret", true)) << "as an application the file decides";
  EXPECT_EQ(systemChecks_, 0);

  users_->IsRunningAsService = true;
  EXPECT_TRUE(users_->ValidateUser("sysuser", "syspass", true));
  EXPECT_FALSE(users_->ValidateUser("Bob", "Secret", true)) << "the file is not consulted";
  EXPECT_EQ(systemChecks_, 2);
  EXPECT_TRUE(users_->ValidateUser("Bob", "Secret", false));

  users_->WinVersion = 1;
  EXPECT_TRUE(users_->ValidateUser("Bob", "Secret", true));
  EXPECT_EQ(systemChecks_, 2);
}

TEST_F(ValidateUserTest, NoSystemCheckInstalledRefuses) {
  users_->SetSystemLogonCheck({});
  users_->IsRunningAsService = true;
  EXPECT_FALSE(users_->ValidateUser("sysuser", "syspass", true));
}

}  // namespace
}  // namespace velto
