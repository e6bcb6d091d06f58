// The accounts of this computer that can be offered for import: those of
// the password database with a uid of 1000 or more and a login shell (one
// listed in /etc/shells), at most the first 500.
#pragma once

#include <cstdint>
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

// The names of `accounts` that qualify, in order, at most kAccountBatch.
std::vector<std::string> ImportableAccounts(const std::vector<SystemAccount>& accounts,
                                            const std::vector<std::string>& loginShells);

// Reads the password database and the login shells.
std::vector<std::string> LocalAccounts();

}  // namespace velto
