// Exported factory: the only symbols the library shows to its client.
#include "portwell/portwell.h"

extern "C" PORTWELL_API CPortwell* PortwellCreateObject(const char*) { return nullptr; }
extern "C" PORTWELL_API void PortwellDestroyObject(CPortwell* object) { delete object; }
