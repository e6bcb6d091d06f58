#include "portwell/resolver.h"

#include "platform/host_info.h"
#include "platform/winsock_errors.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace portwell {

sockaddr_in MakeAddress(std::uint32_t address, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = address;
  return a;
}

// ---- SocketAddress ------------------------------------------------------------

SocketAddress SocketAddress::FromSystem(const sockaddr* address, socklen_t length) {
  SocketAddress result;
  if (address == nullptr) return result;
  const socklen_t need = address->sa_family == AF_INET    ? sizeof(sockaddr_in)
                         : address->sa_family == AF_INET6 ? sizeof(sockaddr_in6)
                                                          : 0;
  if (need == 0 || length < need) return result;
  std::memcpy(&result.storage_, address, need);
  result.length_ = need;
  return result;
}

SocketAddress SocketAddress::V4(std::uint32_t address, std::uint16_t port) {
  const sockaddr_in a = MakeAddress(address, port);
  return FromSystem(reinterpret_cast<const sockaddr*>(&a), sizeof a);
}

std::optional<SocketAddress> SocketAddress::FromLiteral(const std::string& text, std::uint16_t port) {
  in_addr v4{};
  if (::inet_pton(AF_INET, text.c_str(), &v4) == 1) return V4(v4.s_addr, port);
  std::string literal = text;
  if (literal.size() >= 2 && literal.front() == '[' && literal.back() == ']') {
    literal = literal.substr(1, literal.size() - 2);
  }
  std::uint32_t zone = 0;
  const auto percent = literal.find('%');
  if (percent != std::string::npos) {
    const std::string name = literal.substr(percent + 1);
    literal.resize(percent);
    if (name.empty()) return std::nullopt;
    zone = ::if_nametoindex(name.c_str());
    if (zone == 0) {
      const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), zone);
      if (ec != std::errc() || end != name.data() + name.size() || zone == 0) return std::nullopt;
    }
  }
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_port = htons(port);
  a.sin6_scope_id = zone;
  if (literal.empty() || ::inet_pton(AF_INET6, literal.c_str(), &a.sin6_addr) != 1) return std::nullopt;
  if (IN6_IS_ADDR_V4MAPPED(&a.sin6_addr)) {
    std::uint32_t mapped = 0;
    std::memcpy(&mapped, &a.sin6_addr.s6_addr[12], sizeof mapped);
    return V4(mapped, port);
  }
  return FromSystem(reinterpret_cast<const sockaddr*>(&a), sizeof a);
}

std::int32_t SocketAddress::FamilyNumber() const {
  switch (Family()) {
    case AF_INET:
      return 4;
    case AF_INET6:
      return 6;
    default:
      return 0;
  }
}

std::uint16_t SocketAddress::Port() const {
  switch (Family()) {
    case AF_INET:
      return ntohs(reinterpret_cast<const sockaddr_in*>(&storage_)->sin_port);
    case AF_INET6:
      return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage_)->sin6_port);
    default:
      return 0;
  }
}

std::string SocketAddress::Text() const {
  if (Family() == AF_INET) return AddressText(reinterpret_cast<const sockaddr_in*>(&storage_)->sin_addr.s_addr);
  if (Family() != AF_INET6) return {};
  const auto* a = reinterpret_cast<const sockaddr_in6*>(&storage_);
  if (IN6_IS_ADDR_V4MAPPED(&a->sin6_addr)) {
    std::uint32_t mapped = 0;
    std::memcpy(&mapped, &a->sin6_addr.s6_addr[12], sizeof mapped);
    return AddressText(mapped);
  }
  char text[INET6_ADDRSTRLEN] = {};
  if (::inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text) == nullptr) return {};
  std::string result(text);
  // A link-local address names a host only together with its interface.
  if (a->sin6_scope_id != 0 && (IN6_IS_ADDR_LINKLOCAL(&a->sin6_addr) || IN6_IS_ADDR_MC_LINKLOCAL(&a->sin6_addr))) {
    char name[IF_NAMESIZE] = {};
    result += '%';
    result += ::if_indextoname(a->sin6_scope_id, name) != nullptr ? std::string(name)
                                                                   : std::to_string(a->sin6_scope_id);
  }
  return result;
}

// ---- resolving ----------------------------------------------------------------

std::uint32_t DottedAddress(const std::string& text) {
  in_addr a{};
  if (::inet_pton(AF_INET, text.c_str(), &a) != 1) return kInvalidAddress;
  return a.s_addr;
}

std::optional<SocketAddress> ResolveHost(const std::string& host, std::uint16_t port) {
  if (auto literal = SocketAddress::FromLiteral(host, port)) return literal;
  if (host.empty()) return std::nullopt;
  // Both families in one call: the resolver asks for both records at once,
  // so a name costs no more waiting than an IPv4-only lookup did.
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0) return std::nullopt;
  std::optional<SocketAddress> v4;
  std::optional<SocketAddress> v6;
  for (addrinfo* it = list; it != nullptr; it = it->ai_next) {
    if (it->ai_family == AF_INET && !v4) {
      v4 = SocketAddress::V4(reinterpret_cast<const sockaddr_in*>(it->ai_addr)->sin_addr.s_addr, port);
    } else if (it->ai_family == AF_INET6 && !v6) {
      auto a = *reinterpret_cast<const sockaddr_in6*>(it->ai_addr);
      a.sin6_port = htons(port);
      v6 = SocketAddress::FromSystem(reinterpret_cast<const sockaddr*>(&a), sizeof a);
    }
  }
  ::freeaddrinfo(list);
  // IPv4 first, as before: a name that has both keeps connecting as it did.
  return v4 ? v4 : v6;
}

std::string AddressText(std::uint32_t address) {
  in_addr a{};
  a.s_addr = address;
  char text[INET_ADDRSTRLEN] = {};
  if (::inet_ntop(AF_INET, &a, text, sizeof text) == nullptr || text[0] == '\0') return "255.255.255.255";
  return text;
}

std::string ReverseName(const std::string& addressText) {
  const auto address = SocketAddress::FromLiteral(addressText, 0);
  if (!address) return "Unknown address";
  char name[NI_MAXHOST] = {};
  if (::getnameinfo(address->Data(), address->Length(), name, sizeof name, nullptr, 0, NI_NAMEREQD) != 0) {
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

SocketAddress PeerAddressOf(int fd) {
  sockaddr_storage a{};
  socklen_t len = sizeof a;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return {};
  return SocketAddress::FromSystem(reinterpret_cast<const sockaddr*>(&a), len);
}

SocketAddress LocalAddressOf(int fd) {
  sockaddr_storage a{};
  socklen_t len = sizeof a;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return {};
  return SocketAddress::FromSystem(reinterpret_cast<const sockaddr*>(&a), len);
}

std::string PeerAddressText(int fd) { return PeerAddressOf(fd).Text(); }
std::int32_t PeerPort(int fd) { return PeerAddressOf(fd).Port(); }
std::int32_t LocalPortOf(int fd) { return LocalAddressOf(fd).Port(); }
std::string LocalAddressText(int fd) { return LocalAddressOf(fd).Text(); }

int LastSystemError() { return platform::WinsockErrorFromErrno(errno); }

}  // namespace portwell
