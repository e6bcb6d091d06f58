#include "admin/account_import.h"

#include "users/ftp_users.h"

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

AccountImport::AccountImport(CFTPUsers& users, ISettingStore& settings, std::string appPath,
                             std::function<void()> pump)
    : users_(users), settings_(settings), folder_(std::move(appPath)), pump_(std::move(pump)) {
  if (folder_.size() > 1 && folder_.back() == '/') folder_.pop_back();
}

bool AccountImport::AddDefault(const std::string& name) {
  return users_.pAddUser(name, name, folder_, false, true, true, true, false, true);
}

AccountImport::Result AccountImport::Run(const std::vector<std::string>& names, bool overwrite,
                                         IImportProgress& progress) {
  Result result;
  progress.SetTotal(static_cast<int>(names.size()));
  progress.Status(kAdding);
  for (const std::string& name : names) {
    if (!users_.pExists(name)) {
      if (AddDefault(name)) ++result.added;
    } else if (overwrite) {
      users_.pDeleteByKey(name);
      if (AddDefault(name)) ++result.added;
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

}  // namespace velto
