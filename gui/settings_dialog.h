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

  TabPages* Pages() const { return pages_; }
  QCheckBox* UseBuffersToReceiveBox() const { return useBuffersToReceive_; }
  QCheckBox* UseBuffersToSendBox() const { return useBuffersToSend_; }
  QLineEdit* IntervalReceiveBox() const { return intervalReceive_; }
  QLineEdit* IntervalSendBox() const { return intervalSend_; }
  QLineEdit* PacketSizeBox() const { return packetSize_; }
  QCheckBox* StartMinimizedBox() const { return startMinimized_; }
  QCheckBox* HideSplashScreenBox() const { return hideSplashScreen_; }
  QCheckBox* HideIconBox() const { return hideIcon_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }

 private:
  QWidget* BuildPage();
  void ShowForm();
  void BufferClicked(SettingsModel::Buffer buffer);
  void IntervalEdited(SettingsModel::Buffer buffer);
  void OkClicked();

  std::unique_ptr<SettingsModel> model_;
  TabPages* pages_ = nullptr;
  QCheckBox* useBuffersToReceive_ = nullptr;
  QCheckBox* useBuffersToSend_ = nullptr;
  QLineEdit* intervalReceive_ = nullptr;
  QLineEdit* intervalSend_ = nullptr;
  QLineEdit* packetSize_ = nullptr;
  QCheckBox* startMinimized_ = nullptr;
  QCheckBox* hideSplashScreen_ = nullptr;
  QCheckBox* hideIcon_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

// Shows the dialog modally over `parent`; QDialog::Accepted after OK.
int ShowSettings(CServerFacade& server, QWidget* parent);

}  // namespace velto
