#include "portwell/resolver.h"

#include "platform/host_info.h"
#include "platform/winsock_errors.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace portwell {

sockaddr_in MakeAddress(std::uint32_t address, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = address;
  return a;
}

std::uint32_t DottedAddress(const std::string& text) {
  in_addr a{};
  if (::inet_pton(AF_INET, text.c_str(), &a) != 1) return kInvalidAddress;
  return a.s_addr;
}

std::vector<std::uint32_t> HostAddressList(const std::string& host, bool firstOnly) {
  in_addr dotted{};
  if (::inet_pton(AF_INET, host.c_str(), &dotted) == 1) return {dotted.s_addr};
  std::vector<std::uint32_t> result;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (!host.empty() && ::getaddrinfo(host.c_str(), nullptr, &hints, &list) == 0) {
    for (addrinfo* it = list; it != nullptr; it = it->ai_next) {
      if (it->ai_family != AF_INET) continue;
      result.push_back(reinterpret_cast<const sockaddr_in*>(it->ai_addr)->sin_addr.s_addr);
      if (firstOnly) break;
    }
    ::freeaddrinfo(list);
  }
  if (result.empty()) result.push_back(kInvalidAddress);
  return result;
}

std::string AddressText(std::uint32_t address) {
  in_addr a{};
  a.s_addr = address;
  char text[INET_ADDRSTRLEN] = {};
  if (::inet_ntop(AF_INET, &a, text, sizeof text) == nullptr || text[0] == '\0') return "255.255.255.255";
  return text;
}

std::string ReverseName(const std::string& addressText) {
  const std::uint32_t address = DottedAddress(addressText);
  if (address == kInvalidAddress && addressText != "255.255.255.255") return "Unknown address";
  const sockaddr_in a = MakeAddress(address, 0);
  char name[NI_MAXHOST] = {};
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&a), sizeof a, name, sizeof name, nullptr, 0, NI_NAMEREQD) != 0) {
    return "Unknown address";
  }
  return std::string(name, ::strnlen(name, sizeof name));
}

std::string LocalHostNameText() {
  std::string name = platform::LocalHostName();
  return name.empty() ? "Unknown host name" : name;
}

std::vector<std::string> HostAliases(const std::string& name) {
  std::vector<std::string> aliases;
  hostent entry{};
  hostent* found = nullptr;
  char buffer[8192];
  int error = 0;
  if (::gethostbyname_r(name.c_str(), &entry, buffer, sizeof buffer, &found, &error) == 0 && found != nullptr &&
      found->h_aliases != nullptr) {
    for (char** alias = found->h_aliases; *alias != nullptr; ++alias) aliases.emplace_back(*alias);
  }
  return aliases;
}

std::string PeerAddressText(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0 || a.sin_family != AF_INET) return {};
  return AddressText(a.sin_addr.s_addr);
}

std::int32_t PeerPort(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0 || a.sin_family != AF_INET) return 0;
  return ntohs(a.sin_port);
}

std::int32_t LocalPortOf(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0 || a.sin_family != AF_INET) return 0;
  return ntohs(a.sin_port);
}

std::string LocalAddressText(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0 || a.sin_family != AF_INET) return {};
  return AddressText(a.sin_addr.s_addr);
}

int LastSystemError() { return platform::WinsockErrorFromErrno(errno); }

}  // namespace portwell
