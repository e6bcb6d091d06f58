// The program's own pictures, compiled into velto_gui.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace velto {

// Window and tray icon.
QIcon AppIcon();
// The logo with the program's name, scaled to `height` pixels.
QPixmap LogoPixmap(int height);

}  // namespace velto
