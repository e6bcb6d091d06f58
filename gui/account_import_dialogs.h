// Importing this computer's accounts as FTP accounts: the picker, the
// progress window and the routine that joins them. The import runs on the
// one thread and lets Qt's loop (which drives the server's loop) run after
// every account, so its Cancel button and the clients stay served.
#pragma once

#include "admin/account_import.h"
#include "admin/local_accounts.h"

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace velto {

class CServerFacade;

// The picker: the accounts of this computer, the ones to import
// highlighted, and whether existing FTP accounts of the same name are
// replaced.
class FDomainUsers final : public QDialog {
  Q_OBJECT

 public:
  explicit FDomainUsers(AccountSource source, QWidget* parent = nullptr);
  ~FDomainUsers() override;

  // Shows the picker modally: the highlighted accounts in list order, or
  // none when it was cancelled (or nothing was highlighted). `overwrite`
  // gets the option's state with a non-empty answer.
  std::vector<std::string> GetAccountListToAdd(bool& overwrite);

  QListWidget* UserList() const { return users_; }
  QCheckBox* OverwriteBox() const { return overwrite_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }

 private:
  void OkClicked();

  AccountPicker picker_;
  QListWidget* users_ = nullptr;
  QCheckBox* overwrite_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

// A small window that stays on top, with a status line, a bar and Cancel.
// While shown it is modal to the application, so nothing else can start
// while the work it reports runs.
class FProgress final : public QDialog, public IImportProgress {
  Q_OBJECT

 public:
  explicit FProgress(QWidget* parent = nullptr);
  ~FProgress() override;

  void SetTotal(int items) override;
  void Status(const std::string& text) override;
  void Increase(int amount) override;
  bool CancelRequested() const override { return cancelRequested_; }
  // Empties the bar.
  void Reset();
  // The work is over: the window goes.
  void Done() { hide(); }
  // Escape and the close box ask the work to stop; its end closes the
  // window.
  void reject() override;

  QString StatusText() const;
  QProgressBar* Bar() const { return bar_; }
  QPushButton* CancelButton() const { return cancel_; }

 signals:
  void cancelProcess();

 private:
  void RequestCancel();

  QLabel* status_ = nullptr;
  QProgressBar* bar_ = nullptr;
  QPushButton* cancel_ = nullptr;
  bool cancelRequested_ = false;
};

// Imports `names` with `progress` shown; the loop runs after each account.
AccountImport::Result ImportAccountList(CServerFacade& server, const std::vector<std::string>& names,
                                        bool overwrite, FProgress& progress, HomeLookup homes = LocalHome);

// The whole import: the picker, then the accounts with the progress window,
// then a message with what was imported, what was skipped and how the
// accounts log on. Afterwards start-up no longer offers it.
void RunAccountImport(CServerFacade& server, QWidget* parent, AccountSource source = LocalAccounts,
                      HomeLookup homes = LocalHome);

}  // namespace velto
