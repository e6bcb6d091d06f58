// Creating FTP accounts from the computer's own accounts: the picker's
// state and the import routine, without windows. The routine runs on the
// event loop's thread and lets the loop run between accounts (its pump), so
// the progress window's Cancel and the server's clients are served while it
// works.
#pragma once

#include "admin/setting_store.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velto {

class CFTPUsers;

// The accounts offered for import (this computer's).
using AccountSource = std::function<std::vector<std::string>()>;
// An account's home folder (this computer's password database); nothing
// for an account it does not know.
using HomeLookup = std::function<std::optional<std::string>(const std::string&)>;

class AccountPicker {
 public:
  explicit AccountPicker(AccountSource source) : source_(std::move(source)) {}

  void Load() { accounts_ = source_ ? source_() : std::vector<std::string>{}; }
  const std::vector<std::string>& Accounts() const { return accounts_; }

  // OK: the chosen accounts in list order and the overwrite option; with
  // nothing chosen it is the same as Cancel.
  void Accept(const std::vector<int>& selected, bool overwrite);
  void Cancel() { chosen_.clear(); }
  const std::vector<std::string>& Chosen() const { return chosen_; }
  bool Overwrite() const { return overwrite_; }

 private:
  AccountSource source_;
  std::vector<std::string> accounts_;
  std::vector<std::string> chosen_;
  bool overwrite_ = false;
};

// What the import shows while it runs.
class IImportProgress {
 public:
  virtual ~IImportProgress() = default;
  // Starts a new run of `items` steps.
  virtual void SetTotal(int items) = 0;
  virtual void Status(const std::string& text) = 0;
  virtual void Increase(int amount) = 0;
  virtual bool CancelRequested() const = 0;
};

class AccountImport {
 public:
  static constexpr const char* kAdding = "Adding NT accounts, please wait...";
  static constexpr const char* kCancelled = "Operation cancelled by user.";

  struct Result {
    int added = 0;     // new accounts, replaced ones included
    int kept = 0;      // existing accounts left as they were
    bool cancelled = false;
    // "name: why", one per account not imported (no usable home folder).
    std::vector<std::string> skipped;
  };

  // `homes` gives each account's folder; `pump` runs the event loop's
  // pending work once.
  AccountImport(CFTPUsers& users, ISettingStore& settings, HomeLookup homes, std::function<void()> pump);

  // One account per name: its home folder from `homes` (an account whose
  // home is not an existing folder by an absolute path is skipped), a
  // random password nobody knows (hashed when HashPasswords is on), read,
  // write, folder limit and virtual paths on. An existing account is
  // replaced only with `overwrite`. Stops after the account during which
  // Cancel was asked for; accounts already added stay.
  Result Run(const std::vector<std::string>& names, bool overwrite, IImportProgress& progress);

  // What the import did, and how its accounts log on (the last message).
  static std::string Summary(const Result& result);

  // The first-start offer is not made again (written at once).
  void Finish() { settings_.WriteSettingNow(Setting::ShowCreateNTUserList, "False"); }

 private:
  // Adds the account (replacing one of that name with `overwrite`); false
  // with the reason in `why` when it is not imported.
  bool Import(const std::string& name, bool overwrite, std::string& why);

  CFTPUsers& users_;
  ISettingStore& settings_;
  HomeLookup homes_;
  std::function<void()> pump_;
};

}  // namespace velto
