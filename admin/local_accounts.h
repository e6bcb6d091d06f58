// The accounts of this computer that can be offered for import: those of
// the password database with a uid of 1000 or more and a login shell (one
// listed in /etc/shells), at most the first 500.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velto {

inline constexpr std::uint32_t kFirstPersonUid = 1000;
inline constexpr std::size_t kAccountBatch = 500;

struct SystemAccount {
  std::string name;
  std::uint32_t uid = 0;
  std::string shell;
};

// The names of the accounts `next` yields (until it yields none) that
// qualify, in order, at most kAccountBatch; reading stops there.
using AccountReader = std::function<std::optional<SystemAccount>()>;
std::vector<std::string> ImportableAccounts(const AccountReader& next, const std::vector<std::string>& loginShells);
std::vector<std::string> ImportableAccounts(const std::vector<SystemAccount>& accounts,
                                            const std::vector<std::string>& loginShells);

// Reads the password database and the login shells.
std::vector<std::string> LocalAccounts();

// The account's home folder as the password database gives it; nothing for
// an unknown account.
std::optional<std::string> LocalHome(const std::string& name);

}  // namespace velto
