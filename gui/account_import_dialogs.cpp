#include "gui/account_import_dialogs.h"

#include "gui/app_resources.h"
#include "gui/dialog_support.h"
#include "gui/text.h"
#include "server/server_facade.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace velto {

FDomainUsers::FDomainUsers(AccountSource source, QWidget* parent)
    : QDialog(parent), picker_(std::move(source)) {
  setWindowTitle(tr("Domain Users"));
  setWindowIcon(AppIcon());

  // There are no domains or servers to choose from here: the accounts
  // offered are this computer's.
  auto* caption = new QLabel(tr("Accounts of this computer:"), this);
  users_ = new QListWidget(this);
  users_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  users_->setToolTip(tr("Highlight user(s) you wish to add"));
  overwrite_ = new QCheckBox(tr("Overwrite Existing Profiles"), this);
  overwrite_->setToolTip(tr("Overwrite existing profiles with the same user name (duplicates can not be created)"));
  ok_ = new QPushButton(tr("OK"), this);
  ok_->setDefault(true);
  cancel_ = new QPushButton(tr("&Cancel"), this);
  connect(ok_, &QPushButton::clicked, this, &FDomainUsers::OkClicked);
  connect(cancel_, &QPushButton::clicked, this, [this] {
    picker_.Cancel();
    reject();
  });

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(caption);
  layout->addWidget(users_, 1);
  layout->addWidget(overwrite_);
  layout->addLayout(buttons);

  picker_.Load();
  for (const std::string& account : picker_.Accounts()) users_->addItem(ToQt(account));
}

FDomainUsers::~FDomainUsers() = default;

void FDomainUsers::OkClicked() {
  std::vector<int> selected;
  for (int i = 0; i < users_->count(); ++i) {
    if (users_->item(i)->isSelected()) selected.push_back(i);
  }
  picker_.Accept(selected, overwrite_->isChecked());
  accept();
}

std::vector<std::string> FDomainUsers::GetAccountListToAdd(bool& overwrite) {
  picker_.Cancel();
  exec();
  if (!picker_.Chosen().empty()) overwrite = picker_.Overwrite();
  return picker_.Chosen();
}

FProgress::FProgress(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint) {
  setWindowTitle(tr("Velto"));
  setWindowIcon(AppIcon());
  setWindowModality(Qt::ApplicationModal);
  status_ = new QLabel(this);
  status_->setMinimumWidth(320);
  bar_ = new QProgressBar(this);
  bar_->setTextVisible(false);
  cancel_ = new QPushButton(tr("&Cancel"), this);
  cancel_->setToolTip(tr("Cancel current operation"));
  connect(cancel_, &QPushButton::clicked, this, &FProgress::RequestCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(status_);
  layout->addWidget(bar_);
  layout->addWidget(cancel_, 0, Qt::AlignRight);
  Reset();
}

FProgress::~FProgress() = default;

void FProgress::RequestCancel() {
  cancelRequested_ = true;
  emit cancelProcess();
}

void FProgress::reject() { RequestCancel(); }

void FProgress::SetTotal(int items) {
  bar_->setRange(0, items > 0 ? items : 1);
  bar_->setValue(0);
}

void FProgress::Status(const std::string& text) {
  status_->setText(ToQt(text));
  status_->repaint();
}

void FProgress::Increase(int amount) { bar_->setValue(std::min(bar_->value() + amount, bar_->maximum())); }

void FProgress::Reset() {
  bar_->setRange(0, 1);
  bar_->setValue(0);
}

QString FProgress::StatusText() const { return status_->text(); }

namespace {

AccountImport ImportFor(CServerFacade& server, HomeLookup homes = {}) {
  return AccountImport(server.Users(), server, std::move(homes), [] { QCoreApplication::processEvents(); });
}

}  // namespace

AccountImport::Result ImportAccountList(CServerFacade& server, const std::vector<std::string>& names,
                                        bool overwrite, FProgress& progress, HomeLookup homes) {
  AccountImport import = ImportFor(server, std::move(homes));
  progress.show();
  const AccountImport::Result result = import.Run(names, overwrite, progress);
  progress.Done();
  return result;
}

void RunAccountImport(CServerFacade& server, QWidget* parent, AccountSource source, HomeLookup homes) {
  bool overwrite = false;
  std::vector<std::string> names;
  {
    FDomainUsers picker(std::move(source), parent);
    names = picker.GetAccountListToAdd(overwrite);
  }
  if (!names.empty()) {
    FProgress progress(parent);
    const AccountImport::Result result = ImportAccountList(server, names, overwrite, progress, std::move(homes));
    ShowDialogMessage(parent, DialogMessage{AccountImport::Summary(result), {}, true});
  }
  ImportFor(server).Finish();
}

}  // namespace velto
