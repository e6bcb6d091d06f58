#include "admin/account_import.h"

#include "users/ftp_users.h"

namespace velto {

void AccountPicker::Accept(const std::vector<int>& selected, bool overwrite) {
  mChosen.clear();
  for (int index : selected) {
    if (index >= 0 && index < static_cast<int>(mAccounts.size())) {
      mChosen.push_back(mAccounts[static_cast<std::size_t>(index)]);
    }
  }
  mOverwrite = !mChosen.empty() && overwrite;
}

AccountImport::AccountImport(CFTPUsers& users, ISettingStore& settings, std::string appPath,
                             std::function<void()> pump)
    : mUsers(users), mSettings(settings), mFolder(std::move(appPath)), mPump(std::move(pump)) {
  if (mFolder.size() > 1 && mFolder.back() == '/') mFolder.pop_back();
}

bool AccountImport::AddDefault(const std::string& name) {
  return mUsers.pAddUser(name, name, mFolder, false, true, true, true, false, true);
}

AccountImport::Result AccountImport::Run(const std::vector<std::string>& names, bool overwrite,
                                         IImportProgress& progress) {
  Result result;
  progress.SetTotal(static_cast<int>(names.size()));
  progress.Status(kAdding);
  for (const std::string& name : names) {
    if (!mUsers.pExists(name)) {
      if (AddDefault(name)) ++result.added;
    } else if (overwrite) {
      mUsers.pDeleteByKey(name);
      if (AddDefault(name)) ++result.added;
    } else {
      ++result.kept;
    }
    if (mPump) mPump();
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
