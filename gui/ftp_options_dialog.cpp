#include "gui/ftp_options_dialog.h"

#include "gui/app_resources.h"
#include "gui/dialog_support.h"
#include "gui/text.h"
#include "server/server_facade.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace velto {

namespace {

struct RightText {
  const char* caption;
  const char* tooltip;
};

constexpr std::array<RightText, 6> kRightTexts = {{
    {"Allow Concurrent Logons",
     "Allows this user to be logged on from more than one terminal at the same time"},
    {"Limit To Default Directory", "Restricts this users access to directories under the default directory"},
    {"Read Access", "Allows this user to read from the host"},
    {"Write Access", "Allows this user to write to the host"},
    {"Log Access", "Logs this users activity"},
    {"Use Virtual Paths",
     "Hides the true path of the default directory from the FTP client.  Note that some FTP clients will not work "
     "with true path names."},
}};

QLineEdit* OptionLine(const FTPOptionsModel::OptionField& field, QFormLayout* form, QWidget* parent) {
  auto* box = new QLineEdit(parent);
  box->setToolTip(ToQt(field.tooltip));
  form->addRow(ToQt(field.label) + ':', box);
  return box;
}

}  // namespace

FFTPOptions::FFTPOptions(CServerFacade& server, QWidget* parent) : QDialog(parent) {
  mModel = std::make_unique<FTPOptionsModel>(
      server, server.Users(), server.LocalAddresses(), server.PlatformId(),
      [this](const DialogMessage& message) { ShowDialogMessage(this, message); }, SetWaitCursor);
  setWindowTitle(tr("FTP Options"));
  setWindowIcon(AppIcon());

  mOk = new QPushButton(tr("OK"), this);
  mOk->setDefault(true);
  mCancel = new QPushButton(tr("&Cancel"), this);
  connect(mOk, &QPushButton::clicked, this, &FFTPOptions::OkClicked);
  connect(mCancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(mOk);
  buttons->addWidget(mCancel);

  auto* groups = new QHBoxLayout;
  groups->addWidget(BuildGlobalOptions());
  groups->addWidget(BuildUsers(), 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(groups);
  layout->addLayout(buttons);

  for (std::size_t i = 0; i < mOptionBoxes.size(); ++i) {
    if (mOptionBoxes[i] != nullptr) mOptionBoxes[i]->setText(ToQt(mModel->Text(static_cast<Setting>(i))));
  }
  mAllowAnonymous->setChecked(mModel->AllowAnonymousLogons);
  mNTAuthentication->setEnabled(mModel->NTAuthenticationAvailable());
  mNTAuthentication->setChecked(mModel->UseNTAuthentication);
  for (const std::string& address : mModel->BindList()) mBindToIP->addItem(ToQt(address));
  mBindToIP->setCurrentIndex(mModel->BindPosition);
  ShowList();
  ShowForm();
}

FFTPOptions::~FFTPOptions() = default;

QWidget* FFTPOptions::BuildGlobalOptions() {
  auto* column = new QWidget(this);
  auto* global = new QGroupBox(tr("Global Options"), column);
  auto* form = new QFormLayout(global);
  form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  for (const auto& field : FTPOptionsModel::GlobalFields()) {
    mOptionBoxes[static_cast<std::size_t>(field.setting)] = OptionLine(field, form, global);
  }
  mBindToIP = new QComboBox(global);
  mBindToIP->setToolTip(tr("IP to listen on"));
  form->addRow(tr("Bind To IP:"), mBindToIP);
  mAllowAnonymous = new QCheckBox(tr("Allow Anonymous Logons"), global);
  mAllowAnonymous->setToolTip(tr("Allows anonymous logons (the user name 'anonymous' with no password)"));
  form->addRow(mAllowAnonymous);
  // The platform's account check is PAM on this system.
  mNTAuthentication = new QCheckBox(tr("Use System Accounts (PAM)"), global);
  mNTAuthentication->setToolTip(
      tr("When Velto runs as a service, check passwords against this computer's accounts through PAM"));
  form->addRow(mNTAuthentication);

  auto* limits = new QGroupBox(tr("Logon Limits"), column);
  auto* limitForm = new QFormLayout(limits);
  limitForm->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  for (const auto& field : FTPOptionsModel::LimitFields()) {
    mOptionBoxes[static_cast<std::size_t>(field.setting)] = OptionLine(field, limitForm, limits);
  }

  // Wide enough to read a banner while it is typed.
  column->setMinimumWidth(360);
  auto* layout = new QVBoxLayout(column);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(global);
  layout->addWidget(limits);
  layout->addStretch(1);
  return column;
}

QWidget* FFTPOptions::BuildUsers() {
  auto* group = new QGroupBox(tr("Users"), this);
  mUsers = new QListWidget(group);
  mUsers->setSelectionMode(QAbstractItemView::ExtendedSelection);
  mUsers->setToolTip(tr("Select user(s) to change"));
  mUsers->setMinimumWidth(160);
  connect(mUsers, &QListWidget::itemSelectionChanged, this, &FFTPOptions::SelectionChanged);
  connect(mUsers, &QListWidget::itemClicked, this, &FFTPOptions::SelectionChanged);

  mUserId = new QLineEdit(group);
  mUserId->setToolTip(tr("User ID (can not be changed once an account is created, and is not case sensitive)"));
  mPassword = new QLineEdit(group);
  mPassword->setEchoMode(QLineEdit::Password);
  mPassword->setToolTip(tr("Password (case sensitive)"));
  mDefaultDir = new QLineEdit(group);
  mDefaultDir->setToolTip(tr("Default directory when FTP session starts"));
  mChooseDir = new QPushButton(tr("..."), group);
  mChooseDir->setToolTip(tr("Choose default directory"));
  mChooseDir->setMaximumWidth(40);
  connect(mChooseDir, &QPushButton::clicked, this, &FFTPOptions::ChooseDirClicked);
  auto* dirRow = new QHBoxLayout;
  dirRow->addWidget(mDefaultDir, 1);
  dirRow->addWidget(mChooseDir);
  auto* fields = new QFormLayout;
  fields->addRow(tr("User ID:"), mUserId);
  fields->addRow(tr("Password:"), mPassword);
  fields->addRow(tr("Default Directory:"), dirRow);

  auto* rights = new QGridLayout;
  for (std::size_t i = 0; i < mRights.size(); ++i) {
    mRights[i] = new QCheckBox(tr(kRightTexts[i].caption), group);
    mRights[i]->setToolTip(tr(kRightTexts[i].tooltip));
    rights->addWidget(mRights[i], static_cast<int>(i / 2), static_cast<int>(i % 2));
  }

  mAdd = new QPushButton(tr("&Add"), group);
  mAdd->setToolTip(
      tr("Add new user.  Once the users info has been entered, click on the Update button to save the new user."));
  mUpdate = new QPushButton(tr("&Update"), group);
  mUpdate->setToolTip(tr("Update highlighted user(s)/Save new user information"));
  mRemove = new QPushButton(tr("&Remove"), group);
  mRemove->setToolTip(tr("Remove highlighted user(s)"));
  connect(mAdd, &QPushButton::clicked, this, &FFTPOptions::AddClicked);
  connect(mUpdate, &QPushButton::clicked, this, &FFTPOptions::UpdateClicked);
  connect(mRemove, &QPushButton::clicked, this, &FFTPOptions::RemoveClicked);
  auto* actions = new QHBoxLayout;
  actions->addStretch(1);
  actions->addWidget(mAdd);
  actions->addWidget(mUpdate);
  actions->addWidget(mRemove);

  auto* editor = new QVBoxLayout;
  editor->addLayout(fields);
  editor->addLayout(rights);
  editor->addStretch(1);
  editor->addLayout(actions);
  auto* layout = new QHBoxLayout(group);
  layout->addWidget(mUsers);
  layout->addLayout(editor, 1);
  return group;
}

QLineEdit* FFTPOptions::OptionBox(Setting setting) const { return mOptionBoxes[static_cast<std::size_t>(setting)]; }

void FFTPOptions::ReadForm() {
  FTPOptionsModel::AccountForm& form = mModel->Form;
  form.userId = FromQt(mUserId->text());
  form.password = FromQt(mPassword->text());
  form.defaultDirectory = FromQt(mDefaultDir->text());
  form.allowConcurrentLogons = mRights[kConcurrentLogons]->isChecked();
  form.limitToDefaultDirectory = mRights[kLimitToDefaultDirectory]->isChecked();
  form.readAccess = mRights[kReadAccess]->isChecked();
  form.writeAccess = mRights[kWriteAccess]->isChecked();
  form.logAccess = mRights[kLogAccess]->isChecked();
  form.useVirtualPaths = mRights[kVirtualPaths]->isChecked();
}

// The list mirrors the model's entries, selection and current entry; the
// signals stay blocked so showing it is not taken for a click.
void FFTPOptions::ShowList() {
  const QSignalBlocker blocker(mUsers);
  const std::vector<std::string>& entries = mModel->Entries();
  bool same = mUsers->count() == static_cast<int>(entries.size());
  for (int i = 0; same && i < mUsers->count(); ++i) same = mUsers->item(i)->text() == ToQt(entries[i]);
  if (!same) {
    mUsers->clear();
    for (const std::string& entry : entries) mUsers->addItem(ToQt(entry));
  }
  mUsers->setCurrentRow(mModel->Current(), QItemSelectionModel::NoUpdate);
  for (int i = 0; i < mUsers->count(); ++i) mUsers->item(i)->setSelected(mModel->Selected(i));
}

void FFTPOptions::ShowForm() {
  const FTPOptionsModel::AccountForm& form = mModel->Form;
  mUserId->setText(ToQt(form.userId));
  mPassword->setText(ToQt(form.password));
  mPassword->setPlaceholderText(mModel->PasswordKept() ? tr("(unchanged)") : QString());
  mPassword->setEnabled(mModel->PasswordEnabled());
  mDefaultDir->setText(ToQt(form.defaultDirectory));
  mRights[kConcurrentLogons]->setChecked(form.allowConcurrentLogons);
  mRights[kLimitToDefaultDirectory]->setChecked(form.limitToDefaultDirectory);
  mRights[kReadAccess]->setChecked(form.readAccess);
  mRights[kWriteAccess]->setChecked(form.writeAccess);
  mRights[kLogAccess]->setChecked(form.logAccess);
  mRights[kVirtualPaths]->setChecked(form.useVirtualPaths);

  // Locked boxes take the button face's colour, as a hint that the id and
  // password of several accounts cannot be typed.
  const auto showLocked = [this](QLineEdit* box, bool editable) {
    box->setReadOnly(!editable);
    QPalette colours = box->palette();
    colours.setColor(QPalette::Base, palette().color(editable ? QPalette::Base : QPalette::Button));
    box->setPalette(colours);
  };
  showLocked(mUserId, mModel->IdEditable());
  showLocked(mPassword, mModel->PasswordEditable());
  mAdd->setEnabled(mModel->AddEnabled());
}

void FFTPOptions::SelectionChanged() {
  // Without a current entry the form keeps what was typed.
  ReadForm();
  std::vector<int> selected;
  for (int i = 0; i < mUsers->count(); ++i) {
    if (mUsers->item(i)->isSelected()) selected.push_back(i);
  }
  mModel->ListClick(selected, mUsers->currentRow());
  ShowForm();
}

void FFTPOptions::AddClicked() {
  mModel->Add();
  ShowList();
  ShowForm();
  mUserId->setFocus();
}

void FFTPOptions::UpdateClicked() {
  ReadForm();
  mModel->Update();
  ShowList();
  ShowForm();
}

void FFTPOptions::RemoveClicked() {
  ReadForm();
  mModel->Remove();
  ShowList();
  ShowForm();
}

void FFTPOptions::ChooseDirClicked() {
  ReadForm();
  mModel->DirectoryChosen(FromQt(BrowseDialog(this, tr("Choose Default Directory"), mDefaultDir->text())));
  ShowForm();
  mDefaultDir->setFocus();
}

void FFTPOptions::OkClicked() {
  for (std::size_t i = 0; i < mOptionBoxes.size(); ++i) {
    if (mOptionBoxes[i] != nullptr) mModel->Text(static_cast<Setting>(i)) = FromQt(mOptionBoxes[i]->text());
  }
  mModel->AllowAnonymousLogons = mAllowAnonymous->isChecked();
  mModel->UseNTAuthentication = mNTAuthentication->isChecked();
  mModel->BindPosition = mBindToIP->currentIndex();
  if (mModel->Ok()) accept();
}

int ShowFTPOptions(CServerFacade& server, QWidget* parent) {
  FFTPOptions dialog(server, parent);
  return dialog.exec();
}

}  // namespace velto
