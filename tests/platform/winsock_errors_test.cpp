#include "platform/winsock_errors.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

TEST(WinsockErrors, ErrnoMapsToSocketNumbers) {
  EXPECT_EQ(platform::WinsockErrorFromErrno(0), 0);
  EXPECT_EQ(platform::WinsockErrorFromErrno(EWOULDBLOCK), 10035);
  EXPECT_EQ(platform::WinsockErrorFromErrno(EAGAIN), 10035);
  EXPECT_EQ(platform::WinsockErrorFromErrno(EADDRINUSE), 10048);
  EXPECT_EQ(platform::WinsockErrorFromErrno(EADDRNOTAVAIL), 10049);
  EXPECT_EQ(platform::WinsockErrorFromErrno(ECONNRESET), 10054);
  EXPECT_EQ(platform::WinsockErrorFromErrno(ECONNREFUSED), 10061);
  EXPECT_EQ(platform::WinsockErrorFromErrno(EACCES), 10013);
  EXPECT_EQ(platform::WinsockErrorFromErrno(ETIMEDOUT), 10060);
}

TEST(WinsockErrors, TextTableAndUnknownNumbers) {
  EXPECT_EQ(platform::SocketErrorText(10061), "Connection refused");
  EXPECT_EQ(platform::SocketErrorText(10013), "Permission Denied");
  EXPECT_EQ(platform::SocketErrorText(11004), "Valid name, no data record of requested type");
  EXPECT_EQ(platform::SocketErrorText(0), "0 Unknown error");
  EXPECT_EQ(platform::SocketErrorText(12345), "12345 Unknown error");
  EXPECT_EQ(platform::SystemErrorText(999999), "Unknown Error.");
}

}  // namespace
