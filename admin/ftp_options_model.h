// The FTP options dialog without its widgets: the server-wide options and
// the account editor. It works on the live objects: account changes are
// stored by the user database as they are made, the global options reach
// the session table (and the listener's port and address, for its next
// start) only on OK. The view copies its boxes into the form before each
// action and shows the model's state after it.
#pragma once

#include "admin/setting_store.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velto {

class CFTPUser;
class CFTPUsers;

class FTPOptionsModel {
 public:
  // A text box of the global options.
  struct OptionField {
    Setting setting;
    std::string_view label;
    std::string_view tooltip;
  };
  // The classic options, then the limits on guessing and idle strangers.
  static const std::array<OptionField, 7>& GlobalFields();
  static const std::array<OptionField, 5>& LimitFields();
  // FTPS: the certificate and key files and the implicit-TLS port.
  static const std::array<OptionField, 3>& TlsFields();

  static constexpr std::string_view kAllIPs = "<All IPs>";
  static constexpr std::string_view kAnonymous = "ANONYMOUS";
  static constexpr std::string_view kNeedIdAndPassword = "Please enter a User ID and Password.";
  static constexpr std::string_view kIdExists =
      "Please enter a UserID that does not already exist, or select the existing ID to make changes to it.";

  // New: nothing selected (Update adds); Single: one account selected
  // (Update rewrites it); Multiple: several (Update sets their directory
  // and rights, never their passwords).
  enum class Mode { New, Single, Multiple };

  struct AccountForm {
    std::string userId;
    // What the administrator typed; the stored password is never shown.
    std::string password;
    std::string defaultDirectory;
    bool allowConcurrentLogons = false;
    bool limitToDefaultDirectory = true;
    bool readAccess = true;
    bool writeAccess = true;
    bool logAccess = false;
    bool useVirtualPaths = true;
    bool requireTls = false;
  };

  using MessageSink = std::function<void(const DialogMessage&)>;
  // Shows or ends the wait cursor around work on many accounts.
  using BusySink = std::function<void(bool)>;

  // Loads the form: `localAddresses` are the listener's address choices,
  // `platformId` 2 or more offers the system's account check.
  FTPOptionsModel(ISettingStore& settings, CFTPUsers& users, std::vector<std::string> localAddresses,
                  std::int32_t platformId, MessageSink message, BusySink busy = {});

  // ---- global options ----
  std::string& Text(Setting setting) { return texts_[Index(setting)]; }
  bool AllowAnonymousLogons = false;
  bool UseNTAuthentication = false;
  bool NTAuthenticationAvailable() const { return nTAvailable_; }
  bool TLSRequiredForLogon = false;
  bool TLSRequiredForData = false;
  bool TLSSessionReuse = true;
  // "<All IPs>" first, then the local addresses, then (when the stored
  // number names none of them) "Address #n (not present)", which OK writes
  // back as the stored number; BindPosition indexes it.
  const std::vector<std::string>& BindList() const { return bindList_; }
  int BindPosition = 0;

  // Applies the global options. False (nothing applied, a message shown)
  // when a value cannot be used: a port outside 1..65535 (0 too for the
  // implicit-TLS port, which it turns off, and that one must be a number)
  // or a text the
  // settings file cannot hold. A box that is not a number leaves only its
  // own setting unchanged.
  bool Ok();

  // ---- accounts ----
  const std::vector<std::string>& Entries() const { return entries_; }
  bool Selected(int index) const;
  int SelectedCount() const;
  int Current() const { return current_; }
  Mode CurrentMode() const;

  AccountForm Form;
  bool IdEditable() const { return !locked_; }
  bool PasswordEditable() const { return !locked_; }
  bool PasswordEnabled() const { return passwordEnabled_; }
  bool AddEnabled() const { return !locked_; }
  // The password box was filled from an account: left empty, Update keeps
  // the stored password.
  bool PasswordKept() const { return passwordKept_; }

  // The list's selection changed (or was set): `current` is the entry with
  // the focus, whose account the form shows.
  void ListClick(const std::vector<int>& selected, int current);
  void Add();
  void Update();
  void Remove();
  // The folder browser's answer ("" when it was cancelled).
  void DirectoryChosen(std::string path) { Form.defaultDirectory = std::move(path); }

 private:
  static std::size_t Index(Setting setting) { return static_cast<std::size_t>(setting); }
  void Say(std::string text) const;
  void Busy(bool on) const {
    if (busy_) busy_(on);
  }
  // Whether the form's id and directory can be stored; says why not.
  bool CanStoreId() const;
  bool CanStoreDirectory() const;
  // Applies and writes a TLS key (the program does not write them when it
  // ends) if it changed.
  void WriteNow(Setting setting, const std::string& text);
  void CopyRights(CFTPUser& user) const;
  bool Saved() const;
  std::vector<int> SelectedIndexes() const;

  ISettingStore& settings_;
  CFTPUsers& users_;
  MessageSink message_;
  BusySink busy_;
  std::array<std::string, kSettingCount> texts_{};
  bool nTAvailable_ = false;
  std::vector<std::string> bindList_;
  std::string keptBind_;  // the stored number the last entry stands for, if any

  std::vector<std::string> entries_;
  std::vector<bool> selected_;
  int current_ = -1;
  bool locked_ = false;
  bool passwordEnabled_ = true;
  bool passwordKept_ = false;
};

}  // namespace velto
