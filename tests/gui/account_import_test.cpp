#include "gui/account_import_dialogs.h"
#include "users/ftp_users.h"

#include "gui_test_support.h"
#include "server_core.h"

#include <QCheckBox>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include <filesystem>

namespace velto {
namespace {

using test::MessageRecorder;
using test::ModalDriver;
using test::ProgramFolder;
using test::ServerCore;

AccountSource Accounts(std::vector<std::string> names) {
  return [names = std::move(names)] { return names; };
}

// The password database of the tests: every account's home is `home`,
// except "dave", whose home folder is gone.
HomeLookup Homes(const std::string& home) {
  return [home](const std::string& name) -> std::optional<std::string> {
    return name == "dave" ? "/nonexistent/dave" : home;
  };
}

// Highlights the rows given in the picker and presses OK.
ModalDriver<FDomainUsers> Pick(std::vector<int> rows, bool overwrite) {
  return ModalDriver<FDomainUsers>([rows = std::move(rows), overwrite](FDomainUsers* picker) {
    for (int row : rows) picker->UserList()->item(row)->setSelected(true);
    picker->OverwriteBox()->setChecked(overwrite);
    picker->OkButton()->click();
  });
}

TEST(AccountImport, HighlightedAccountsGetTheirHomeAndAnUnknownPasswordAndExistingOnesAreReplacedOnlyWhenAsked) {
  ProgramFolder folder;
  ServerCore core(folder);
  MessageRecorder messages;
  core.facade.WriteSettingNow(Setting::ShowCreateNTUserList, "True");
  CFTPUsers& users = core.facade.Users();
  ASSERT_TRUE(users.pAddUser("carol", "secret", "/", true, false, true, false, true, false));
  const AccountSource source = Accounts({"alice", "bob", "carol", "dave"});
  const std::string home = folder.Path() + "home";
  std::filesystem::create_directory(home);

  {
    auto pick = Pick({0, 2, 3}, false);
    RunAccountImport(core.facade, nullptr, source, Homes(home));
  }
  ASSERT_TRUE(users.pExists("alice"));
  EXPECT_FALSE(users.pExists("bob"));
  EXPECT_FALSE(users.pExists("dave")) << "a missing home is never replaced by another folder";
  const CFTPUser& alice = users.ItemByKey("alice");
  EXPECT_EQ(alice.DefaultDirectory, home);
  EXPECT_EQ(alice.Password.size(), 24u);
  EXPECT_FALSE(users.ValidateUser("alice", "alice"));
  EXPECT_TRUE(alice.ReadAccess && alice.WriteAccess && alice.LimitToDefaultDirectory && alice.UseVirtualPaths);
  EXPECT_FALSE(alice.LogAccess || alice.AllowConcurrentLogons);
  EXPECT_EQ(users.ItemByKey("carol").Password, "secret") << "kept without the overwrite option";
  EXPECT_NE(folder.Read("Velto.ini").find("ShowCreateNTUserList=False\r\n"), std::string::npos);
  ASSERT_EQ(messages.Texts().size(), 1u);
  const QString summary = messages.Texts()[0];
  EXPECT_TRUE(summary.contains("1 account imported, 1 existing")) << summary.toStdString();
  EXPECT_TRUE(summary.contains("dave: its home folder /nonexistent/dave does not exist")) << summary.toStdString();
  EXPECT_TRUE(summary.contains("Use System Accounts (PAM)") && summary.contains("velto user passwd NAME"));

  core.facade.WriteSettingNow(Setting::HashPasswords, "True");
  {
    auto pick = Pick({2}, true);
    RunAccountImport(core.facade, nullptr, source, Homes(home));
  }
  EXPECT_TRUE(users.ItemByKey("carol").PasswordHash.starts_with("$y$"));
  EXPECT_FALSE(users.ValidateUser("carol", "secret"));
  EXPECT_TRUE(users.ItemByKey("carol").WriteAccess);

  {
    auto pick = Pick({}, true);  // OK with nothing highlighted is a Cancel
    RunAccountImport(core.facade, nullptr, source, Homes(home));
  }
  EXPECT_EQ(users.Count(), 2);
  EXPECT_EQ(messages.Texts().size(), 2u) << "no summary without an import";
}

TEST(AccountImport, CancelStopsAfterTheCurrentAccountAndTheNextImportIsWhole) {
  ProgramFolder folder;
  ServerCore core(folder);
  const std::vector<std::string> names = {"u1", "u2", "u3", "u4", "u5"};

  FProgress progress;
  // The click is queued: only the event loop, run between accounts, can
  // deliver it.
  QObject::connect(progress.Bar(), &QProgressBar::valueChanged, [&](int done) {
    if (done == 2) QMetaObject::invokeMethod(progress.CancelButton(), &QPushButton::click, Qt::QueuedConnection);
  });
  const AccountImport::Result cancelled = ImportAccountList(core.facade, names, false, progress, Homes(folder.Path()));
  EXPECT_TRUE(cancelled.cancelled);
  EXPECT_EQ(cancelled.added, 3);
  EXPECT_EQ(core.facade.Users().Count(), 3);
  EXPECT_EQ(progress.StatusText(), "Operation cancelled by user.");
  EXPECT_FALSE(progress.isVisible());

  FProgress again;
  const AccountImport::Result whole = ImportAccountList(core.facade, names, false, again, Homes(folder.Path()));
  EXPECT_FALSE(whole.cancelled);
  EXPECT_EQ(core.facade.Users().Count(), 5);
}

// Answers the first-start question Yes.
class AcceptingInterface final : public IUserInterface {
 public:
  std::vector<std::string> asked;
  int ShowAppMessage(const std::string& text, int, const std::string&) override {
    asked.push_back(text);
    return kIdYes;
  }
  bool StartTrayIcon() override { return false; }
  void StopTrayIcon() override {}
  void ShowMainWindow(bool) override {}
  void SetTitle(const std::string&) override {}
  void SplashStatus(const std::string&) override {}
};

TEST(AccountImport, AcceptedFirstStartOfferRunsTheImportOnce) {
  ProgramFolder folder("[Settings]\r\nShowCreateNTUserList=True\r\n");
  AcceptingInterface ui;
  MessageRecorder summary;
  auto pick = Pick({0}, false);
  {
    ServerCore core(folder, &ui, [&folder](CServerFacade& facade) {
      facade.SetAccountImport(
          [&facade, &folder] { RunAccountImport(facade, nullptr, Accounts({"first"}), Homes(folder.Path())); });
    });
    EXPECT_TRUE(core.facade.Users().pExists("first"));
    ASSERT_EQ(ui.asked.size(), 1u);
    EXPECT_TRUE(ui.asked[0].starts_with("Welcome to Velto!"));
  }
  ServerCore next(folder, &ui);
  EXPECT_EQ(ui.asked.size(), 1u) << "not offered again";
}

}  // namespace
}  // namespace velto
