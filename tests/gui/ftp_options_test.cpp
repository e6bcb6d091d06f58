#include "gui/ftp_options_dialog.h"
#include "users/ftp_users.h"

#include "gui_test_support.h"
#include "server_core.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace velto {
namespace {

using test::MessageRecorder;
using test::ProgramFolder;
using test::ServerCore;

// The dialog over a core of its own, shown so the list takes clicks.
struct OptionsDialog {
  explicit OptionsDialog(const std::string& ini = {}, const std::vector<std::string>& users = {})
      : folder(ini), core(folder) {
    for (const std::string& id : users) EXPECT_TRUE(core.AddUser(id, id + "-pw"));
    dialog = std::make_unique<FFTPOptions>(core.facade);
    dialog->show();
  }

  void Click(int row, Qt::KeyboardModifiers modifiers = {}) {
    QListWidget* list = dialog->UserList();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers, list->visualItemRect(list->item(row)).center());
  }
  void Type(QLineEdit* box, const QString& text) {
    box->clear();
    QTest::keyClicks(box, text);
  }
  CFTPUser& User(const std::string& id) { return core.facade.Users().ItemByKey(id); }
  std::string Live(Setting setting) { return core.facade.SettingText(setting); }

  ProgramFolder folder;
  ServerCore core;
  std::unique_ptr<FFTPOptions> dialog;
  MessageRecorder messages;
};

TEST(FTPOptions, UpdateWantsAPasswordExceptForAnonymousAndRefusesATakenIdWithoutSelection) {
  OptionsDialog o;
  FFTPOptions& d = *o.dialog;
  d.AddButton()->click();
  o.Type(d.UserIdBox(), "bob");
  o.Type(d.DefaultDirBox(), QString::fromStdString(o.folder.Path()));
  d.UpdateButton()->click();
  EXPECT_EQ(o.messages.Texts(), std::vector<QString>{"Please enter a User ID and Password."});
  EXPECT_FALSE(o.core.facade.Users().pExists("bob"));

  o.Type(d.UserIdBox(), "AnonYmous");
  d.UpdateButton()->click();
  ASSERT_TRUE(o.core.facade.Users().pExists("anonymous"));
  EXPECT_EQ(o.User("anonymous").Password, "");
  ASSERT_EQ(d.UserList()->count(), 1);
  EXPECT_TRUE(d.UserList()->item(0)->isSelected()) << "the new account is selected and shown";
  EXPECT_FALSE(d.PasswordBox()->isEnabled()) << "the anonymous account has no password to type";

  o.messages.Clear();
  d.AddButton()->click();
  o.Type(d.UserIdBox(), "ANONYMOUS");
  o.Type(d.DefaultDirBox(), "/");
  d.UpdateButton()->click();
  EXPECT_EQ(o.messages.Texts(),
            std::vector<QString>{"Please enter a UserID that does not already exist, or select the existing ID to "
                                 "make changes to it."});
  EXPECT_EQ(o.User("anonymous").DefaultDirectory, o.folder.Path()) << "nothing changed";
}

TEST(FTPOptions, OneSelectedAccountIsRewrittenAndAnUntypedPasswordKept) {
  OptionsDialog o({}, {"alice", "bob"});
  FFTPOptions& d = *o.dialog;
  o.Click(0);
  EXPECT_EQ(d.UserIdBox()->text(), "alice");
  EXPECT_EQ(d.PasswordBox()->echoMode(), QLineEdit::Password);
  EXPECT_TRUE(d.PasswordBox()->text().isEmpty()) << "the stored password is never put on screen";

  o.Type(d.UserIdBox(), "bob");
  d.RightBox(FFTPOptions::kWriteAccess)->setChecked(false);
  d.UpdateButton()->click();
  EXPECT_TRUE(o.messages.Texts().empty());
  EXPECT_FALSE(o.User("alice").WriteAccess) << "the selected account changes, not the typed one";
  EXPECT_EQ(o.User("alice").Password, "alice-pw");
  EXPECT_TRUE(o.User("bob").WriteAccess);

  o.Type(d.PasswordBox(), "n3w");
  d.UpdateButton()->click();
  EXPECT_EQ(o.User("alice").Password, "n3w");
  EXPECT_EQ(o.User("bob").Password, "bob-pw");
}

// The accounts tool removed the selected account and the server reloaded
// its file while the window was open.
TEST(FTPOptions, AnAccountGoneInAReloadIsNotWrittenBack) {
  OptionsDialog o({}, {"alice", "bob"});
  FFTPOptions& d = *o.dialog;
  o.Click(0);
  o.Click(1, Qt::ControlModifier);
  d.RightBox(FFTPOptions::kLogAccess)->setChecked(true);
  {
    CFTPUsers tool;
    tool.SetDataFile(o.core.facade.Users().DataFile());
    ASSERT_TRUE(tool.pDeleteByKey("alice"));
  }
  o.core.facade.Users().Reload();
  d.UpdateButton()->click();
  EXPECT_EQ(o.messages.Texts(), std::vector<QString>{"The account \"alice\" is no longer in the user file."});
  EXPECT_FALSE(o.core.facade.Users().pExists("alice"));
  EXPECT_FALSE(o.User("bob").LogAccess) << "nothing was written";
}

