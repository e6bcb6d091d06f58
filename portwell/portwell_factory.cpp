// Placeholder until the component lands.
extern "C" __attribute__((visibility("default"))) void* PortwellCreateObject(const char*) { return nullptr; }
