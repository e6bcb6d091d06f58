// The About box: logo, version line, the maker's name and address, and two
// links (web page and support mail) opened with the desktop's handler.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace velto {

class FAbout final : public QDialog {
  Q_OBJECT

 public:
  explicit FAbout(QWidget* parent = nullptr);
  ~FAbout() override;

  // Fills the version line and shows the box, centred on the screen; modal,
  // without blocking the caller.
  void ShowAboutForm();

  QString VersionText() const;
  // What the two links open.
  QUrl WebPageUrl() const;
  QUrl MailUrl() const;
  void OpenWebPage();
  void OpenMail();

  QPushButton* OkButton() { return ok_; }

 private:
  QLabel* version_ = nullptr;
  QLabel* webPage_ = nullptr;
  QLabel* mail_ = nullptr;
  QPushButton* ok_ = nullptr;
};

// Opens the About box over `parent` (modal, without blocking the caller);
// it deletes itself when closed.
void ShowAbout(QWidget* parent);

}  // namespace velto
