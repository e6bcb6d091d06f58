// The view library's one export (libvelto_desktop.so): the program loads
// the library only when it opens windows, and reaches the views through
// the front end made here.
#include "gui/desktop.h"

#include <memory>

extern "C" __attribute__((visibility("default"))) velto::IFrontEnd* VeltoDesktopCreateObject(int interfaceVersion,
                                                                                            int* argc,
                                                                                            char** argv) {
  // The server's classes are compiled into both sides: another build's
  // layout would be read as this one's.
  if (interfaceVersion != velto::kDesktopInterfaceVersion || argc == nullptr) return nullptr;
  // Owned by the caller from here.
  return std::make_unique<velto::DesktopFrontEnd>(*argc, argv).release();
}
