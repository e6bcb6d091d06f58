#include "server/front_end.h"

#include "platform/host_info.h"

#include <dlfcn.h>
#include <syslog.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace velto {

bool DisplayAvailable() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

DesktopInstance::DesktopInstance(DesktopInstance&& other) noexcept
    : library_(std::exchange(other.library_, nullptr)), frontEnd_(std::move(other.frontEnd_)) {}

DesktopInstance& DesktopInstance::operator=(DesktopInstance&& other) noexcept {
  if (this != &other) {
    Reset();
    library_ = std::exchange(other.library_, nullptr);
    frontEnd_ = std::move(other.frontEnd_);
  }
  return *this;
}

void DesktopInstance::Reset() {
  // The front end's code lives in the library.
  frontEnd_.reset();
  if (library_ != nullptr) ::dlclose(library_);
  library_ = nullptr;
}

DesktopInstance DesktopInstance::Load(const std::string& path, int& argc, char** argv, std::string& error) {
  DesktopInstance result;
  ::dlerror();
  result.library_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (result.library_ == nullptr) {
    const char* why = ::dlerror();
    error = why != nullptr ? why : "dlopen failed";
    return result;
  }
  auto create = reinterpret_cast<DesktopCreateFn>(::dlsym(result.library_, kDesktopFactoryName));
  if (create == nullptr) {
    const char* why = ::dlerror();
    error = why != nullptr ? why : std::string(kDesktopFactoryName) + " not exported";
    result.Reset();
    return result;
  }
  result.frontEnd_.reset(create(kDesktopInterfaceVersion, &argc, argv));
  if (!result.frontEnd_) {
    error = "the library is from another build of the program (interface version " +
            std::to_string(kDesktopInterfaceVersion) + " refused)";
    result.Reset();
  }
  return result;
}

DesktopInstance OpenDesktop(int& argc, char** argv) {
  std::string error;
  DesktopInstance desktop =
      DesktopInstance::Load(platform::ExecutableFolder() + kDesktopLibraryFile, argc, argv, error);
  if (!desktop) {
    const std::string text =
        std::string("cannot load the windows (") + kDesktopLibraryFile + "): " + error + "; running headless";
    std::fprintf(stderr, "velto: %s\n", text.c_str());
    std::fflush(stderr);
    ::openlog("velto", LOG_PID, LOG_DAEMON);
    ::syslog(LOG_WARNING, "%s", text.c_str());
    ::closelog();
  }
  return desktop;
}

}  // namespace velto
