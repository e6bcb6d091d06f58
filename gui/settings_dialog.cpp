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
  mModel = std::make_unique<SettingsModel>(server, server.AppPath(), [this](const DialogMessage& message) {
    ShowDialogMessage(this, message);
  });
  setWindowTitle(tr("Settings"));
  setWindowIcon(AppIcon());

  mPages = new TabPages(this);
  mPages->AddPage(tr("Settings"), BuildPage());

  mOk = new QPushButton(tr("OK"), this);
  mOk->setDefault(true);
  mCancel = new QPushButton(tr("&Cancel"), this);
  connect(mOk, &QPushButton::clicked, this, &FSettings::OkClicked);
  connect(mCancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(mOk);
  buttons->addWidget(mCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(mPages, 1);
  layout->addLayout(buttons);

  mModel->Load([this] { ShowForm(); });
  mPages->Tabs()->SetActiveTab(0);
}

FSettings::~FSettings() = default;

QWidget* FSettings::BuildPage() {
  auto* page = new QWidget;
  auto* dataGroup = new QGroupBox(tr("Data"), page);

  auto* receive = new QGroupBox(tr("Receive"), dataGroup);
  mUseBuffersToReceive = new QCheckBox(tr("Use Buffers To &Receive"), receive);
  mUseBuffersToReceive->setToolTip(tr("Use timed buffers to receive data"));
  mIntervalReceive = new QLineEdit(receive);
  mIntervalReceive->setToolTip(
      tr("Interval in milliseconds at which received data is processed if Receive Buffering is on"));
  auto* receiveForm = new QFormLayout(receive);
  receiveForm->addRow(mUseBuffersToReceive);
  receiveForm->addRow(tr("Receive Processing Interval:"), mIntervalReceive);

  auto* send = new QGroupBox(tr("Send"), dataGroup);
  mUseBuffersToSend = new QCheckBox(tr("Use Buffers To &Send"), send);
  mUseBuffersToSend->setToolTip(tr("Use timed buffers to send data"));
  mIntervalSend = new QLineEdit(send);
  mIntervalSend->setToolTip(tr("Interval at which data is sent if Send Buffering is on"));
  auto* sendForm = new QFormLayout(send);
  sendForm->addRow(mUseBuffersToSend);
  sendForm->addRow(tr("To Send Processing Interval:"), mIntervalSend);

  auto* dataLayout = new QVBoxLayout(dataGroup);
  dataLayout->addWidget(receive);
  dataLayout->addWidget(send);

  mPacketSize = new QLineEdit(page);
  mPacketSize->setToolTip(tr("Size of data to submit per send"));
  mStartMinimized = new QCheckBox(tr("Start Minimized"), page);
  mStartMinimized->setToolTip(tr("Start the application minimized in the task tray"));
  mHideSplashScreen = new QCheckBox(tr("Hide Splash Screen"), page);
  mHideSplashScreen->setToolTip(tr("Hides splash screen when application starts"));
  mHideIcon = new QCheckBox(tr("Hide Icon When Running As Service"), page);
  mHideIcon->setToolTip(tr("Hides Velto's icon when it is started as a service"));
  auto* side = new QFormLayout;
  side->addRow(tr("Packet Size:"), mPacketSize);
  side->addRow(mStartMinimized);
  side->addRow(mHideSplashScreen);
  side->addRow(mHideIcon);
  auto* sideColumn = new QVBoxLayout;
  sideColumn->addLayout(side);
  sideColumn->addStretch(1);

  auto* layout = new QHBoxLayout(page);
  layout->addWidget(dataGroup);
  layout->addLayout(sideColumn);

  connect(mUseBuffersToReceive, &QCheckBox::clicked, this, [this] { BufferClicked(Buffer::Receive); });
  connect(mUseBuffersToSend, &QCheckBox::clicked, this, [this] { BufferClicked(Buffer::Send); });
  connect(mIntervalReceive, &QLineEdit::textChanged, this, [this] { IntervalEdited(Buffer::Receive); });
  connect(mIntervalSend, &QLineEdit::textChanged, this, [this] { IntervalEdited(Buffer::Send); });
  connect(mHideIcon, &QCheckBox::toggled, this, [this](bool checked) {
    mModel->form.hideIcon = checked;
    mModel->HideIconClicked();
  });
  return page;
}

void FSettings::ShowForm() {
  const SettingsModel::Form& form = mModel->form;
  mPacketSize->setText(ToQt(form.packetSize));
  mIntervalReceive->setText(ToQt(form.intervalReceive));
  mIntervalSend->setText(ToQt(form.intervalSend));
  mUseBuffersToReceive->setChecked(form.useBuffersToReceive);
  mUseBuffersToSend->setChecked(form.useBuffersToSend);
  mStartMinimized->setChecked(form.startMinimized);
  mHideSplashScreen->setChecked(form.hideSplashScreen);
  mHideIcon->setChecked(form.hideIcon);
  mIntervalReceive->setEnabled(mModel->IntervalEnabled(Buffer::Receive));
  mIntervalSend->setEnabled(mModel->IntervalEnabled(Buffer::Send));
}

void FSettings::BufferClicked(Buffer buffer) {
  mModel->form.useBuffersToReceive = mUseBuffersToReceive->isChecked();
  mModel->form.useBuffersToSend = mUseBuffersToSend->isChecked();
  (buffer == Buffer::Receive ? mIntervalReceive : mIntervalSend)->setEnabled(mModel->IntervalEnabled(buffer));
}

void FSettings::IntervalEdited(Buffer buffer) {
  QLineEdit* box = buffer == Buffer::Receive ? mIntervalReceive : mIntervalSend;
  // Showing the current interval instead raises this handler once more,
  // which then finds a number.
  if (const auto current = mModel->IntervalChanged(buffer, FromQt(box->text()))) box->setText(ToQt(*current));
}

void FSettings::OkClicked() {
  SettingsModel::Form& form = mModel->form;
  form.packetSize = FromQt(mPacketSize->text());
  form.useBuffersToReceive = mUseBuffersToReceive->isChecked();
  form.useBuffersToSend = mUseBuffersToSend->isChecked();
  form.startMinimized = mStartMinimized->isChecked();
  form.hideSplashScreen = mHideSplashScreen->isChecked();
  form.hideIcon = mHideIcon->isChecked();
  mModel->Ok();
  accept();
}

int ShowSettings(CServerFacade& server, QWidget* parent) {
  FSettings dialog(server, parent);
  return dialog.exec();
}

}  // namespace velto
