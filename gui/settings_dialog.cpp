#include "gui/settings_dialog.h"

#include "gui/app_resources.h"
#include "gui/dialog_support.h"
#include "gui/mini_tab.h"
#include "gui/tab_pages.h"
#include "gui/text.h"
#include "server/server_facade.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace velto {

namespace {

using Buffer = SettingsModel::Buffer;

}  // namespace

FSettings::FSettings(CServerFacade& server, QWidget* parent) : QDialog(parent) {
  model_ = std::make_unique<SettingsModel>(server, server.DataPath(), [this](const DialogMessage& message) {
    ShowDialogMessage(this, message);
  });
  setWindowTitle(tr("Settings"));
  setWindowIcon(AppIcon());

  pages_ = new TabPages(this);
  pages_->AddPage(tr("Settings"), BuildPage());

  ok_ = new QPushButton(tr("OK"), this);
  ok_->setDefault(true);
  cancel_ = new QPushButton(tr("&Cancel"), this);
  connect(ok_, &QPushButton::clicked, this, &FSettings::OkClicked);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pages_, 1);
  layout->addLayout(buttons);

  model_->Load([this] { ShowForm(); });
  pages_->Tabs()->SetActiveTab(0);
}

FSettings::~FSettings() = default;

QWidget* FSettings::BuildPage() {
  auto* page = new QWidget;
  auto* dataGroup = new QGroupBox(tr("Data"), page);

  auto* receive = new QGroupBox(tr("Receive"), dataGroup);
  useBuffersToReceive_ = new QCheckBox(tr("Use Buffers To &Receive"), receive);
  useBuffersToReceive_->setToolTip(tr("Use timed buffers to receive data"));
  intervalReceive_ = new QLineEdit(receive);
  intervalReceive_->setToolTip(
      tr("Interval in milliseconds at which received data is processed if Receive Buffering is on"));
  auto* receiveForm = new QFormLayout(receive);
  receiveForm->addRow(useBuffersToReceive_);
  receiveForm->addRow(tr("Receive Processing Interval:"), intervalReceive_);

  auto* send = new QGroupBox(tr("Send"), dataGroup);
  useBuffersToSend_ = new QCheckBox(tr("Use Buffers To &Send"), send);
  useBuffersToSend_->setToolTip(tr("Use timed buffers to send data"));
  intervalSend_ = new QLineEdit(send);
  intervalSend_->setToolTip(tr("Interval at which data is sent if Send Buffering is on"));
  auto* sendForm = new QFormLayout(send);
  sendForm->addRow(useBuffersToSend_);
  sendForm->addRow(tr("To Send Processing Interval:"), intervalSend_);

  auto* dataLayout = new QVBoxLayout(dataGroup);
  dataLayout->addWidget(receive);
  dataLayout->addWidget(send);

  packetSize_ = new QLineEdit(page);
  packetSize_->setToolTip(tr("Size of data to submit per send"));
  startMinimized_ = new QCheckBox(tr("Start Minimized"), page);
  startMinimized_->setToolTip(tr("Start the application minimized in the task tray"));
  hideSplashScreen_ = new QCheckBox(tr("Hide Splash Screen"), page);
  hideSplashScreen_->setToolTip(tr("Hides splash screen when application starts"));
  hideIcon_ = new QCheckBox(tr("Hide Icon When Running As Service"), page);
  hideIcon_->setToolTip(tr("Hides Velto's icon when it is started as a service"));
  auto* side = new QFormLayout;
  side->addRow(tr("Packet Size:"), packetSize_);
  side->addRow(startMinimized_);
  side->addRow(hideSplashScreen_);
  side->addRow(hideIcon_);
  auto* sideColumn = new QVBoxLayout;
  sideColumn->addLayout(side);
  sideColumn->addStretch(1);

  auto* layout = new QHBoxLayout(page);
  layout->addWidget(dataGroup);
  layout->addLayout(sideColumn);

  connect(useBuffersToReceive_, &QCheckBox::clicked, this, [this] { BufferClicked(Buffer::Receive); });
  connect(useBuffersToSend_, &QCheckBox::clicked, this, [this] { BufferClicked(Buffer::Send); });
  connect(intervalReceive_, &QLineEdit::textChanged, this, [this] { IntervalEdited(Buffer::Receive); });
  connect(intervalSend_, &QLineEdit::textChanged, this, [this] { IntervalEdited(Buffer::Send); });
  connect(hideIcon_, &QCheckBox::toggled, this, [this](bool checked) {
    model_->form.hideIcon = checked;
    model_->HideIconClicked();
  });
  return page;
}

void FSettings::ShowForm() {
  const SettingsModel::Form& form = model_->form;
  packetSize_->setText(ToQt(form.packetSize));
  intervalReceive_->setText(ToQt(form.intervalReceive));
  intervalSend_->setText(ToQt(form.intervalSend));
  useBuffersToReceive_->setChecked(form.useBuffersToReceive);
  useBuffersToSend_->setChecked(form.useBuffersToSend);
  startMinimized_->setChecked(form.startMinimized);
  hideSplashScreen_->setChecked(form.hideSplashScreen);
  hideIcon_->setChecked(form.hideIcon);
  intervalReceive_->setEnabled(model_->IntervalEnabled(Buffer::Receive));
  intervalSend_->setEnabled(model_->IntervalEnabled(Buffer::Send));
}

void FSettings::BufferClicked(Buffer buffer) {
  model_->form.useBuffersToReceive = useBuffersToReceive_->isChecked();
  model_->form.useBuffersToSend = useBuffersToSend_->isChecked();
  (buffer == Buffer::Receive ? intervalReceive_ : intervalSend_)->setEnabled(model_->IntervalEnabled(buffer));
}

void FSettings::IntervalEdited(Buffer buffer) {
  QLineEdit* box = buffer == Buffer::Receive ? intervalReceive_ : intervalSend_;
  // Showing the current interval instead raises this handler once more,
  // which then finds a number.
  if (const auto current = model_->IntervalChanged(buffer, FromQt(box->text()))) box->setText(ToQt(*current));
}

void FSettings::OkClicked() {
  SettingsModel::Form& form = model_->form;
  form.packetSize = FromQt(packetSize_->text());
  form.useBuffersToReceive = useBuffersToReceive_->isChecked();
  form.useBuffersToSend = useBuffersToSend_->isChecked();
  form.startMinimized = startMinimized_->isChecked();
  form.hideSplashScreen = hideSplashScreen_->isChecked();
  form.hideIcon = hideIcon_->isChecked();
  model_->Ok();
  accept();
}

int ShowSettings(CServerFacade& server, QWidget* parent) {
  FSettings dialog(server, parent);
  return dialog.exec();
}

}  // namespace velto
