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

constexpr std::array<RightText, 7> kRightTexts = {{
    {"Allow Concurrent Logons",
     "Allows this user to be logged on from more than one terminal at the same time"},
    {"Limit To Default Directory", "Restricts this users access to directories under the default directory"},
    {"Read Access", "Allows this user to read from the host"},
    {"Write Access", "Allows this user to write to the host"},
    {"Log Access", "Logs this users activity"},
    {"Use Virtual Paths",
     "Hides the true path of the default directory from the FTP client.  Note that some FTP clients will not work "
     "with true path names."},
    {"Require TLS", "Lets this user log on only over an encrypted (FTPS) connection"},
}};

QLineEdit* OptionLine(const FTPOptionsModel::OptionField& field, QFormLayout* form, QWidget* parent) {
  auto* box = new QLineEdit(parent);
  box->setToolTip(ToQt(field.tooltip));
  form->addRow(ToQt(field.label) + ':', box);
  return box;
}

}  // namespace

FFTPOptions::FFTPOptions(CServerFacade& server, QWidget* parent) : QDialog(parent) {
  model_ = std::make_unique<FTPOptionsModel>(
      server, server.Users(), server.LocalAddresses(), server.PlatformId(),
      [this](const DialogMessage& message) { ShowDialogMessage(this, message); }, SetWaitCursor);
  setWindowTitle(tr("FTP Options"));
  setWindowIcon(AppIcon());

  ok_ = new QPushButton(tr("OK"), this);
  ok_->setDefault(true);
  cancel_ = new QPushButton(tr("&Cancel"), this);
  connect(ok_, &QPushButton::clicked, this, &FFTPOptions::OkClicked);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);

  auto* groups = new QHBoxLayout;
  groups->addWidget(BuildGlobalOptions());
  groups->addWidget(BuildUsers(), 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(groups);
  layout->addLayout(buttons);

  for (std::size_t i = 0; i < optionBoxes_.size(); ++i) {
    if (optionBoxes_[i] != nullptr) optionBoxes_[i]->setText(ToQt(model_->Text(static_cast<Setting>(i))));
  }
  allowAnonymous_->setChecked(model_->AllowAnonymousLogons);
  nTAuthentication_->setEnabled(model_->NTAuthenticationAvailable());
  nTAuthentication_->setChecked(model_->UseNTAuthentication);
  for (const std::string& address : model_->BindList()) bindToIP_->addItem(ToQt(address));
  bindToIP_->setCurrentIndex(model_->BindPosition);
  tlsForLogon_->setChecked(model_->TLSRequiredForLogon);
  tlsForData_->setChecked(model_->TLSRequiredForData);
  tlsReuse_->setChecked(model_->TLSSessionReuse);
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
    optionBoxes_[static_cast<std::size_t>(field.setting)] = OptionLine(field, form, global);
  }
  bindToIP_ = new QComboBox(global);
  bindToIP_->setToolTip(tr("IP to listen on"));
  form->addRow(tr("Bind To IP:"), bindToIP_);
  allowAnonymous_ = new QCheckBox(tr("Allow Anonymous Logons"), global);
  allowAnonymous_->setToolTip(tr("Allows anonymous logons (the user name 'anonymous' with no password)"));
  form->addRow(allowAnonymous_);
  // The platform's account check is PAM on this system.
  nTAuthentication_ = new QCheckBox(tr("Use System Accounts (PAM)"), global);
  nTAuthentication_->setToolTip(
      tr("When Velto runs as a service, check passwords against this computer's accounts through PAM"));
  form->addRow(nTAuthentication_);

  auto* limits = new QGroupBox(tr("Logon Limits"), column);
  auto* limitForm = new QFormLayout(limits);
  limitForm->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  for (const auto& field : FTPOptionsModel::LimitFields()) {
    optionBoxes_[static_cast<std::size_t>(field.setting)] = OptionLine(field, limitForm, limits);
  }

  // Wide enough to read a banner while it is typed.
  column->setMinimumWidth(360);
  auto* layout = new QVBoxLayout(column);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(global);
  layout->addWidget(limits);
  layout->addWidget(BuildTls(column));
  layout->addStretch(1);
  return column;
}

