// The FTP accounts and their file (Velto.usr): loading, the log-on check and
// writing every change back.
#pragma once

#include "config/ini.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace velto {

// One account; a plain record the editor changes in place before calling
// CFTPUsers::pUpdateUsers.
class CFTPUser {
 public:
  std::string UserID;            // compared ignoring letter case
  std::string Password;          // clear text in memory, encrypted in the file
  // A one-way hash ("$y$..."), kept under its own key: when set, the
  // password is checked against it and Password is empty. Change both
  // through CFTPUsers::SetPassword.
  std::string PasswordHash;
  std::string DefaultDirectory;
  bool AllowConcurrentLogons = false;
  bool LimitToDefaultDirectory = true;
  bool ReadAccess = true;
  bool WriteAccess = true;
  bool LogAccess = false;
  bool UseVirtualPaths = true;
  // Logs on only over an encrypted control connection (FTPS).
  bool RequireTLS = false;
};

// Thrown by ItemByKey / ItemByIndex / pDeleteByIndex for an account that is
// not there; callers test pExists (or Count) first.
class UnknownUserError : public std::out_of_range {
 public:
  using std::out_of_range::out_of_range;
};

// ASCII letters compare without case; other bytes must be equal.
bool SameUserID(std::string_view a, std::string_view b);

// The file's boolean words, also "1"/"0" and other numbers (0 is false);
// anything else reads as `fallback`.
bool TextToBool(std::string_view text, bool fallback);

class CFTPUsers {
 public:
  // The key the passwords of the user file are encrypted with.
  static constexpr std::string_view kPassPhrase = "Harbour Lantern Systems Ltd";

  // Runs pending window messages once (the saving loop calls it between
  // accounts so the windows stay responsive). Empty: nothing is pumped.
  using MessagePump = std::function<void()>;
  // The operating system's account check (user, password).
  using SystemLogonCheck = std::function<bool(const std::string&, const std::string&)>;
  // Whether the server allows anonymous log-ons (a session-table setting).
  using AnonymousSwitch = std::function<bool()>;

  // An account without "DefaultDirectory" has none, and cannot log on until
  // it gets one (it must never land in the program's own folder).
  explicit CFTPUsers(MessagePump pump = {});
  CFTPUsers(const CFTPUsers&) = delete;
  CFTPUsers& operator=(const CFTPUsers&) = delete;

  // Platform id (2 = the NT family, always so on this system) and service
  // flag, both set by the main window; ValidateUser uses them.
  std::int32_t WinVersion = 2;
  bool IsRunningAsService = false;

  // Whether passwords set from now on (pAddUser, SetPassword) are kept as
  // hashes; off, in the classic encrypted form every version reads. Set by
  // whoever changes passwords, from Velto.ini's HashPasswords.
  bool HashNewPasswords = false;

  void SetSystemLogonCheck(SystemLogonCheck check) { systemLogonCheck_ = std::move(check); }
  void SetAnonymousSwitch(AnonymousSwitch allowed) { anonymousAllowed_ = std::move(allowed); }

  // Stores the path, binds the file to it and loads its accounts in
  // addition to those already in memory. False when the file is there but
  // could not be read (errno says why): nothing is loaded.
  bool SetDataFile(const std::string& vsPathAndFileName);
  const std::string& DataFile() const { return dataFile_; }
  // Reads the file again and makes the accounts exactly what it holds. An
  // account the file still holds keeps its record (references to it stay
  // valid) and takes the file's values; the others are dropped. Order
  // follows the file. A file that is there but cannot be read changes
  // nothing and gives false (errno says why).
  bool Reload();

  // The credential check of the log-on. With the operating system's check
  // in force (UsesSystemLogon) this runs it on the calling thread; the
  // server asks it off the event loop instead.
  bool ValidateUser(std::string_view vsUserID, std::string_view vsPassword,
                    bool vbUseNTAuthentication = false) const;
  // Whether ValidateUser of this id would ask the operating system.
  bool UsesSystemLogon(std::string_view vsUserID, bool vbUseNTAuthentication) const;
  // The own-file part of the check (anonymous, then the stored password).
  bool ValidateStored(std::string_view vsUserID, std::string_view vsPassword) const;

