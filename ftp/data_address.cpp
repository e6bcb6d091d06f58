#include "ftp/data_address.h"

#include "portwell/portwell.h"  // the inline address text helpers only

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdint>

namespace velto {

bool IsIPv6Address(const std::string& address) { return PortwellIsIPv6(address); }

std::string ComparableAddress(const std::string& address) {
  std::string canonical = PortwellCanonicalAddress(address);
  // A link-local client's zone names the server's own interface, which the
  // client cannot know: the address alone is compared.
  if (const auto percent = canonical.find('%'); percent != std::string::npos) canonical.resize(percent);
  return canonical;
}

bool IsNearbyAddress(const std::string& address) {
  const std::string canonical = ComparableAddress(address);
  in_addr v4{};
  if (::inet_pton(AF_INET, canonical.c_str(), &v4) == 1) {
    const std::uint32_t a = ntohl(v4.s_addr);
    const auto in = [a](std::uint32_t net, int bits) { return (a >> (32 - bits)) == (net >> (32 - bits)); };
    return in(0x7F000000, 8) || in(0x0A000000, 8) || in(0xAC100000, 12) || in(0xC0A80000, 16) ||
           in(0xA9FE0000, 16) || in(0x64400000, 10);
  }
  in6_addr v6{};
  if (::inet_pton(AF_INET6, canonical.c_str(), &v6) != 1) return false;
  const unsigned char* b = v6.s6_addr;
  return IN6_IS_ADDR_LOOPBACK(&v6) || (b[0] & 0xFE) == 0xFC || (b[0] == 0xFE && (b[1] & 0xC0) == 0x80);
}

std::string AnnouncedPassiveAddress(const std::string& passiveAddress, const std::string& clientAddress,
                                    const std::string& reachedAddress) {
  in_addr v4{};
  const bool usable = ::inet_pton(AF_INET, passiveAddress.c_str(), &v4) == 1;
  if (!usable || IsNearbyAddress(clientAddress)) return reachedAddress;
  return passiveAddress;
}

}  // namespace velto
