// The "FTP Options" dialog: the server-wide options and the account
// editor, a thin view over FTPOptionsModel. Accounts are stored as they are
// added, changed or removed; the options reach the running server on OK.
#pragma once

#include "admin/ftp_options_model.h"

#include <QDialog>

#include <array>
#include <memory>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace velto {

class CServerFacade;

class FFTPOptions final : public QDialog {
  Q_OBJECT

 public:
  // The six rights of an account, in the order of the user file.
  enum Right { kConcurrentLogons, kLimitToDefaultDirectory, kReadAccess, kWriteAccess, kLogAccess, kVirtualPaths };

  explicit FFTPOptions(CServerFacade& server, QWidget* parent = nullptr);
  ~FFTPOptions() override;

  const FTPOptionsModel& Model() const { return *mModel; }

  QLineEdit* OptionBox(Setting setting) const;
  QCheckBox* AllowAnonymousBox() const { return mAllowAnonymous; }
  QCheckBox* NTAuthenticationBox() const { return mNTAuthentication; }
  QComboBox* BindBox() const { return mBindToIP; }
  QListWidget* UserList() const { return mUsers; }
  QLineEdit* UserIdBox() const { return mUserId; }
  QLineEdit* PasswordBox() const { return mPassword; }
  QLineEdit* DefaultDirBox() const { return mDefaultDir; }
  QCheckBox* RightBox(Right right) const { return mRights[right]; }
  QPushButton* AddButton() const { return mAdd; }
  QPushButton* UpdateButton() const { return mUpdate; }
  QPushButton* RemoveButton() const { return mRemove; }
  QPushButton* ChooseDirButton() const { return mChooseDir; }
  QPushButton* OkButton() const { return mOk; }
  QPushButton* CancelButton() const { return mCancel; }

 private:
  QWidget* BuildGlobalOptions();
  QWidget* BuildUsers();
  void ReadForm();
  void ShowList();
  void ShowForm();
  void SelectionChanged();
  void AddClicked();
  void UpdateClicked();
  void RemoveClicked();
  void ChooseDirClicked();
  void OkClicked();

  std::unique_ptr<FTPOptionsModel> mModel;
  std::array<QLineEdit*, kSettingCount> mOptionBoxes{};
  QCheckBox* mAllowAnonymous = nullptr;
  QCheckBox* mNTAuthentication = nullptr;
  QComboBox* mBindToIP = nullptr;
  QListWidget* mUsers = nullptr;
  QLineEdit* mUserId = nullptr;
  QLineEdit* mPassword = nullptr;
  QLineEdit* mDefaultDir = nullptr;
  std::array<QCheckBox*, 6> mRights{};
  QPushButton* mChooseDir = nullptr;
  QPushButton* mAdd = nullptr;
  QPushButton* mUpdate = nullptr;
  QPushButton* mRemove = nullptr;
  QPushButton* mOk = nullptr;
  QPushButton* mCancel = nullptr;
};

// Shows the dialog modally over `parent`; QDialog::Accepted after OK.
int ShowFTPOptions(CServerFacade& server, QWidget* parent);

}  // namespace velto
