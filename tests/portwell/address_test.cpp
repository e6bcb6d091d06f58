// Address values and their texts: what the component reports for a peer,
// and the header's helpers the server builds its replies and checks with.
#include "portwell/portwell.h"
#include "portwell/resolver.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

namespace {

using portwell::SocketAddress;

SocketAddress FromSystem6(const char* text, std::uint16_t port, std::uint32_t zone = 0) {
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_port = htons(port);
  a.sin6_scope_id = zone;
  ::inet_pton(AF_INET6, text, &a.sin6_addr);
  return SocketAddress::FromSystem(reinterpret_cast<const sockaddr*>(&a), sizeof a);
}

TEST(SocketAddress, AMappedPeerIsReportedAsItsIPv4Address) {
  const SocketAddress mapped = FromSystem6("::ffff:192.0.2.7", 2121);
  EXPECT_EQ(mapped.Text(), "192.0.2.7");
  EXPECT_EQ(mapped.Port(), 2121);
  EXPECT_EQ(FromSystem6("2001:db8:0:0:0:0:0:5", 21).Text(), "2001:db8::5");
  // A link-local address keeps its interface (lo is interface 1 on Linux).
  EXPECT_EQ(FromSystem6("fe80::1", 21, 1).Text(), "fe80::1%lo");
  // Too short for its family, or another family: no address.
  sockaddr_in6 truncated{};
  truncated.sin6_family = AF_INET6;
  EXPECT_TRUE(SocketAddress::FromSystem(reinterpret_cast<const sockaddr*>(&truncated), sizeof(sockaddr_in)).Empty());
  sockaddr other{};
  other.sa_family = AF_UNIX;
  EXPECT_TRUE(SocketAddress::FromSystem(&other, sizeof other).Empty());
}

TEST(SocketAddress, LiteralsOfBothFamiliesAndNothingElse) {
  const auto v4 = SocketAddress::FromLiteral("127.0.0.1", 21);
  ASSERT_TRUE(v4);
  EXPECT_EQ(v4->FamilyNumber(), 4);
  const auto v6 = SocketAddress::FromLiteral("[::1]", 21);
  ASSERT_TRUE(v6);
  EXPECT_EQ(v6->FamilyNumber(), 6);
  EXPECT_EQ(v6->Text(), "::1");
  EXPECT_EQ(v6->Port(), 21);
  // A mapped literal is the IPv4 host: connected and listened on as IPv4.
  const auto mapped = SocketAddress::FromLiteral("::FFFF:127.0.0.1", 21);
  ASSERT_TRUE(mapped);
  EXPECT_EQ(mapped->FamilyNumber(), 4);
  EXPECT_EQ(mapped->Text(), "127.0.0.1");
  EXPECT_EQ(SocketAddress::FromLiteral("fe80::1%lo", 0)->Text(), "fe80::1%lo");
  for (const char* bad : {"", "localhost", "127.1", "1.2.3.4.5", "::g", "[::1", "::1]", "::1%", "::1%no-such-if"}) {
    EXPECT_FALSE(SocketAddress::FromLiteral(bad, 0)) << bad;
  }
}

TEST(AddressTexts, CanonicalFormEndpointsAndTheFamilyTest) {
  EXPECT_EQ(PortwellCanonicalAddress("0:0:0:0:0:0:0:1"), "::1");
  EXPECT_EQ(PortwellCanonicalAddress("[2001:DB8::5]"), "2001:db8::5");
  EXPECT_EQ(PortwellCanonicalAddress("::ffff:10.0.0.1"), "10.0.0.1");
  EXPECT_EQ(PortwellCanonicalAddress("fe80::1%eth0"), "fe80::1%eth0");
  EXPECT_EQ(PortwellCanonicalAddress("10.0.0.1"), "10.0.0.1");
  for (const char* bad : {"", "host.example", "10.0.0", "::1%", "[::1"}) EXPECT_EQ(PortwellCanonicalAddress(bad), "") << bad;

  EXPECT_TRUE(PortwellIsIPv6("::1"));
  EXPECT_TRUE(PortwellIsIPv6("fe80::1%eth0"));
  EXPECT_FALSE(PortwellIsIPv6("::ffff:127.0.0.1"));
  EXPECT_FALSE(PortwellIsIPv6("127.0.0.1"));
  EXPECT_FALSE(PortwellIsIPv6("host.example"));

  EXPECT_EQ(PortwellEndpointText("::1", 21), "[::1]:21");
  EXPECT_EQ(PortwellEndpointText("127.0.0.1", 2121), "127.0.0.1:2121");
  EXPECT_EQ(PortwellEndpointText("::ffff:127.0.0.1", 21), "127.0.0.1:21");
  EXPECT_EQ(PortwellEndpointText("host.example", 21), "host.example:21");
}

}  // namespace
