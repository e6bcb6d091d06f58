#include "users/encrypt.h"
#include "users/ftp_users.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace velto {
namespace {

std::string Hex(const std::string& bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : bytes) {
    out += kHex[static_cast<unsigned char>(c) >> 4];
    out += kHex[static_cast<unsigned char>(c) & 0x0F];
  }
  return out;
}

TEST(CEncrypt, MatchesStandardRc4) {
  // Published RC4 test vectors.
  EXPECT_EQ(Hex(CEncrypt::Encrypt("Plaintext", "Key")), "BBF316E8D940AF0AD3");
  EXPECT_EQ(Hex(CEncrypt::Encrypt("pedia", "Wiki")), "1021BF0420");
  EXPECT_EQ(Hex(CEncrypt::Encrypt("Attack at dawn", "Secret")), "45A01F645FC35B383552544B9BF5");
}

TEST(CEncrypt, RoundTripsEveryByteValue) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  all += all;  // longer than the state, and the same bytes again
  const std::string secret = CEncrypt::Encrypt(all, CFTPUsers::kPassPhrase);
  EXPECT_EQ(secret.size(), all.size());
  EXPECT_NE(secret, all);
  EXPECT_EQ(CEncrypt::Decrypt(secret, CFTPUsers::kPassPhrase), all);
}

TEST(CEncrypt, EmptyTextAndTheUserFileKey) {
  EXPECT_EQ(CEncrypt::Encrypt("", "Key"), "");
  EXPECT_EQ(CEncrypt::Decrypt("", "Key"), "");
  EXPECT_EQ(CFTPUsers::kPassPhrase.size(), 27u);
  // Each call starts the key stream afresh.
  EXPECT_EQ(CEncrypt::Encrypt("abc", "Key"), CEncrypt::Encrypt("abc", "Key"));
}

TEST(CEncrypt, EmptyPassPhraseIsRefused) {
  EXPECT_THROW(CEncrypt::Encrypt("abc", ""), std::invalid_argument);
  EXPECT_EQ(CEncrypt::Encrypt("", ""), "");
}

}  // namespace
}  // namespace velto
