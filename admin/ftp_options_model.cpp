#include "admin/ftp_options_model.h"

#include "users/ftp_users.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace velto {

namespace {

constexpr std::array<FTPOptionsModel::OptionField, 7> kGlobalFields = {{
    {Setting::FTPPort, "FTP Port", "Port that application will listen on for incoming connections"},
    {Setting::MaxUsers, "Max. Users", "The maximum number of concurrent users"},
    {Setting::MaxLogonAttempts, "Max. Logon Attempts", "Maximum logon attempts before a user is disconnected"},
    {Setting::BannerWelcome, "Welcome Banner", "Welcome banner that displays when a user logs in"},
    {Setting::BannerExit, "Exit Banner", "Exit banner that displays when a user logs off"},
    {Setting::BannerMaxUsers, "Max. Users Banner",
     "Banner that displays when the maximum number of users has been reached"},
    {Setting::Timeout, "Timeout",
     "Number of milliseconds of inactivity that must elapse before a users connection is dropped"},
}};

constexpr std::array<FTPOptionsModel::OptionField, 5> kLimitFields = {{
    {Setting::FailedLogonDelay, "Failed Logon Delay",
     "Milliseconds before a wrong password is answered, times the failures so far (0: answer at once)"},
    {Setting::BanFailedLogons, "Ban After Failed Logons",
     "Failed logons from one address within the ban time that bar the address (0: never)"},
    {Setting::BanTime, "Ban Time", "Milliseconds in which those failures count, and how long the bar lasts"},
    {Setting::LogonTimeout, "Logon Timeout", "Milliseconds a connection may stay without logging on (0: no limit)"},
    {Setting::MaxConnectionsPerIP, "Max. Connections Per IP",
     "Connections one client address may hold at the same time (0: no limit)"},
}};

constexpr std::array<FTPOptionsModel::OptionField, 3> kTlsFields = {{
    {Setting::TLSCertificateFile, "Certificate File",
     "PEM file with the server's certificate and its chain; with the key file it turns FTPS on (read at start and "
     "on SIGHUP)"},
    {Setting::TLSKeyFile, "Private Key File", "PEM file with the certificate's private key"},
    {Setting::ImplicitTLSPort, "Implicit TLS Port",
     "Second port where the TLS handshake comes first (990 is usual; 0: none)"},
}};

// What the dialog lets through: no line break of any kind (a banner goes
// out in a reply line; an id or a folder with one is a mistake), and what
// the files themselves can hold.
bool Holdable(std::string_view text) {
  return text.find_first_of("\r\n") == std::string_view::npos && CFTPUsers::StorableValue(text);
}

std::string CannotHold(std::string_view field) {
  return "The " + std::string(field) + " cannot hold a line break or end with \"]\".";
}

}  // namespace

const std::array<FTPOptionsModel::OptionField, 7>& FTPOptionsModel::GlobalFields() { return kGlobalFields; }

const std::array<FTPOptionsModel::OptionField, 5>& FTPOptionsModel::LimitFields() { return kLimitFields; }

const std::array<FTPOptionsModel::OptionField, 3>& FTPOptionsModel::TlsFields() { return kTlsFields; }