TEST(FTPOptions, SeveralSelectedAccountsGetFolderAndRightsButKeepTheirPasswords) {
  OptionsDialog o({}, {"ann", "ben", "cat", "dan"});
  FFTPOptions& d = *o.dialog;
  o.Click(0);
  o.Click(2, Qt::ControlModifier);
  o.Click(3, Qt::ControlModifier);
  EXPECT_TRUE(d.UserIdBox()->isReadOnly());
  EXPECT_TRUE(d.PasswordBox()->isReadOnly());
  EXPECT_FALSE(d.AddButton()->isEnabled());

  const std::string other = o.folder.Path() + "pub";
  std::filesystem::create_directory(other);
  o.Type(d.DefaultDirBox(), QString::fromStdString(other));
  d.RightBox(FFTPOptions::kLogAccess)->setChecked(true);
  d.UpdateButton()->click();
  EXPECT_TRUE(o.messages.Texts().empty());
  for (const char* id : {"ann", "cat", "dan"}) {
    EXPECT_EQ(o.User(id).DefaultDirectory, other) << id;
    EXPECT_TRUE(o.User(id).LogAccess) << id;
    EXPECT_EQ(o.User(id).Password, std::string(id) + "-pw") << id;
  }
  EXPECT_FALSE(o.User("ben").LogAccess);
}

TEST(FTPOptions, RemoveAsksNothingAndAnEmptyListOpensTheEditorAgain) {
  OptionsDialog o({}, {"ann", "ben"});
  FFTPOptions& d = *o.dialog;
  o.Click(0);
  o.Click(1, Qt::ShiftModifier);
  ASSERT_FALSE(d.AddButton()->isEnabled());
  d.RemoveButton()->click();
  EXPECT_TRUE(o.messages.Texts().empty());
  EXPECT_EQ(o.core.facade.Users().Count(), 0);
  EXPECT_EQ(d.UserList()->count(), 0);
  EXPECT_TRUE(d.AddButton()->isEnabled());
  EXPECT_FALSE(d.UserIdBox()->isReadOnly());
  EXPECT_FALSE(d.PasswordBox()->isReadOnly());
}

TEST(FTPOptions, CancellingTheFolderBrowserEmptiesTheFolderBox) {
  OptionsDialog o;
  FFTPOptions& d = *o.dialog;
  d.DefaultDirBox()->setText("/srv/ftp");
  test::ModalDriver<QFileDialog> cancel([](QFileDialog* browser) { browser->reject(); });
  d.ChooseDirButton()->click();
  EXPECT_EQ(d.DefaultDirBox()->text(), "");
}

TEST(FTPOptions, RefusesValuesTheFilesCannotHoldAndPortsOrFoldersThatCannotServe) {
  OptionsDialog o;
  FFTPOptions& d = *o.dialog;
  d.AddButton()->click();
  o.Type(d.UserIdBox(), "eve]");
  o.Type(d.PasswordBox(), "pw");
  o.Type(d.DefaultDirBox(), QString::fromStdString(o.folder.Path()));
  d.UpdateButton()->click();
  o.Type(d.UserIdBox(), "eve");
  o.Type(d.DefaultDirBox(), QString::fromStdString(o.folder.Path() + "missing"));
  d.UpdateButton()->click();
  EXPECT_EQ(o.core.facade.Users().Count(), 0);

  d.OptionBox(Setting::BannerWelcome)->setText("Hello\nworld");
  d.OkButton()->click();
  d.OptionBox(Setting::BannerWelcome)->setText("Hello");
  d.OptionBox(Setting::FTPPort)->setText("70000");
  d.OkButton()->click();
  EXPECT_EQ(o.Live(Setting::BannerWelcome), "") << "nothing is applied while a value is refused";
  EXPECT_EQ(o.Live(Setting::FTPPort), "21");
  EXPECT_TRUE(d.isVisible());

  const std::vector<QString> texts = o.messages.Texts();
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_TRUE(texts[0].contains("User ID")) << texts[0].toStdString();
  EXPECT_TRUE(texts[1].contains("does not exist")) << texts[1].toStdString();
  EXPECT_TRUE(texts[2].contains("Welcome Banner")) << texts[2].toStdString();
  EXPECT_TRUE(texts[3].contains("65535")) << texts[3].toStdString();
}

