#include "admin/local_accounts.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace velto {

namespace {

bool Qualifies(const SystemAccount& account, const std::vector<std::string>& loginShells) {
  return !account.name.empty() && account.uid >= kFirstPersonUid &&
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

std::vector<std::string> ImportableAccounts(const AccountReader& next, const std::vector<std::string>& loginShells) {
  std::vector<std::string> names;
  while (names.size() < kAccountBatch) {
    const std::optional<SystemAccount> account = next();
    if (!account) break;
    if (Qualifies(*account, loginShells)) names.push_back(account->name);
  }
  return names;
}

std::vector<std::string> ImportableAccounts(const std::vector<SystemAccount>& accounts,
                                            const std::vector<std::string>& loginShells) {
  std::size_t at = 0;
  return ImportableAccounts(
      [&]() { return at < accounts.size() ? std::optional<SystemAccount>(accounts[at++]) : std::nullopt; },
      loginShells);
}

std::vector<std::string> LocalAccounts() {
  // Reading stops at the first batch: a directory service behind the
  // password database may hold far more.
  ::setpwent();
  passwd entry{};
  std::vector<char> buffer(16384);
  const auto next = [&]() -> std::optional<SystemAccount> {
    passwd* found = nullptr;
    if (::getpwent_r(&entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return std::nullopt;
    return SystemAccount{found->pw_name ? found->pw_name : "", static_cast<std::uint32_t>(found->pw_uid),
                         found->pw_shell ? found->pw_shell : ""};
  };
  std::vector<std::string> names = ImportableAccounts(next, LoginShells());
  ::endpwent();
  return names;
}

std::optional<std::string> LocalHome(const std::string& name) {
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  int error = 0;
  // A directory service may hold entries larger than the first buffer.
  while ((error = ::getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
         buffer.size() < (1U << 20)) {
    buffer.resize(buffer.size() * 2);
  }
  if (error != 0 || found == nullptr || found->pw_dir == nullptr) return std::nullopt;
  return std::string(found->pw_dir);
}

}  // namespace velto