FTPOptionsModel::FTPOptionsModel(ISettingStore& settings, CFTPUsers& users, std::vector<std::string> localAddresses,
                                 std::int32_t platformId, MessageSink message, BusySink busy)
    : settings_(settings), users_(users), message_(std::move(message)), busy_(std::move(busy)) {
  for (const auto& field : kGlobalFields) Text(field.setting) = settings_.SettingText(field.setting);
  for (const auto& field : kLimitFields) Text(field.setting) = settings_.SettingText(field.setting);
  for (const auto& field : kTlsFields) Text(field.setting) = settings_.SettingText(field.setting);
  TLSRequiredForLogon = ParseBool(settings_.SettingText(Setting::TLSRequiredForLogon)).value_or(false);
  TLSRequiredForData = ParseBool(settings_.SettingText(Setting::TLSRequiredForData)).value_or(false);
  TLSSessionReuse = ParseBool(settings_.SettingText(Setting::TLSSessionReuse)).value_or(true);
  AllowAnonymousLogons = ParseBool(settings_.SettingText(Setting::AllowAnonymousLogons)).value_or(false);
  nTAvailable_ = platformId >= 2;
  UseNTAuthentication =
      nTAvailable_ && ParseBool(settings_.SettingText(Setting::UseNTAuthentication)).value_or(false);

  for (std::int32_t i = 1; i <= users_.Count(); ++i) entries_.push_back(users_.ItemByIndex(i).UserID);
  selected_.assign(entries_.size(), false);

  bindList_.emplace_back(kAllIPs);
  for (auto& address : localAddresses) bindList_.push_back(std::move(address));
  // A negative number means all addresses. A number whose address is not
  // there now (an interface that is down) keeps an entry of its own, so OK
  // does not turn it into all addresses behind the administrator's back.
  const std::int32_t index = ParseInt32(settings_.SettingText(Setting::FTPBindToIP)).value_or(-1);
  const auto known = static_cast<std::int32_t>(bindList_.size()) - 1;
  if (index >= known) {
    keptBind_ = std::to_string(index);
    bindList_.push_back("Address #" + keptBind_ + " (not present)");
  }
  BindPosition = index < 0 ? 0 : std::min(index, known) + 1;
}

bool FTPOptionsModel::Ok() {
  const auto port = ParseInt32(Text(Setting::FTPPort));
  if (port && (*port < 1 || *port > 65535)) {
    Say("The FTP Port must be a number from 1 to 65535.");
    return false;
  }
  const auto implicitPort = ParseInt32(Text(Setting::ImplicitTLSPort));
  if (!implicitPort || *implicitPort < 0 || *implicitPort > 65535) {
    Say("The Implicit TLS Port must be a number from 0 (none) to 65535.");
    return false;
  }
  const auto storable = [this](const auto& fields) {
    for (const OptionField& field : fields) {
      if (!Holdable(Text(field.setting))) {
        Say(CannotHold(field.label));
        return false;
      }
    }
    return true;
  };
  if (!storable(kGlobalFields) || !storable(kLimitFields) || !storable(kTlsFields)) return false;

  for (const auto& field : kGlobalFields) settings_.SetSetting(field.setting, Text(field.setting));
  settings_.SetSetting(Setting::AllowAnonymousLogons, BoolText(AllowAnonymousLogons));
  settings_.SetSetting(Setting::UseNTAuthentication, BoolText(nTAvailable_ && UseNTAuthentication));
  const bool keptChosen = !keptBind_.empty() && BindPosition + 1 == static_cast<int>(bindList_.size());
  settings_.SetSetting(Setting::FTPBindToIP, keptChosen       ? keptBind_
                                             : BindPosition < 1 ? std::string("-1")
                                                                : std::to_string(BindPosition - 1));
  // The program writes only the classic keys when it ends, so a changed
  // limit is written now.
  for (const auto& field : kLimitFields) {
    const std::string before = settings_.SettingText(field.setting);
    if (settings_.SetSetting(field.setting, Text(field.setting))) {
      const std::string after = settings_.SettingText(field.setting);
      if (after != before) settings_.WriteSettingNow(field.setting, after);
    }
  }
  for (const auto& field : kTlsFields) WriteNow(field.setting, Text(field.setting));
  WriteNow(Setting::TLSRequiredForLogon, BoolText(TLSRequiredForLogon));
  WriteNow(Setting::TLSRequiredForData, BoolText(TLSRequiredForData));
  WriteNow(Setting::TLSSessionReuse, BoolText(TLSSessionReuse));
  return true;
}

// The TLS keys are checked above; those the running server reads only at
// start or on SIGHUP have no live value, so the text is written as typed.
void FTPOptionsModel::WriteNow(Setting setting, const std::string& text) {
  const std::string before = settings_.SettingText(setting);
  settings_.SetSetting(setting, text);
  if (text != before) settings_.WriteSettingNow(setting, text);
}

