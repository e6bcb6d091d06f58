#include "gui/app_resources.h"

#include <QImageReader>

namespace velto {

QIcon AppIcon() { return QIcon(QStringLiteral(":/velto/velto_icon.svg")); }

QPixmap LogoPixmap(int height) {
  QImageReader reader(QStringLiteral(":/velto/velto_logo.svg"));
  const QSize natural = reader.size();
  if (natural.isValid() && natural.height() > 0) {
    reader.setScaledSize(QSize(natural.width() * height / natural.height(), height));
  }
  return QPixmap::fromImage(reader.read());
}

}  // namespace velto