  // The one password check of an own account: against its hash when it has
  // one, else against the stored password; in constant time either way.
  static bool PasswordMatches(const CFTPUser& user, std::string_view vsPassword);
  // The hash ValidateStored would compare a password of this id with ("" when
  // it would not use one), so that the slow comparison can run off the loop.
  std::string StoredHash(std::string_view vsUserID) const;
  // Gives the account a new password in the form HashNewPasswords chooses
  // (in memory; pUpdateUsers saves it). False when it cannot be hashed (a
  // NUL byte, or no yescrypt in the crypt library): nothing changes and
  // LastError says why.
  bool SetPassword(CFTPUser& user, std::string_view vsPassword);

  // Whether the file can hold the value: no CR LF, and not ending in "]"
  // (the store would end the section there and lose every later key). The
  // windows and the account tool refuse any line break before this.
  static bool StorableValue(std::string_view value);
  // Why the last add or update was refused ("" when it was not).
  const std::string& LastError() const { return lastError_; }

  // False when the id is taken (ignoring case), empty, a value the file
  // cannot hold (see StorableValue) or a password SetPassword refuses
  // (LastError says which); otherwise
  // appends the account and writes its section to disk.
  bool pAddUser(std::string_view vsUserID, std::string_view vsPassword, std::string_view vsDefaultDirectory,
                bool vbAllowConcurrentLogons, bool vbLimitToDefaultDirectory, bool vbReadAccess,
                bool vbWriteAccess, bool vbLogAccess, bool vbUseVirtualPaths);

  bool pExists(std::string_view vsItemKey) const;

  // Removes the account at the 1-based position from memory only.
  void pDeleteByIndex(std::int32_t vnIndex);

  // Removes the account and rewrites the file so it holds exactly the
  // remaining accounts, numbered from 1. An unknown key, or another account
  // holding a value the file cannot hold (LastError says which), changes
  // nothing and returns false; otherwise true when the file was saved.
  bool pDeleteByKey(std::string_view vsKey);
  // The same for several accounts in one rewrite: false when none of the
  // keys is known or another account is refused.
  bool pDeleteByKeys(const std::vector<std::string>& keys);

  // Writes every account to its section and saves the file once; true when
  // the file was saved. An account holding a value the file cannot hold
  // refuses the whole update (nothing is written; LastError says which).
  bool pUpdateUsers();

  // Whether the last write to disk (add, delete or update) succeeded.
  bool LastSaveSucceeded() const { return lastSaveSucceeded_; }

  std::int32_t Count() const;
  CFTPUser& ItemByKey(std::string_view vsKey);
  const CFTPUser& ItemByKey(std::string_view vsKey) const;
  CFTPUser& ItemByIndex(std::int32_t vnKey);
  const CFTPUser& ItemByIndex(std::int32_t vnKey) const;

 private:
  void Load();
  void WriteSection(std::int32_t number, const CFTPUser& user);
  void WriteAllSections();
  bool Save();
  // Renumbers, writes every section and saves (the accounts were checked).
  bool WriteAllAndSave();
  const CFTPUser* Find(std::string_view key) const;
  void Reindex();
  bool Refuse(const CFTPUser& user);

  MessagePump pump_;
  SystemLogonCheck systemLogonCheck_;
  AnonymousSwitch anonymousAllowed_;
  std::string dataFile_;
  CIni file_;
  std::vector<std::unique_ptr<CFTPUser>> users_;
  // Lower-case id -> account: a file may hold many thousands.
  std::unordered_map<std::string, CFTPUser*> byId_;
  std::string lastError_;
  bool lastSaveSucceeded_ = true;
  // Whether section n of the file holds account n for every n up to Count.
  bool fileInStep_ = true;
};

}  // namespace velto