QWidget* FFTPOptions::BuildTls(QWidget* parent) {
  auto* group = new QGroupBox(tr("Encryption (FTPS)"), parent);
  auto* form = new QFormLayout(group);
  form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  for (const auto& field : FTPOptionsModel::TlsFields()) {
    optionBoxes_[static_cast<std::size_t>(field.setting)] = OptionLine(field, form, group);
  }
  tlsForLogon_ = new QCheckBox(tr("Require TLS For Logons"), group);
  tlsForLogon_->setToolTip(tr("Refuses USER and PASS on a connection that has not started TLS"));
  form->addRow(tlsForLogon_);
  tlsForData_ = new QCheckBox(tr("Require TLS For Data"), group);
  tlsForData_->setToolTip(tr("Refuses transfers and listings unless the client protects data (PROT P)"));
  form->addRow(tlsForData_);
  tlsReuse_ = new QCheckBox(tr("Require TLS Session Reuse"), group);
  tlsReuse_->setToolTip(
      tr("A data connection must resume its control connection's TLS session, so no one else can take it over; "
         "turn off only for clients that cannot resume"));
  form->addRow(tlsReuse_);
  return group;
}

QWidget* FFTPOptions::BuildUsers() {
  auto* group = new QGroupBox(tr("Users"), this);
  users_ = new QListWidget(group);
  users_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  users_->setToolTip(tr("Select user(s) to change"));
  users_->setMinimumWidth(160);
  connect(users_, &QListWidget::itemSelectionChanged, this, &FFTPOptions::SelectionChanged);
  connect(users_, &QListWidget::itemClicked, this, &FFTPOptions::SelectionChanged);

  userId_ = new QLineEdit(group);
  userId_->setToolTip(tr("User ID (can not be changed once an account is created, and is not case sensitive)"));
  password_ = new QLineEdit(group);
  password_->setEchoMode(QLineEdit::Password);
  password_->setToolTip(tr("Password (case sensitive)"));
  defaultDir_ = new QLineEdit(group);
  defaultDir_->setToolTip(tr("Default directory when FTP session starts"));
  chooseDir_ = new QPushButton(tr("..."), group);
  chooseDir_->setToolTip(tr("Choose default directory"));
  chooseDir_->setMaximumWidth(40);
  connect(chooseDir_, &QPushButton::clicked, this, &FFTPOptions::ChooseDirClicked);
  auto* dirRow = new QHBoxLayout;
  dirRow->addWidget(defaultDir_, 1);
  dirRow->addWidget(chooseDir_);
  auto* fields = new QFormLayout;
  fields->addRow(tr("User ID:"), userId_);
  fields->addRow(tr("Password:"), password_);
  fields->addRow(tr("Default Directory:"), dirRow);

  auto* rights = new QGridLayout;
  for (std::size_t i = 0; i < rights_.size(); ++i) {
    rights_[i] = new QCheckBox(tr(kRightTexts[i].caption), group);
    rights_[i]->setToolTip(tr(kRightTexts[i].tooltip));
    rights->addWidget(rights_[i], static_cast<int>(i / 2), static_cast<int>(i % 2));
  }

  add_ = new QPushButton(tr("&Add"), group);
  add_->setToolTip(
      tr("Add new user.  Once the users info has been entered, click on the Update button to save the new user."));
  update_ = new QPushButton(tr("&Update"), group);
  update_->setToolTip(tr("Update highlighted user(s)/Save new user information"));
  remove_ = new QPushButton(tr("&Remove"), group);
  remove_->setToolTip(tr("Remove highlighted user(s)"));
  connect(add_, &QPushButton::clicked, this, &FFTPOptions::AddClicked);
  connect(update_, &QPushButton::clicked, this, &FFTPOptions::UpdateClicked);
  connect(remove_, &QPushButton::clicked, this, &FFTPOptions::RemoveClicked);
  auto* actions = new QHBoxLayout;
  actions->addStretch(1);
  actions->addWidget(add_);
  actions->addWidget(update_);
  actions->addWidget(remove_);

  auto* editor = new QVBoxLayout;
  editor->addLayout(fields);
  editor->addLayout(rights);
  editor->addStretch(1);
  editor->addLayout(actions);
  auto* layout = new QHBoxLayout(group);
  layout->addWidget(users_);
  layout->addLayout(editor, 1);
  return group;
}

QLineEdit* FFTPOptions::OptionBox(Setting setting) const { return optionBoxes_[static_cast<std::size_t>(setting)]; }

void FFTPOptions::ReadForm() {
  FTPOptionsModel::AccountForm& form = model_->Form;
  form.userId = FromQt(userId_->text());
  form.password = FromQt(password_->text());
  form.defaultDirectory = FromQt(defaultDir_->text());
  form.allowConcurrentLogons = rights_[kConcurrentLogons]->isChecked();
  form.limitToDefaultDirectory = rights_[kLimitToDefaultDirectory]->isChecked();
  form.readAccess = rights_[kReadAccess]->isChecked();
  form.writeAccess = rights_[kWriteAccess]->isChecked();
  form.logAccess = rights_[kLogAccess]->isChecked();
  form.useVirtualPaths = rights_[kVirtualPaths]->isChecked();
  form.requireTls = rights_[kRequireTLS]->isChecked();
}

