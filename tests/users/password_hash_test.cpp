#include "users/password_hash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

namespace velto {
namespace {

TEST(PasswordHash, YescryptWithAFreshSaltMatchesOnlyItsPassword) {
  const auto hash = HashPassword("s3cret pass");
  ASSERT_TRUE(hash);
  EXPECT_EQ(hash->rfind("$y$", 0), 0u) << *hash;
  EXPECT_NE(*HashPassword("s3cret pass"), *hash) << "every hash has its own salt";
  EXPECT_TRUE(MatchesHash("s3cret pass", *hash));
  EXPECT_FALSE(MatchesHash("s3cret pasS", *hash));
  EXPECT_FALSE(MatchesHash("", *hash));
  // crypt stops at a NUL: "s3cret pass\0x" must not pass for "s3cret pass".
  EXPECT_FALSE(MatchesHash(std::string("s3cret pass\0x", 13), *hash));
  EXPECT_FALSE(HashPassword(std::string("a\0b", 3)));
  EXPECT_FALSE(MatchesHash("", "")) << "no hash matches nothing";
  EXPECT_FALSE(MatchesHash("*0", "*0"));
}

TEST(PasswordHash, CompareAndRandomPasswords) {
  EXPECT_TRUE(ConstantTimeEqual("", ""));
  EXPECT_TRUE(ConstantTimeEqual("abc", "abc"));
  EXPECT_FALSE(ConstantTimeEqual("abc", "abd"));
  EXPECT_FALSE(ConstantTimeEqual("abc", "ab"));
  EXPECT_FALSE(ConstantTimeEqual("", std::string(1, '\0')));

  const auto a = RandomPassword();
  const auto b = RandomPassword();
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->size(), 24u);
  EXPECT_TRUE(std::all_of(a->begin(), a->end(), [](unsigned char c) { return std::isalnum(c) != 0; })) << *a;
  EXPECT_NE(*a, *b);
}

}  // namespace
}  // namespace velto