bool FTPOptionsModel::Selected(int index) const {
  return index >= 0 && index < static_cast<int>(selected_.size()) && selected_[static_cast<std::size_t>(index)];
}

int FTPOptionsModel::SelectedCount() const {
  return static_cast<int>(std::count(selected_.begin(), selected_.end(), true));
}

std::vector<int> FTPOptionsModel::SelectedIndexes() const {
  std::vector<int> indexes;
  for (std::size_t i = 0; i < selected_.size(); ++i) {
    if (selected_[i]) indexes.push_back(static_cast<int>(i));
  }
  return indexes;
}

FTPOptionsModel::Mode FTPOptionsModel::CurrentMode() const {
  const int count = SelectedCount();
  return count == 0 ? Mode::New : count == 1 ? Mode::Single : Mode::Multiple;
}

void FTPOptionsModel::ListClick(const std::vector<int>& selected, int current) {
  selected_.assign(entries_.size(), false);
  for (int index : selected) {
    if (index >= 0 && index < static_cast<int>(entries_.size())) selected_[static_cast<std::size_t>(index)] = true;
  }
  current_ = current >= 0 && current < static_cast<int>(entries_.size()) ? current : -1;
  if (current_ >= 0 && users_.pExists(entries_[static_cast<std::size_t>(current_)])) {
    const CFTPUser& user = users_.ItemByKey(entries_[static_cast<std::size_t>(current_)]);
    Form.userId = user.UserID;
    // The stored password stays out of the box; left empty it is kept.
    Form.password.clear();
    passwordEnabled_ = !SameUserID(user.UserID, kAnonymous);
    passwordKept_ = passwordEnabled_;
    Form.defaultDirectory = user.DefaultDirectory;
    Form.allowConcurrentLogons = user.AllowConcurrentLogons;
    Form.limitToDefaultDirectory = user.LimitToDefaultDirectory;
    Form.readAccess = user.ReadAccess;
    Form.writeAccess = user.WriteAccess;
    Form.logAccess = user.LogAccess;
    Form.useVirtualPaths = user.UseVirtualPaths;
    Form.requireTls = user.RequireTLS;
  }
  locked_ = SelectedCount() >= 2;
}

void FTPOptionsModel::Add() {
  selected_.assign(entries_.size(), false);
  current_ = -1;
  Form.userId.clear();
  Form.password.clear();
  Form.defaultDirectory.clear();
  passwordEnabled_ = true;
  passwordKept_ = false;
  Form.allowConcurrentLogons = false;
  Form.limitToDefaultDirectory = true;
  Form.readAccess = true;
  Form.writeAccess = true;
  Form.logAccess = false;
  Form.requireTls = false;
}

