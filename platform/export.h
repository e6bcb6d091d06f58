// Symbol visibility for the shared platform library: everything is hidden
// unless marked.
#pragma once

#if defined(VELTO_PLATFORM_BUILD)
#define VELTO_PLATFORM_EXPORT __attribute__((visibility("default")))
#else
#define VELTO_PLATFORM_EXPORT __attribute__((visibility("default")))
#endif
