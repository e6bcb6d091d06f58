// Name resolution and socket address helpers of the component (IPv4 only).
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <vector>

namespace portwell {

inline constexpr std::uint32_t kInvalidAddress = 0xFFFFFFFFu;  // INADDR_NONE, network order

// A dotted address gives itself; a name gives the resolver's addresses (the
// first only, or all); a name that cannot be resolved gives the invalid
// address. Addresses are in network order.
std::vector<std::uint32_t> HostAddressList(const std::string& host, bool firstOnly);
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
// Peer and local addresses of a socket ("" or 0 when the call fails).
std::string PeerAddressText(int fd);
std::int32_t PeerPort(int fd);
std::int32_t LocalPortOf(int fd);
std::string LocalAddressText(int fd);
// The socket error number of the last failed system call.
int LastSystemError();

sockaddr_in MakeAddress(std::uint32_t address, std::uint16_t port);

}  // namespace portwell