// The list mirrors the model's entries, selection and current entry; the
// signals stay blocked so showing it is not taken for a click.
void FFTPOptions::ShowList() {
  const QSignalBlocker blocker(users_);
  const std::vector<std::string>& entries = model_->Entries();
  bool same = users_->count() == static_cast<int>(entries.size());
  for (int i = 0; same && i < users_->count(); ++i) same = users_->item(i)->text() == ToQt(entries[i]);
  if (!same) {
    users_->clear();
    for (const std::string& entry : entries) users_->addItem(ToQt(entry));
  }
  users_->setCurrentRow(model_->Current(), QItemSelectionModel::NoUpdate);
  for (int i = 0; i < users_->count(); ++i) users_->item(i)->setSelected(model_->Selected(i));
}

void FFTPOptions::ShowForm() {
  const FTPOptionsModel::AccountForm& form = model_->Form;
  userId_->setText(ToQt(form.userId));
  password_->setText(ToQt(form.password));
  password_->setPlaceholderText(model_->PasswordKept() ? tr("(unchanged)") : QString());
  password_->setEnabled(model_->PasswordEnabled());
  defaultDir_->setText(ToQt(form.defaultDirectory));
  rights_[kConcurrentLogons]->setChecked(form.allowConcurrentLogons);
  rights_[kLimitToDefaultDirectory]->setChecked(form.limitToDefaultDirectory);
  rights_[kReadAccess]->setChecked(form.readAccess);
  rights_[kWriteAccess]->setChecked(form.writeAccess);
  rights_[kLogAccess]->setChecked(form.logAccess);
  rights_[kVirtualPaths]->setChecked(form.useVirtualPaths);
  rights_[kRequireTLS]->setChecked(form.requireTls);

  // Locked boxes take the button face's colour, as a hint that the id and
  // password of several accounts cannot be typed.
  const auto showLocked = [this](QLineEdit* box, bool editable) {
    box->setReadOnly(!editable);
    QPalette colours = box->palette();
    colours.setColor(QPalette::Base, palette().color(editable ? QPalette::Base : QPalette::Button));
    box->setPalette(colours);
  };
  showLocked(userId_, model_->IdEditable());
  showLocked(password_, model_->PasswordEditable());
  add_->setEnabled(model_->AddEnabled());
}

void FFTPOptions::SelectionChanged() {
  // Without a current entry the form keeps what was typed.
  ReadForm();
  std::vector<int> selected;
  for (int i = 0; i < users_->count(); ++i) {
    if (users_->item(i)->isSelected()) selected.push_back(i);
  }
  model_->ListClick(selected, users_->currentRow());
  ShowForm();
}

void FFTPOptions::AddClicked() {
  model_->Add();
  ShowList();
  ShowForm();
  userId_->setFocus();
}

void FFTPOptions::UpdateClicked() {
  ReadForm();
  model_->Update();
  ShowList();
  ShowForm();
}

void FFTPOptions::RemoveClicked() {
  ReadForm();
  model_->Remove();
  ShowList();
  ShowForm();
}

void FFTPOptions::ChooseDirClicked() {
  ReadForm();
  model_->DirectoryChosen(FromQt(BrowseDialog(this, tr("Choose Default Directory"), defaultDir_->text())));
  ShowForm();
  defaultDir_->setFocus();
}

void FFTPOptions::OkClicked() {
  for (std::size_t i = 0; i < optionBoxes_.size(); ++i) {
    if (optionBoxes_[i] != nullptr) model_->Text(static_cast<Setting>(i)) = FromQt(optionBoxes_[i]->text());
  }
  model_->AllowAnonymousLogons = allowAnonymous_->isChecked();
  model_->UseNTAuthentication = nTAuthentication_->isChecked();
  model_->BindPosition = bindToIP_->currentIndex();
  model_->TLSRequiredForLogon = tlsForLogon_->isChecked();
  model_->TLSRequiredForData = tlsForData_->isChecked();
  model_->TLSSessionReuse = tlsReuse_->isChecked();
  if (model_->Ok()) accept();
}

int ShowFTPOptions(CServerFacade& server, QWidget* parent) {
  FFTPOptions dialog(server, parent);
  return dialog.exec();
}

}  // namespace velto
