#include "admin/account_import.h"

#include "users/ftp_users.h"
#include "users/password_hash.h"

#include <filesystem>
#include <system_error>

namespace velto {

void AccountPicker::Accept(const std::vector<int>& selected, bool overwrite) {
  chosen_.clear();
  for (int index : selected) {
    if (index >= 0 && index < static_cast<int>(accounts_.size())) {
      chosen_.push_back(accounts_[static_cast<std::size_t>(index)]);
    }
  }
  overwrite_ = !chosen_.empty() && overwrite;
}

AccountImport::AccountImport(CFTPUsers& users, ISettingStore& settings, HomeLookup homes, std::function<void()> pump)
    : users_(users), settings_(settings), homes_(std::move(homes)), pump_(std::move(pump)) {}

bool AccountImport::Import(const std::string& name, bool overwrite, std::string& why) {
  // Checked before an existing account goes: a skipped one stays as it was.
  const std::optional<std::string> home = homes_ ? homes_(name) : std::nullopt;
  std::error_code error;
  if (!home || home->empty()) {
    why = "no home folder in the password database";
    return false;
  }
  if (home->front() != '/' || !std::filesystem::is_directory(*home, error) || !CFTPUsers::StorableValue(*home)) {
    why = "its home folder " + *home + " does not exist";
    return false;
  }
  // Nobody learns this password: the account logs on with its system
  // password (PAM) or one an administrator sets.
  const std::optional<std::string> password = RandomPassword();
  if (!password) {
    why = "no random password (the kernel gave no random bytes)";
    return false;
  }
  if (overwrite && users_.pExists(name)) users_.pDeleteByKey(name);
  if (!users_.pAddUser(name, *password, *home, false, true, true, true, false, true)) {
    why = users_.LastError();
    return false;
  }
  return true;
}

AccountImport::Result AccountImport::Run(const std::vector<std::string>& names, bool overwrite,
                                         IImportProgress& progress) {
  Result result;
  users_.HashNewPasswords = ParseBool(settings_.SettingText(Setting::HashPasswords)).value_or(false);
  progress.SetTotal(static_cast<int>(names.size()));
  progress.Status(kAdding);
  for (const std::string& name : names) {
    if (!users_.pExists(name) || overwrite) {
      std::string why;
      if (Import(name, overwrite, why)) {
        ++result.added;
      } else {
        result.skipped.push_back(name + ": " + why);
      }
    } else {
      ++result.kept;
    }
    if (pump_) pump_();
    progress.Increase(1);
    if (progress.CancelRequested()) {
      progress.Status(kCancelled);
      result.cancelled = true;
      break;
    }
  }
  return result;
}

std::string AccountImport::Summary(const Result& result) {
  std::string text = std::to_string(result.added) + (result.added == 1 ? " account" : " accounts") + " imported";
  if (result.kept > 0) text += ", " + std::to_string(result.kept) + " existing left as they were";
  text += result.cancelled ? " before the import was cancelled.\n" : ".\n";
  if (!result.skipped.empty()) {
    text += "\nNot imported:\n";
    for (const std::string& line : result.skipped) text += "  " + line + "\n";
  }
  text +=
      "\nImported accounts have a random password that nobody knows. With \"Use System Accounts (PAM)\" on "
      "(FTP Options, when Velto runs as a service) they log on with their system password; otherwise set one "
      "with: velto user passwd NAME";
  return text;
}

}  // namespace velto
