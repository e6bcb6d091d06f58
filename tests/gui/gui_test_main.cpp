// GUI tests run GoogleTest inside one QApplication, on the offscreen
// platform unless the caller chose another (a display, for a look) or runs
// them on a display with a tray host (VELTO_TRAY_HOST).
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("VELTO_TRAY_HOST")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
