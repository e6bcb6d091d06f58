#include "users/ftp_users.h"

#include "log/log_lines.h"
#include "users/encrypt.h"
#include "users/file_value.h"
#include "users/password_hash.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <optional>

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

std::string LowerId(std::string_view id) {
  std::string out(id);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

// The keys of a section in the order the program writes them; each new key
// goes first in its section, so a written section lists them reversed.
constexpr std::string_view kKeys[] = {"UserID",     "Password",    "DefaultDirectory",
                                      "AllowConcurrentLogons", "LimitToDefaultDirectory", "ReadAccess",
                                      "WriteAccess", "LogAccess",  "UseVirtualPaths"};
constexpr std::size_t kKeyCount = sizeof kKeys / sizeof kKeys[0];

// Written after "Password" only for an account with a hash, or to empty a
// section that still holds one, so files without hashes stay as they were.
constexpr std::string_view kHashKey = "PasswordHash";

// Written last (so first in its section) only for an account that
// requires TLS, or to turn it off in a section that holds it: files of
// accounts without it stay as older versions wrote and read them.
constexpr std::string_view kRequireTlsKey = "RequireTLS";

// What the "Password" key of a hashed account holds: CR LF, which no PASS
// command can carry, so a program that knows no hashes refuses every
// password instead of taking an empty one.
const std::string& HashedAccountMarker() {
  static const std::string marker = EncodeFileValue(CEncrypt::Encrypt("\r\n", CFTPUsers::kPassPhrase));
  return marker;
}

// Which optional keys a section of the file already holds.
struct KeysInSection {
  bool hash = false;
  bool requireTls = false;
};

// The section's keys and values, in kKeys order, with the hash key after
// the password when the account has a hash or the section holds one, and
// the TLS key last when the account requires TLS or the section holds it.
std::vector<std::pair<std::string, std::string>> EntriesOf(const CFTPUser& user, KeysInSection present) {
  const std::string password = user.PasswordHash.empty()
                                   ? EncodeFileValue(CEncrypt::Encrypt(user.Password, CFTPUsers::kPassPhrase))
                                   : HashedAccountMarker();
  const std::array<std::string, kKeyCount> values = {user.UserID,
                                                     password,
                                                     user.DefaultDirectory,
                                                     BoolText(user.AllowConcurrentLogons),
                                                     BoolText(user.LimitToDefaultDirectory),
                                                     BoolText(user.ReadAccess),
                                                     BoolText(user.WriteAccess),
                                                     BoolText(user.LogAccess),
                                                     BoolText(user.UseVirtualPaths)};
  std::vector<std::pair<std::string, std::string>> entries;
  entries.reserve(kKeyCount + 2);
  for (std::size_t i = 0; i < kKeyCount; ++i) {
    entries.emplace_back(kKeys[i], values[i]);
    if (kKeys[i] == "Password" && (present.hash || !user.PasswordHash.empty())) {
      entries.emplace_back(kHashKey, user.PasswordHash);
    }
  }
  if (present.requireTls || user.RequireTLS) entries.emplace_back(kRequireTlsKey, BoolText(user.RequireTLS));
  return entries;
}

// The optional keys the file's section holds (a value never holds CR LF).
KeysInSection KeysIn(const CIni& file, const std::string& section) {
  const auto holds = [&](std::string_view key) { return file.GetValue(section, key, "\r\n") != "\r\n"; };
  return {holds(kHashKey), holds(kRequireTlsKey)};
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

CFTPUsers::CFTPUsers(MessagePump pump) : pump_(std::move(pump)) {}

bool CFTPUsers::StorableValue(std::string_view value) {
  // Only a CR LF pair ends a line of the file; a lone CR or LF is a plain
  // byte (old files hold some), which must not block saving the others.
  return value.find("\r\n") == std::string_view::npos && (value.empty() || value.back() != ']');
}

bool CFTPUsers::Refuse(const CFTPUser& user) {
  const std::pair<std::string_view, std::string_view> fields[] = {{"UserID", user.UserID},
                                                                  {"DefaultDirectory", user.DefaultDirectory}};
  for (const auto& [name, value] : fields) {
    if (!StorableValue(value)) {
      lastError_ = std::string(name) + " of account \"" + RemoveLineBreaks(user.UserID) +
                   "\" holds a line break (CR LF) or ends in \"]\", which the user file cannot hold";
      return true;
    }
  }
  return false;
}

void CFTPUsers::Reindex() {
  byId_.clear();
  for (const auto& user : users_) byId_.emplace(LowerId(user->UserID), user.get());
}

bool CFTPUsers::SetDataFile(const std::string& vsPathAndFileName) {
  dataFile_ = vsPathAndFileName;
  if (!file_.SetFileName(vsPathAndFileName)) return false;
  Load();
  return true;
}

bool CFTPUsers::Reload() {
  // Read before anything changes: an unreadable file would drop every
  // account.
  CIni fresh;
  if (!fresh.SetFileName(dataFile_)) return false;
  file_ = std::move(fresh);
  std::unordered_map<std::string, std::unique_ptr<CFTPUser>> previous;
  for (auto& user : users_) previous.emplace(LowerId(user->UserID), std::move(user));
  users_.clear();
  byId_.clear();
  Load();
  for (auto& user : users_) {
    const auto kept = previous.find(LowerId(user->UserID));
    if (kept == previous.end()) continue;
    *kept->second = std::move(*user);
    user = std::move(kept->second);
  }
  Reindex();
  return true;
}

void CFTPUsers::Load() {
  // The file lines up with memory while account n comes from section n.
  fileInStep_ = users_.empty();
  for (std::int32_t n = 1;; ++n) {
    const std::string section = Section(n);
    std::string id = file_.GetValue(section, "UserID", "");
    if (id.empty()) break;
    if (byId_.count(LowerId(id)) > 0) continue;

    auto user = std::make_unique<CFTPUser>();
    user->UserID = std::move(id);
    user->PasswordHash = file_.GetValue(section, kHashKey, "");
    // A hashed account's "Password" holds only the marker.
    if (user->PasswordHash.empty()) {
      user->Password = CEncrypt::Decrypt(DecodeFileValue(file_.GetValue(section, "Password", "")), kPassPhrase);
    }
    user->DefaultDirectory = file_.GetValue(section, "DefaultDirectory", "");
    const auto flag = [&](std::string_view key, bool fallback) {
      return TextToBool(file_.GetValue(section, key, BoolText(fallback)), fallback);
    };
    user->AllowConcurrentLogons = flag("AllowConcurrentLogons", false);
    user->LimitToDefaultDirectory = flag("LimitToDefaultDirectory", true);
    user->ReadAccess = flag("ReadAccess", true);
    user->WriteAccess = flag("WriteAccess", true);
    user->LogAccess = flag("LogAccess", false);
    user->UseVirtualPaths = flag("UseVirtualPaths", true);
    user->RequireTLS = flag(kRequireTlsKey, false);
    byId_.emplace(LowerId(user->UserID), user.get());
    users_.push_back(std::move(user));
    if (Count() != n) fileInStep_ = false;
  }
}

void CFTPUsers::WriteSection(std::int32_t number, const CFTPUser& user) {
  const std::string section = Section(number);
  for (const auto& [key, value] : EntriesOf(user, KeysIn(file_, section))) file_.WriteValue(section, key, value);
}

// Writes every account to its section in one pass over the file, so a
// large file saves in time proportional to its size.
void CFTPUsers::WriteAllSections() {
  fileInStep_ = true;  // a pump that removes an account clears it again
  std::vector<CIni::SectionValues> sections;
  sections.reserve(users_.size());
  // Count is read on every pass: the pump may run handlers that change the
  // collection.
  for (std::int32_t n = 1; n <= Count(); ++n) {
    CIni::SectionValues entry;
    entry.section = Section(n);
    entry.values = EntriesOf(*users_[static_cast<std::size_t>(n - 1)], KeysIn(file_, entry.section));
    sections.push_back(std::move(entry));
    if (n < Count() && pump_) pump_();
  }
  file_.WriteSections(sections);
}

bool CFTPUsers::Save() {
  lastSaveSucceeded_ = file_.WriteToDisk();
  return lastSaveSucceeded_;
}

bool CFTPUsers::ValidateUser(std::string_view vsUserID, std::string_view vsPassword,
                             bool vbUseNTAuthentication) const {
  if (UsesSystemLogon(vsUserID, vbUseNTAuthentication)) {
    return systemLogonCheck_ && systemLogonCheck_(std::string(vsUserID), std::string(vsPassword));
  }
  return ValidateStored(vsUserID, vsPassword);
}

bool CFTPUsers::UsesSystemLogon(std::string_view vsUserID, bool vbUseNTAuthentication) const {
  const bool anonymous = SameUserID(vsUserID, "ANONYMOUS") && anonymousAllowed_ && anonymousAllowed_() &&
                         pExists(vsUserID);
  return !anonymous && vbUseNTAuthentication && WinVersion >= 2 && IsRunningAsService;
}

bool CFTPUsers::ValidateStored(std::string_view vsUserID, std::string_view vsPassword) const {
  if (SameUserID(vsUserID, "ANONYMOUS") && anonymousAllowed_ && anonymousAllowed_() && pExists(vsUserID)) {
    return !vsPassword.empty();
  }
  const CFTPUser* user = Find(vsUserID);
  return user != nullptr && PasswordMatches(*user, vsPassword);
}

std::string CFTPUsers::StoredHash(std::string_view vsUserID) const {
  if (SameUserID(vsUserID, "ANONYMOUS") && anonymousAllowed_ && anonymousAllowed_() && pExists(vsUserID)) return {};
  const CFTPUser* user = Find(vsUserID);
  return user != nullptr ? user->PasswordHash : std::string();
}

bool CFTPUsers::PasswordMatches(const CFTPUser& user, std::string_view vsPassword) {
  if (!user.PasswordHash.empty()) return MatchesHash(vsPassword, user.PasswordHash);
  return ConstantTimeEqual(user.Password, vsPassword);
}

bool CFTPUsers::SetPassword(CFTPUser& user, std::string_view vsPassword) {
  if (!HashNewPasswords) {
    user.Password = std::string(vsPassword);
    user.PasswordHash.clear();
    return true;
  }
  std::optional<std::string> hash = HashPassword(vsPassword);
  if (!hash) {
    lastError_ = "The password of account \"" + RemoveLineBreaks(user.UserID) +
                 "\" cannot be hashed (it holds a NUL byte, or the system's crypt library has no yescrypt)";
    return false;
  }
  user.PasswordHash = std::move(*hash);
  user.Password.clear();
  return true;
}

bool CFTPUsers::pAddUser(std::string_view vsUserID, std::string_view vsPassword,
                         std::string_view vsDefaultDirectory, bool vbAllowConcurrentLogons,
                         bool vbLimitToDefaultDirectory, bool vbReadAccess, bool vbWriteAccess,
                         bool vbLogAccess, bool vbUseVirtualPaths) {
  // An empty id would end the list when the file is read back, and a line
  // break or a closing "]" would end the section: all would lose accounts.
  lastError_.clear();
  if (vsUserID.empty()) {
    lastError_ = "An account needs a user id";
    return false;
  }
  if (pExists(vsUserID)) {
    lastError_ = "The account \"" + RemoveLineBreaks(vsUserID) + "\" exists already";
    return false;
  }

  auto user = std::make_unique<CFTPUser>();
  user->UserID = std::string(vsUserID);
  if (!SetPassword(*user, vsPassword)) return false;
  user->DefaultDirectory = std::string(vsDefaultDirectory);
  user->AllowConcurrentLogons = vbAllowConcurrentLogons;
  user->LimitToDefaultDirectory = vbLimitToDefaultDirectory;
  user->ReadAccess = vbReadAccess;
  user->WriteAccess = vbWriteAccess;
  user->LogAccess = vbLogAccess;
  user->UseVirtualPaths = vbUseVirtualPaths;
  if (Refuse(*user)) return false;
  byId_.emplace(LowerId(user->UserID), user.get());
  users_.push_back(std::move(user));
  if (fileInStep_) {
    WriteSection(Count(), *users_.back());
  } else {
    // The new account's section number may be where another account's
    // section lies (a duplicate was skipped at load, or an account removed
    // from memory only): writing just that section would overwrite it.
    WriteAllSections();
  }
  Save();
  return true;
}

bool CFTPUsers::pExists(std::string_view vsItemKey) const { return Find(vsItemKey) != nullptr; }

void CFTPUsers::pDeleteByIndex(std::int32_t vnIndex) {
  if (vnIndex < 1 || vnIndex > Count()) {
    throw UnknownUserError("no account at position " + std::to_string(vnIndex));
  }
  users_.erase(users_.begin() + (vnIndex - 1));
  Reindex();
  fileInStep_ = false;
}

bool CFTPUsers::pDeleteByKey(std::string_view vsKey) { return pDeleteByKeys({std::string(vsKey)}); }

bool CFTPUsers::pDeleteByKeys(const std::vector<std::string>& keys) {
  // Each key removes the first account it names.
  std::vector<const CFTPUser*> gone;
  for (const auto& key : keys) {
    const auto found = std::find_if(users_.begin(), users_.end(),
                                    [&](const auto& user) { return SameUserID(user->UserID, key); });
    if (found != users_.end()) gone.push_back(found->get());
  }
  if (gone.empty()) return false;
  const auto goes = [&](const CFTPUser& user) { return std::find(gone.begin(), gone.end(), &user) != gone.end(); };
  // Refused before anything changes: sections emptied in memory for a save
  // that is then refused would reach the disk with the next add.
  lastError_.clear();
  for (const auto& user : users_) {
    if (!goes(*user) && Refuse(*user)) return false;
  }
  std::vector<std::string> sections;
  for (std::int32_t n = 1; n <= Count(); ++n) sections.push_back(Section(n));
  file_.DeleteSections(sections);
  std::erase_if(users_, [&](const auto& user) { return goes(*user); });
  // The emptied sections and the renumbered accounts reach the disk in one
  // write, so the file never holds fewer accounts than memory.
  return WriteAllAndSave();
}

bool CFTPUsers::pUpdateUsers() {
  lastError_.clear();
  for (const auto& user : users_) {
    if (Refuse(*user)) return false;
  }
  return WriteAllAndSave();
}

bool CFTPUsers::WriteAllAndSave() {
  // The editor changes records in place, ids included.
  Reindex();
  WriteAllSections();
  return Save();
}

std::int32_t CFTPUsers::Count() const { return static_cast<std::int32_t>(users_.size()); }

const CFTPUser* CFTPUsers::Find(std::string_view key) const {
  const auto it = byId_.find(LowerId(key));
  if (it != byId_.end() && SameUserID(it->second->UserID, key)) return it->second;
  // An id the editor changed in place is not indexed until the update.
  for (const auto& user : users_) {
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
  return *users_[static_cast<std::size_t>(vnKey - 1)];
}

CFTPUser& CFTPUsers::ItemByIndex(std::int32_t vnKey) {
  return const_cast<CFTPUser&>(std::as_const(*this).ItemByIndex(vnKey));
}

}  // namespace velto