TEST(FTPOptions, OkAppliesTheOptionsAndABadNumberLeavesOnlyItsOwnSetting) {
  OptionsDialog o("FTPPort=2121\r\n");
  const int addresses = static_cast<int>(o.core.facade.LocalAddresses().size());
  o.core.facade.SetSetting(Setting::FTPBindToIP, std::to_string(addresses - 1));
  EXPECT_EQ(FFTPOptions(o.core.facade).BindBox()->currentIndex(), addresses) << "the last address";
  o.core.facade.SetSetting(Setting::FTPBindToIP, std::to_string(addresses));  // an address that is gone
  o.dialog = std::make_unique<FFTPOptions>(o.core.facade);
  FFTPOptions& d = *o.dialog;
  EXPECT_EQ(d.BindBox()->currentText().toStdString(), "Address #" + std::to_string(addresses) + " (not present)")
      << "a missing address is not shown as all of them";
  EXPECT_TRUE(d.NTAuthenticationBox()->isEnabled()) << "PAM is there to use";

  d.OptionBox(Setting::FTPPort)->setText("21x");
  d.OptionBox(Setting::MaxUsers)->setText("7");
  d.OptionBox(Setting::BannerWelcome)->setText(" Welcome aboard ");
  d.OptionBox(Setting::Timeout)->setText("5000");
  d.OptionBox(Setting::BanFailedLogons)->setText("4");
  d.AllowAnonymousBox()->setChecked(true);
  d.OptionBox(Setting::TLSCertificateFile)->setText("/etc/velto/cert.pem");
  d.TlsForLogonBox()->setChecked(true);
  d.OkButton()->click();
  EXPECT_TRUE(o.messages.Texts().empty());
  EXPECT_EQ(d.result(), QDialog::Accepted);
  EXPECT_EQ(o.Live(Setting::FTPPort), "2121");
  EXPECT_EQ(o.Live(Setting::MaxUsers), "7");
  EXPECT_EQ(o.Live(Setting::BannerWelcome), " Welcome aboard ") << "banners are kept as typed";
  EXPECT_EQ(o.Live(Setting::Timeout), "5000");
  EXPECT_EQ(o.Live(Setting::AllowAnonymousLogons), "True");
  EXPECT_EQ(o.Live(Setting::FTPBindToIP), std::to_string(addresses)) << "kept while not changed";
  EXPECT_NE(o.folder.Read("Velto.ini").find("BanFailedLogons=4\r\n"), std::string::npos)
      << "a limit is written at once";
  const std::string ini = o.folder.Read("Velto.ini");
  EXPECT_NE(ini.find("TLSCertificateFile=/etc/velto/cert.pem\r\n"), std::string::npos) << "so are the TLS keys";
  EXPECT_NE(ini.find("TLSRequiredForLogon=True\r\n"), std::string::npos);
  EXPECT_EQ(ini.find("TLSSessionReuse"), std::string::npos) << "an untouched key is not written";

  // Cancel applies no option; an account stored meanwhile stays.
  FFTPOptions again(o.core.facade);
  again.show();
  again.AddButton()->click();
  again.UserIdBox()->setText("zoe");
  again.PasswordBox()->setText("pw");
  again.DefaultDirBox()->setText(QString::fromStdString(o.folder.Path()));
  again.UpdateButton()->click();
  again.OptionBox(Setting::MaxUsers)->setText("99");
  again.CancelButton()->click();
  EXPECT_EQ(o.Live(Setting::MaxUsers), "7");
  EXPECT_TRUE(o.core.facade.Users().pExists("zoe"));

  FFTPOptions all(o.core.facade);
  all.BindBox()->setCurrentIndex(0);
  all.OkButton()->click();
  EXPECT_EQ(o.Live(Setting::FTPBindToIP), "-1") << "the administrator's choice";
}

TEST(FTPOptions, StoresAbsoluteFoldersOnlyAndHashesPasswordsWhenTheSettingSaysSo) {
  OptionsDialog o("HashPasswords=True\r\n");
  FFTPOptions& d = *o.dialog;
  d.AddButton()->click();
  o.Type(d.UserIdBox(), "hal");
  o.Type(d.PasswordBox(), "pw");
  o.Type(d.DefaultDirBox(), "tmp");
  d.UpdateButton()->click();
  ASSERT_EQ(o.messages.Texts().size(), 1u);
  EXPECT_TRUE(o.messages.Texts()[0].contains("Default Directory \"tmp\" is a relative path"));
  EXPECT_FALSE(o.core.facade.Users().pExists("hal"));

  o.Type(d.DefaultDirBox(), QString::fromStdString(o.folder.Path()));
  d.RightBox(FFTPOptions::kRequireTLS)->setChecked(true);
  d.UpdateButton()->click();
  EXPECT_TRUE(o.User("hal").PasswordHash.starts_with("$y$"));
  EXPECT_TRUE(o.User("hal").RequireTLS) << "the TLS requirement is stored with the new account";
  EXPECT_TRUE(o.core.facade.Users().ValidateUser("hal", "pw"));
}

}  // namespace
}  // namespace velto
