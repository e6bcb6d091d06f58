#include "admin/local_accounts.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>

namespace velto {

namespace {

bool Qualifies(const SystemAccount& account, const std::vector<std::string>& loginShells) {
  return account.uid >= kFirstPersonUid &&
         std::find(loginShells.begin(), loginShells.end(), account.shell) != loginShells.end();
}

std::vector<std::string> LoginShells() {
  std::vector<std::string> shells;
  ::setusershell();
  while (const char* shell = ::getusershell()) shells.emplace_back(shell);
  ::endusershell();
  return shells;
}

}  // namespace

std::vector<std::string> ImportableAccounts(const std::vector<SystemAccount>& accounts,
                                            const std::vector<std::string>& loginShells) {
  std::vector<std::string> names;
  for (const SystemAccount& account : accounts) {
    if (names.size() == kAccountBatch) break;
    if (Qualifies(account, loginShells)) names.push_back(account.name);
  }
  return names;
}

std::vector<std::string> LocalAccounts() {
  const std::vector<std::string> shells = LoginShells();
  std::vector<std::string> names;
  // Stops at the first batch: a directory service behind the password
  // database may hold far more.
  ::setpwent();
  passwd entry{};
  std::vector<char> buffer(16384);
  passwd* found = nullptr;
  while (names.size() < kAccountBatch && ::getpwent_r(&entry, buffer.data(), buffer.size(), &found) == 0 &&
         found != nullptr) {
    const SystemAccount account{found->pw_name ? found->pw_name : "", static_cast<std::uint32_t>(found->pw_uid),
                                found->pw_shell ? found->pw_shell : ""};
    if (!account.name.empty() && Qualifies(account, shells)) names.push_back(account.name);
  }
  ::endpwent();
  return names;
}

}  // namespace velto
