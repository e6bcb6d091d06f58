#include "platform/host_info.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <climits>
#include <cstring>

namespace platform {

std::string LocalHostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return std::string(name, ::strnlen(name, sizeof name));
}

std::vector<std::string> LocalAddresses() {
  std::vector<std::string> outside;
  std::vector<std::string> loopback;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) == 0) {
    for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
      if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
      if ((it->ifa_flags & IFF_UP) == 0) continue;
      char text[INET_ADDRSTRLEN] = {};
      const auto* in = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
      if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) == nullptr) continue;
      ((it->ifa_flags & IFF_LOOPBACK) ? loopback : outside).emplace_back(text);
    }
    ::freeifaddrs(list);
  }
  outside.insert(outside.end(), loopback.begin(), loopback.end());
  if (outside.empty()) outside.emplace_back("127.0.0.1");
  return outside;
}

std::vector<std::string> LocalAddresses6() {
  std::vector<std::string> outside;
  std::vector<std::string> loopback;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) == 0) {
    for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
      if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET6) continue;
      if ((it->ifa_flags & IFF_UP) == 0) continue;
      const in6_addr& a = reinterpret_cast<const sockaddr_in6*>(it->ifa_addr)->sin6_addr;
      if (IN6_IS_ADDR_LINKLOCAL(&a) || IN6_IS_ADDR_SITELOCAL(&a) || IN6_IS_ADDR_MULTICAST(&a) ||
          IN6_IS_ADDR_UNSPECIFIED(&a) || IN6_IS_ADDR_V4MAPPED(&a) || IN6_IS_ADDR_V4COMPAT(&a)) {
        continue;
      }
      char text[INET6_ADDRSTRLEN] = {};
      if (::inet_ntop(AF_INET6, &a, text, sizeof text) == nullptr) continue;
      (IN6_IS_ADDR_LOOPBACK(&a) ? loopback : outside).emplace_back(text);
    }
    ::freeifaddrs(list);
  }
  outside.insert(outside.end(), loopback.begin(), loopback.end());
  return outside;
}

namespace {
std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return "./";
  return path.substr(0, slash + 1);
}
}  // namespace

std::string ExecutableFolder() {
  char buffer[PATH_MAX + 1] = {};
  const long n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
  if (n <= 0) return "./";
  return FolderOf(std::string(buffer, static_cast<std::size_t>(n)));
}

std::string ModuleFolder(const void* symbol) {
  Dl_info info{};
  if (::dladdr(symbol, &info) == 0 || info.dli_fname == nullptr) return ExecutableFolder();
  char resolved[PATH_MAX + 1] = {};
  if (::realpath(info.dli_fname, resolved) == nullptr) return FolderOf(info.dli_fname);
  return FolderOf(resolved);
}

}  // namespace platform
