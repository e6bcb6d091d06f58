#include "gui/account_import_dialogs.h"

#include "gui/app_resources.h"
#include "gui/text.h"
#include "server/server_facade.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace velto {

FDomainUsers::FDomainUsers(AccountSource source, QWidget* parent)
    : QDialog(parent), mPicker(std::move(source)) {
  setWindowTitle(tr("Domain Users"));
  setWindowIcon(AppIcon());

  // There are no domains or servers to choose from here: the accounts
  // offered are this computer's.
  auto* caption = new QLabel(tr("Accounts of this computer:"), this);
  mUsers = new QListWidget(this);
  mUsers->setSelectionMode(QAbstractItemView::ExtendedSelection);
  mUsers->setToolTip(tr("Highlight user(s) you wish to add"));
  mOverwrite = new QCheckBox(tr("Overwrite Existing Profiles"), this);
  mOverwrite->setToolTip(tr("Overwrite existing profiles with the same user name (duplicates can not be created)"));
  mOk = new QPushButton(tr("OK"), this);
  mOk->setDefault(true);
  mCancel = new QPushButton(tr("&Cancel"), this);
  connect(mOk, &QPushButton::clicked, this, &FDomainUsers::OkClicked);
  connect(mCancel, &QPushButton::clicked, this, [this] {
    mPicker.Cancel();
    reject();
  });

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(mOk);
  buttons->addWidget(mCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(caption);
  layout->addWidget(mUsers, 1);
  layout->addWidget(mOverwrite);
  layout->addLayout(buttons);

  mPicker.Load();
  for (const std::string& account : mPicker.Accounts()) mUsers->addItem(ToQt(account));
}

FDomainUsers::~FDomainUsers() = default;

void FDomainUsers::OkClicked() {
  std::vector<int> selected;
  for (int i = 0; i < mUsers->count(); ++i) {
    if (mUsers->item(i)->isSelected()) selected.push_back(i);
  }
  mPicker.Accept(selected, mOverwrite->isChecked());
  accept();
}

std::vector<std::string> FDomainUsers::GetAccountListToAdd(bool& overwrite) {
  mPicker.Cancel();
  exec();
  if (!mPicker.Chosen().empty()) overwrite = mPicker.Overwrite();
  return mPicker.Chosen();
}

FProgress::FProgress(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint) {
  setWindowTitle(tr("Velto"));
  setWindowIcon(AppIcon());
  setWindowModality(Qt::ApplicationModal);
  mStatus = new QLabel(this);
  mStatus->setMinimumWidth(320);
  mBar = new QProgressBar(this);
  mBar->setTextVisible(false);
  mCancel = new QPushButton(tr("&Cancel"), this);
  mCancel->setToolTip(tr("Cancel current operation"));
  connect(mCancel, &QPushButton::clicked, this, &FProgress::RequestCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(mStatus);
  layout->addWidget(mBar);
  layout->addWidget(mCancel, 0, Qt::AlignRight);
  Reset();
}

FProgress::~FProgress() = default;

void FProgress::RequestCancel() {
  mCancelRequested = true;
  emit cancelProcess();
}

void FProgress::reject() { RequestCancel(); }

void FProgress::SetTotal(int items) {
  mBar->setRange(0, items > 0 ? items : 1);
  mBar->setValue(0);
}

void FProgress::Status(const std::string& text) {
  mStatus->setText(ToQt(text));
  mStatus->repaint();
}

void FProgress::Increase(int amount) { mBar->setValue(std::min(mBar->value() + amount, mBar->maximum())); }

void FProgress::Reset() {
  mBar->setRange(0, 1);
  mBar->setValue(0);
}

QString FProgress::StatusText() const { return mStatus->text(); }

namespace {

AccountImport ImportFor(CServerFacade& server) {
  return AccountImport(server.Users(), server, server.AppPath(), [] { QCoreApplication::processEvents(); });
}

}  // namespace

AccountImport::Result ImportAccountList(CServerFacade& server, const std::vector<std::string>& names,
                                        bool overwrite, FProgress& progress) {
  AccountImport import = ImportFor(server);
  progress.show();
  const AccountImport::Result result = import.Run(names, overwrite, progress);
  progress.Done();
  return result;
}

void RunAccountImport(CServerFacade& server, QWidget* parent, AccountSource source) {
  bool overwrite = false;
  std::vector<std::string> names;
  {
    FDomainUsers picker(std::move(source), parent);
    names = picker.GetAccountListToAdd(overwrite);
  }
  if (!names.empty()) {
    FProgress progress(parent);
    ImportAccountList(server, names, overwrite, progress);
  }
  ImportFor(server).Finish();
}

void ShowImportUsers(CServerFacade& server, QWidget* parent) {
  const auto answer = QMessageBox::question(
      parent, QObject::tr("Import Users"),
      QObject::tr("Would you like choose users to add from an existing NT Domain, Server, or workstation (it may "
                  "take a few seconds)?"),
      QMessageBox::Yes | QMessageBox::No);
  if (answer == QMessageBox::Yes) RunAccountImport(server, parent);
}

}  // namespace velto
