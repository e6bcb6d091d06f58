// Name resolution and socket address helpers of the component. Stream
// sockets hold either family; datagram sockets are IPv4 only.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace portwell {

inline constexpr std::uint32_t kInvalidAddress = 0xFFFFFFFFu;  // INADDR_NONE, network order

// One socket address of either family, in the system's storage form.
class SocketAddress {
 public:
  SocketAddress() = default;
  // What the system reported (accept, getpeername, getsockname); empty for
  // a family other than IPv4 and IPv6 or a length that does not fit it.
  static SocketAddress FromSystem(const sockaddr* address, socklen_t length);
  static SocketAddress V4(std::uint32_t address, std::uint16_t port);  // address in network order
  // A dotted IPv4 address (strict form) or an IPv6 literal, which may be in
  // brackets and carry a zone ("fe80::1%eth0"). An IPv4-mapped IPv6 literal
  // gives its IPv4 address: such a peer is the IPv4 host. No lookup ever.
  static std::optional<SocketAddress> FromLiteral(const std::string& text, std::uint16_t port);

  bool Empty() const { return length_ == 0; }
  int Family() const { return Empty() ? AF_UNSPEC : storage_.ss_family; }
  // 4 or 6 (0 when empty).
  std::int32_t FamilyNumber() const;
  std::uint16_t Port() const;
  const sockaddr* Data() const { return reinterpret_cast<const sockaddr*>(&storage_); }
  socklen_t Length() const { return length_; }
  // The text form: dotted IPv4; IPv6 in the system's short form, with the
  // zone of a link-local address; an IPv4-mapped IPv6 address as its IPv4
  // text, so that per-address counts take it for the IPv4 host. "" when
  // empty.
  std::string Text() const;

 private:
  sockaddr_storage storage_{};
  socklen_t length_ = 0;
};

// The address to connect to for a host: a literal gives itself, a name the
// resolver's first IPv4 address, or its first IPv6 one when it has no IPv4
// address (one lookup, as many round trips as an IPv4-only lookup). Empty
// when the name cannot be resolved.
std::optional<SocketAddress> ResolveHost(const std::string& host, std::uint16_t port);
// Strict dotted form only (no lookup); kInvalidAddress otherwise.
std::uint32_t DottedAddress(const std::string& text);
// Dotted text; "255.255.255.255" when the conversion yields nothing.
std::string AddressText(std::uint32_t address);
// The resolver's name for an address text, or "Unknown address".
std::string ReverseName(const std::string& addressText);
// The host name, or "Unknown host name" when the system call fails.
std::string LocalHostNameText();
// Alias names the resolver knows for a host name.
std::vector<std::string> HostAliases(const std::string& name);
// Peer and local addresses of a socket, either family (empty, "" or 0 when
// the call fails).
SocketAddress PeerAddressOf(int fd);
SocketAddress LocalAddressOf(int fd);
std::string PeerAddressText(int fd);
std::int32_t PeerPort(int fd);
std::int32_t LocalPortOf(int fd);
std::string LocalAddressText(int fd);
// The socket error number of the last failed system call.
int LastSystemError();

sockaddr_in MakeAddress(std::uint32_t address, std::uint16_t port);

}  // namespace portwell