void FTPOptionsModel::Update() {
  const std::string& id = Form.userId;
  const bool anonymous = SameUserID(id, kAnonymous);
  const bool exists = users_.pExists(id);
  // A password box left as it was filled keeps the stored password of the
  // account being changed.
  const bool keepPassword = Form.password.empty() && passwordKept_ && exists;
  if (!anonymous && (id.empty() || (Form.password.empty() && !keepPassword))) {
    Say(std::string(kNeedIdAndPassword));
    return;
  }

  const std::vector<int> selected = SelectedIndexes();
  users_.HashNewPasswords = ParseBool(settings_.SettingText(Setting::HashPasswords)).value_or(false);
  if (!exists) {
    if (!CanStoreId() || !CanStoreDirectory()) return;
    if (!users_.pAddUser(id, Form.password, Form.defaultDirectory, Form.allowConcurrentLogons,
                         Form.limitToDefaultDirectory, Form.readAccess, Form.writeAccess, Form.logAccess,
                         Form.useVirtualPaths)) {
      Say(users_.LastError());
      return;
    }
    if (Form.requireTls) {
      users_.ItemByIndex(users_.Count()).RequireTLS = true;
      users_.pUpdateUsers();
    }
    if (!Saved()) return;
    entries_.push_back(users_.ItemByIndex(users_.Count()).UserID);
    ListClick({static_cast<int>(entries_.size()) - 1}, static_cast<int>(entries_.size()) - 1);
    return;
  }
  if (selected.empty()) {
    Say(std::string(kIdExists));
    return;
  }
  if (!CanStoreDirectory()) return;
  // A reload of the user file (SIGHUP) may have taken a listed account
  // away while the window was open.
  for (const int index : selected) {
    const std::string& entry = entries_[static_cast<std::size_t>(index)];
    if (!users_.pExists(entry)) {
      Say("The account \"" + entry + "\" is no longer in the user file.");
      return;
    }
  }
  if (selected.size() == 1) {
    // The selected account changes, whatever id the box holds.
    CFTPUser& user = users_.ItemByKey(entries_[static_cast<std::size_t>(selected.front())]);
    if (!keepPassword && !users_.SetPassword(user, Form.password)) {
      Say(users_.LastError());
      return;
    }
    CopyRights(user);
    if (!users_.pUpdateUsers() && !users_.LastError().empty()) {
      Say(users_.LastError());
      return;
    }
    Saved();
    return;
  }
  Busy(true);
  for (auto it = selected.rbegin(); it != selected.rend(); ++it) {
    CopyRights(users_.ItemByKey(entries_[static_cast<std::size_t>(*it)]));
  }
  users_.pUpdateUsers();  // one save for them all
  Busy(false);
  Saved();
}

void FTPOptionsModel::Remove() {
  const std::vector<int> selected = SelectedIndexes();
  if (!selected.empty()) {
    Busy(true);
    std::vector<std::string> keys;
    for (auto it = selected.rbegin(); it != selected.rend(); ++it) {
      keys.push_back(entries_[static_cast<std::size_t>(*it)]);
      entries_.erase(entries_.begin() + *it);
    }
    users_.pDeleteByKeys(keys);  // one rewrite for them all
    selected_.assign(entries_.size(), false);
    current_ = -1;
    Busy(false);
    Saved();
  }
  if (entries_.empty()) {
    locked_ = false;
    passwordEnabled_ = true;
  }
}

void FTPOptionsModel::CopyRights(CFTPUser& user) const {
  user.DefaultDirectory = Form.defaultDirectory;
  user.AllowConcurrentLogons = Form.allowConcurrentLogons;
  user.LimitToDefaultDirectory = Form.limitToDefaultDirectory;
  user.ReadAccess = Form.readAccess;
  user.WriteAccess = Form.writeAccess;
  user.LogAccess = Form.logAccess;
  user.UseVirtualPaths = Form.useVirtualPaths;
  user.RequireTLS = Form.requireTls;
}

bool FTPOptionsModel::CanStoreId() const {
  if (Holdable(Form.userId)) return true;
  Say(CannotHold("User ID"));
  return false;
}

// An account whose folder is missing cannot log on, so none is stored.
bool FTPOptionsModel::CanStoreDirectory() const {
  const std::string& dir = Form.defaultDirectory;
  if (!Holdable(dir)) {
    Say(CannotHold("Default Directory"));
    return false;
  }
  // The server's working folder is not the window's: only an absolute
  // path names the same folder for both.
  if (!dir.empty() && dir.front() != '/') {
    Say("The Default Directory \"" + dir + "\" is a relative path. Please choose a folder by its full path.");
    return false;
  }
  std::error_code error;
  if (dir.empty() || !std::filesystem::is_directory(dir, error)) {
    Say(dir.empty() ? std::string("Please choose a Default Directory.")
                    : "The Default Directory \"" + dir + "\" does not exist. Please choose a folder that exists.");
    return false;
  }
  return true;
}

bool FTPOptionsModel::Saved() const {
  if (users_.LastSaveSucceeded()) return true;
  Say("The accounts could not be saved to " + users_.DataFile() + ".");
  return false;
}

void FTPOptionsModel::Say(std::string text) const {
  if (message_ && !text.empty()) message_(DialogMessage{std::move(text), {}, false});
}

}  // namespace velto
