#include "gui/dialog_support.h"

#include "gui/app_resources.h"
#include "gui/text.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace velto {

void ShowDialogMessage(QWidget* owner, const DialogMessage& message) {
  QMessageBox box(message.information ? QMessageBox::Information : QMessageBox::NoIcon,
                  message.title.empty() ? QStringLiteral("Velto") : ToQt(message.title), ToQt(message.text),
                  QMessageBox::Ok, owner);
  box.setWindowIcon(AppIcon());
  box.exec();
}

void SetWaitCursor(bool on) {
  if (on) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

QString BrowseDialog(QWidget* owner, const QString& title, const QString& startFolder) {
  return QFileDialog::getExistingDirectory(owner, title, startFolder, QFileDialog::ShowDirsOnly);
}

}  // namespace velto
