// Exported factory: the only symbols the library shows to its client.
#include "portwell/portwell.h"
#include "portwell/portwell_object.h"

#include <cstring>
#include <memory>

extern "C" PORTWELL_API CPortwell* PortwellCreateObject(const char* className) {
  if (className == nullptr || std::strcmp(className, "Portwell.CPortwell") != 0) return nullptr;
  return std::make_unique<portwell::CPortwellObject>().release();
}

extern "C" PORTWELL_API void PortwellDestroyObject(CPortwell* object) {
  // Owned by the caller until here.
  std::unique_ptr<CPortwell> owned(object);
}
