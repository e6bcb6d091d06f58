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
  // The rights of an account, in the order of the user file.
  enum Right {
    kConcurrentLogons,
    kLimitToDefaultDirectory,
    kReadAccess,
    kWriteAccess,
    kLogAccess,
    kVirtualPaths,
    kRequireTLS
  };

  explicit FFTPOptions(CServerFacade& server, QWidget* parent = nullptr);
  ~FFTPOptions() override;

  const FTPOptionsModel& Model() const { return *model_; }

  QLineEdit* OptionBox(Setting setting) const;
  QCheckBox* AllowAnonymousBox() const { return allowAnonymous_; }
  QCheckBox* NTAuthenticationBox() const { return nTAuthentication_; }
  QComboBox* BindBox() const { return bindToIP_; }
  QCheckBox* TlsForLogonBox() const { return tlsForLogon_; }
  QCheckBox* TlsForDataBox() const { return tlsForData_; }
  QCheckBox* TlsReuseBox() const { return tlsReuse_; }
  QListWidget* UserList() const { return users_; }
  QLineEdit* UserIdBox() const { return userId_; }
  QLineEdit* PasswordBox() const { return password_; }
  QLineEdit* DefaultDirBox() const { return defaultDir_; }
  QCheckBox* RightBox(Right right) const { return rights_[right]; }
  QPushButton* AddButton() const { return add_; }
  QPushButton* UpdateButton() const { return update_; }
  QPushButton* RemoveButton() const { return remove_; }
  QPushButton* ChooseDirButton() const { return chooseDir_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }

 private:
  QWidget* BuildGlobalOptions();
  QWidget* BuildTls(QWidget* parent);
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

  std::unique_ptr<FTPOptionsModel> model_;
  std::array<QLineEdit*, kSettingCount> optionBoxes_{};
  QCheckBox* allowAnonymous_ = nullptr;
  QCheckBox* nTAuthentication_ = nullptr;
  QComboBox* bindToIP_ = nullptr;
  QCheckBox* tlsForLogon_ = nullptr;
  QCheckBox* tlsForData_ = nullptr;
  QCheckBox* tlsReuse_ = nullptr;
  QListWidget* users_ = nullptr;
  QLineEdit* userId_ = nullptr;
  QLineEdit* password_ = nullptr;
  QLineEdit* defaultDir_ = nullptr;
  std::array<QCheckBox*, 7> rights_{};
  QPushButton* chooseDir_ = nullptr;
  QPushButton* add_ = nullptr;
  QPushButton* update_ = nullptr;
  QPushButton* remove_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

// Shows the dialog modally over `parent`; QDialog::Accepted after OK.
int ShowFTPOptions(CServerFacade& server, QWidget* parent);

}  // namespace velto
