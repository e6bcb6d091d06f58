#include "users/ftp_users.h"

#include "platform/host_info.h"
#include "users/encrypt.h"
#include "users/file_value.h"

#include <algorithm>
#include <cstdlib>

namespace velto {

namespace {

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Section(std::int32_t number) { return "User" + std::to_string(number); }

const char* BoolText(bool value) { return value ? "True" : "False"; }

std::string_view TrimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

std::string FolderWithoutSlash(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

}  // namespace

bool SameUserID(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

bool TextToBool(std::string_view text, bool fallback) {
  const std::string_view trimmed = TrimBlanks(text);
  if (SameUserID(trimmed, "True")) return true;
  if (SameUserID(trimmed, "False")) return false;
  if (trimmed.empty()) return fallback;
  const std::string number(trimmed);
  char* end = nullptr;
  const double value = std::strtod(number.c_str(), &end);
  if (end != number.c_str() + number.size()) return fallback;
  return value != 0.0;
}

CFTPUsers::CFTPUsers(MessagePump pump, std::string programFolder)
    : mPump(std::move(pump)),
      mProgramFolder(FolderWithoutSlash(programFolder.empty() ? platform::ExecutableFolder()
                                                              : std::move(programFolder))) {}

void CFTPUsers::SetDataFile(const std::string& vsPathAndFileName) {
  mDataFile = vsPathAndFileName;
  mFile.SetFileName(vsPathAndFileName);
  Load();
}

void CFTPUsers::Load() {
  for (std::int32_t n = 1;; ++n) {
    const std::string section = Section(n);
    std::string id = mFile.GetValue(section, "UserID", "");
    if (id.empty()) break;
    if (Find(id) != nullptr) continue;

    auto user = std::make_unique<CFTPUser>();
    user->UserID = std::move(id);
    user->Password = CEncrypt::Decrypt(DecodeFileValue(mFile.GetValue(section, "Password", "")), kPassPhrase);
    user->DefaultDirectory = mFile.GetValue(section, "DefaultDirectory", mProgramFolder);
    const auto flag = [&](std::string_view key, bool fallback) {
      return TextToBool(mFile.GetValue(section, key, BoolText(fallback)), fallback);
    };
    user->AllowConcurrentLogons = flag("AllowConcurrentLogons", false);
    user->LimitToDefaultDirectory = flag("LimitToDefaultDirectory", true);
    user->ReadAccess = flag("ReadAccess", true);
    user->WriteAccess = flag("WriteAccess", true);
    user->LogAccess = flag("LogAccess", false);
    user->UseVirtualPaths = flag("UseVirtualPaths", true);
    mUsers.push_back(std::move(user));
  }
}

void CFTPUsers::WriteSection(std::int32_t number, const CFTPUser& user) {
  const std::string section = Section(number);
  mFile.WriteValue(section, "UserID", user.UserID);
  mFile.WriteValue(section, "Password", EncodeFileValue(CEncrypt::Encrypt(user.Password, kPassPhrase)));
  mFile.WriteValue(section, "DefaultDirectory", user.DefaultDirectory);
  mFile.WriteValue(section, "AllowConcurrentLogons", BoolText(user.AllowConcurrentLogons));
  mFile.WriteValue(section, "LimitToDefaultDirectory", BoolText(user.LimitToDefaultDirectory));
  mFile.WriteValue(section, "ReadAccess", BoolText(user.ReadAccess));
  mFile.WriteValue(section, "WriteAccess", BoolText(user.WriteAccess));
  mFile.WriteValue(section, "LogAccess", BoolText(user.LogAccess));
  mFile.WriteValue(section, "UseVirtualPaths", BoolText(user.UseVirtualPaths));
}

bool CFTPUsers::Save() {
  mLastSaveSucceeded = mFile.WriteToDisk();
  return mLastSaveSucceeded;
}

bool CFTPUsers::ValidateUser(std::string_view vsUserID, std::string_view vsPassword,
                             bool vbUseNTAuthentication) const {
  if (SameUserID(vsUserID, "ANONYMOUS") && mAnonymousAllowed && mAnonymousAllowed() && pExists(vsUserID)) {
    return !vsPassword.empty();
  }
  if (vbUseNTAuthentication && WinVersion >= 2 && IsRunningAsService) {
    return mSystemLogonCheck && mSystemLogonCheck(std::string(vsUserID), std::string(vsPassword));
  }
  const CFTPUser* user = Find(vsUserID);
  return user != nullptr && user->Password == vsPassword;
}

bool CFTPUsers::pAddUser(std::string_view vsUserID, std::string_view vsPassword,
                         std::string_view vsDefaultDirectory, bool vbAllowConcurrentLogons,
                         bool vbLimitToDefaultDirectory, bool vbReadAccess, bool vbWriteAccess,
                         bool vbLogAccess, bool vbUseVirtualPaths) {
  // An empty id would end the list when the file is read back, and a line
  // break would split the section: both would lose accounts.
  if (vsUserID.empty() || vsUserID.find_first_of("\r\n") != std::string_view::npos) return false;
  if (pExists(vsUserID)) return false;

  auto user = std::make_unique<CFTPUser>();
  user->UserID = std::string(vsUserID);
  user->Password = std::string(vsPassword);
  user->DefaultDirectory = std::string(vsDefaultDirectory);
  user->AllowConcurrentLogons = vbAllowConcurrentLogons;
  user->LimitToDefaultDirectory = vbLimitToDefaultDirectory;
  user->ReadAccess = vbReadAccess;
  user->WriteAccess = vbWriteAccess;
  user->LogAccess = vbLogAccess;
  user->UseVirtualPaths = vbUseVirtualPaths;
  mUsers.push_back(std::move(user));
  WriteSection(Count(), *mUsers.back());
  Save();
  return true;
}

bool CFTPUsers::pExists(std::string_view vsItemKey) const { return Find(vsItemKey) != nullptr; }

void CFTPUsers::pDeleteByIndex(std::int32_t vnIndex) {
  if (vnIndex < 1 || vnIndex > Count()) {
    throw UnknownUserError("no account at position " + std::to_string(vnIndex));
  }
  mUsers.erase(mUsers.begin() + (vnIndex - 1));
}

bool CFTPUsers::pDeleteByKey(std::string_view vsKey) {
  const auto found = std::find_if(mUsers.begin(), mUsers.end(),
                                  [&](const auto& user) { return SameUserID(user->UserID, vsKey); });
  if (found == mUsers.end()) return false;
  for (std::int32_t n = 1; n <= Count(); ++n) mFile.DeleteSection(Section(n));
  mUsers.erase(found);
  // The emptied sections and the renumbered accounts reach the disk in one
  // write, so the file never holds fewer accounts than memory.
  return pUpdateUsers();
}

bool CFTPUsers::pUpdateUsers() {
  // Count is read on every pass: the pump may run handlers that change the
  // collection.
  for (std::int32_t n = 1; n <= Count(); ++n) {
    WriteSection(n, *mUsers[static_cast<std::size_t>(n - 1)]);
    if (n < Count() && mPump) mPump();
  }
  return Save();
}

std::int32_t CFTPUsers::Count() const { return static_cast<std::int32_t>(mUsers.size()); }

const CFTPUser* CFTPUsers::Find(std::string_view key) const {
  for (const auto& user : mUsers) {
    if (SameUserID(user->UserID, key)) return user.get();
  }
  return nullptr;
}

const CFTPUser& CFTPUsers::ItemByKey(std::string_view vsKey) const {
  const CFTPUser* user = Find(vsKey);
  if (user == nullptr) throw UnknownUserError("no account " + std::string(vsKey));
  return *user;
}

CFTPUser& CFTPUsers::ItemByKey(std::string_view vsKey) {
  return const_cast<CFTPUser&>(std::as_const(*this).ItemByKey(vsKey));
}

const CFTPUser& CFTPUsers::ItemByIndex(std::int32_t vnKey) const {
  if (vnKey < 1 || vnKey > Count()) throw UnknownUserError("no account at position " + std::to_string(vnKey));
  return *mUsers[static_cast<std::size_t>(vnKey - 1)];
}

CFTPUser& CFTPUsers::ItemByIndex(std::int32_t vnKey) {
  return const_cast<CFTPUser&>(std::as_const(*this).ItemByIndex(vnKey));
}

}  // namespace velto
