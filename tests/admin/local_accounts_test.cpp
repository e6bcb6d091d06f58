#include "admin/local_accounts.h"

#include <gtest/gtest.h>

namespace velto {
namespace {

TEST(LocalAccounts, PeopleWithALoginShellUpToTheFirstBatch) {
  const std::vector<std::string> shells = {"/bin/sh", "/bin/bash", "/usr/bin/zsh"};
  std::vector<SystemAccount> accounts = {
      {"root", 0, "/bin/bash"},          {"daemon", 1, "/usr/sbin/nologin"}, {"ada", 1000, "/bin/bash"},
      {"svc", 1001, "/usr/sbin/nologin"}, {"ftp", 999, "/bin/sh"},           {"bo", 1002, "/usr/bin/zsh"},
      {"nobody", 65534, "/usr/sbin/nologin"}, {"cy", 1003, "/bin/false"},
  };
  EXPECT_EQ(ImportableAccounts(accounts, shells), (std::vector<std::string>{"ada", "bo"}));

  for (std::uint32_t i = 0; i < 600; ++i) accounts.push_back({"u" + std::to_string(i), 2000 + i, "/bin/sh"});
  const std::vector<std::string> batch = ImportableAccounts(accounts, shells);
  ASSERT_EQ(batch.size(), kAccountBatch);
  EXPECT_EQ(batch.back(), "u497");
}

TEST(LocalAccounts, HomeComesFromThePasswordDatabase) {
  EXPECT_EQ(LocalHome("root"), std::optional<std::string>("/root"));
  EXPECT_EQ(LocalHome("no-such-account-here"), std::nullopt);
}

}  // namespace
}  // namespace velto
