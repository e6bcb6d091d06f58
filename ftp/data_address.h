// The address texts of data connections: which address family a control
// connection uses, and which address PASV announces. Pure text functions,
// no lookup and no system state.
#pragma once

#include <string>

namespace velto {

// True for an IPv6 literal (an IPv4-mapped one counts as IPv4).
bool IsIPv6Address(const std::string& address);

// The address without brackets and zone, in the short form a comparison
// needs ("" for text that is no literal).
std::string ComparableAddress(const std::string& address);

// True for loopback and private-network addresses: 127/8, 10/8, 172.16/12,
// 192.168/16, 169.254/16, 100.64/10, ::1, fc00::/7 and fe80::/10.
bool IsNearbyAddress(const std::string& address);

// The address PASV's 227 names: `passiveAddress` (the configured address to
// announce, resolved to an IPv4 literal), except for a client on loopback or
// a private network, which is told the address it reached
// (`reachedAddress`), so that clients on the LAN of a server behind NAT
// keep working. An empty or unusable `passiveAddress` announces the reached
// address too.
std::string AnnouncedPassiveAddress(const std::string& passiveAddress, const std::string& clientAddress,
                                    const std::string& reachedAddress);

}  // namespace velto
