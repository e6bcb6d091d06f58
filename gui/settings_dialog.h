// The "Settings" dialog: the socket component's transfer tuning and the
// start-up options on the tab strip's one page, a thin view over
// SettingsModel.
#pragma once

#include "admin/settings_model.h"

#include <QDialog>

#include <memory>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace velto {

class CServerFacade;
class TabPages;

class FSettings final : public QDialog {
  Q_OBJECT

 public:
  explicit FSettings(CServerFacade& server, QWidget* parent = nullptr);
  ~FSettings() override;

  TabPages* Pages() const { return mPages; }
  QCheckBox* UseBuffersToReceiveBox() const { return mUseBuffersToReceive; }
  QCheckBox* UseBuffersToSendBox() const { return mUseBuffersToSend; }
  QLineEdit* IntervalReceiveBox() const { return mIntervalReceive; }
  QLineEdit* IntervalSendBox() const { return mIntervalSend; }
  QLineEdit* PacketSizeBox() const { return mPacketSize; }
  QCheckBox* StartMinimizedBox() const { return mStartMinimized; }
  QCheckBox* HideSplashScreenBox() const { return mHideSplashScreen; }
  QCheckBox* HideIconBox() const { return mHideIcon; }
  QPushButton* OkButton() const { return mOk; }
  QPushButton* CancelButton() const { return mCancel; }

 private:
  QWidget* BuildPage();
  void ShowForm();
  void BufferClicked(SettingsModel::Buffer buffer);
  void IntervalEdited(SettingsModel::Buffer buffer);
  void OkClicked();

  std::unique_ptr<SettingsModel> mModel;
  TabPages* mPages = nullptr;
  QCheckBox* mUseBuffersToReceive = nullptr;
  QCheckBox* mUseBuffersToSend = nullptr;
  QLineEdit* mIntervalReceive = nullptr;
  QLineEdit* mIntervalSend = nullptr;
  QLineEdit* mPacketSize = nullptr;
  QCheckBox* mStartMinimized = nullptr;
  QCheckBox* mHideSplashScreen = nullptr;
  QCheckBox* mHideIcon = nullptr;
  QPushButton* mOk = nullptr;
  QPushButton* mCancel = nullptr;
};

// Shows the dialog modally over `parent`; QDialog::Accepted after OK.
int ShowSettings(CServerFacade& server, QWidget* parent);

}  // namespace velto
