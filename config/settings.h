// Every key of Velto.ini in one table: section, key text, type and default.
// Reading and writing settings goes through this table so a key's spelling
// and default exist in exactly one place.
#pragma once

#include "config/ini.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

enum class Setting {
  SupportOnlineURL,
  ShowCreateNTUserList,
  HideSplashScreen,
  ChunkSize,
  ProcessingIntervalToSend,
  ProcessingIntervalReceive,
  UseBuffersToSend,
  UseBuffersToReceive,
  HideIcon,
  ViewRealTime,
  StartMinimized,
  FTPActive,
  FTPPort,
  FTPBindToIP,
  MaxUsers,
  MaxLogonAttempts,
  BannerWelcome,
  BannerExit,
  BannerMaxUsers,
  AllowAnonymousLogons,
  UseNTAuthentication,
  Timeout,
  // Beyond the classic keys: limits on guessing and on idle strangers.
  FailedLogonDelay,
  BanFailedLogons,
  BanTime,
  LogonTimeout,
  MaxConnectionsPerIP,
  // Uploads written under a temporary name and renamed over the target
  // once complete.
  AtomicUploads,
  // New passwords kept as one-way hashes in Velto.usr.
  HashPasswords,
  // FTPS: the server's certificate (chain) and key, PEM files; TLS is on
  // when both load.
  TLSCertificateFile,
  TLSKeyFile,
  // Log-on (USER/PASS) only over an encrypted control connection.
  TLSRequiredForLogon,
  // Data connections only under PROT P.
  TLSRequiredForData,
  // A protected data connection must resume its control connection's TLS
  // session (off for clients that cannot).
  TLSSessionReuse,
  // The implicit-TLS listener's port; 0 = none.
  ImplicitTLSPort,
  // The xferlog-style transfer log; empty = none.
  TransferLogFile,
  // A second FTP listener for IPv6 clients: empty = none, "-1" or "::" =
  // every IPv6 address, otherwise one IPv6 address.
  FTPBindToIPv6,
  // The ports passive listeners take (both 0 = any free port), for a
  // firewall or a router that forwards only those.
  PassivePortMin,
  PassivePortMax,
  // The address PASV announces to clients outside the local networks (an
  // IPv4 address or a name resolved at start and on SIGHUP); empty = the
  // address the client reached.
  PassiveAddress,
};

inline constexpr std::size_t kSettingCount = static_cast<std::size_t>(Setting::PassiveAddress) + 1;

enum class SettingType { Bool, Int16, Int32, Text };

inline constexpr std::string_view kSectionSettings = "Settings";
inline constexpr std::string_view kSectionFTPSettings = "FTP Settings";

struct SettingInfo {
  Setting setting;
  std::string_view section;
  std::string_view key;
  SettingType type;
  std::string_view defaultText;
};

// The table, in the order of the enum (entry i describes Setting i).
const std::array<SettingInfo, kSettingCount>& AllSettings();
const SettingInfo& DescribeSetting(Setting setting);

// The keys the program writes when it ends, in the order it writes them,
// before saving the file once.
inline constexpr std::array<Setting, 15> kUnloadSettings = {
    Setting::ProcessingIntervalToSend,
    Setting::ProcessingIntervalReceive,
    Setting::UseBuffersToReceive,
    Setting::UseBuffersToSend,
    Setting::ViewRealTime,
    Setting::FTPPort,
    Setting::MaxUsers,
    Setting::MaxLogonAttempts,
    Setting::BannerWelcome,
    Setting::BannerExit,
    Setting::BannerMaxUsers,
    Setting::AllowAnonymousLogons,
    Setting::UseNTAuthentication,
    Setting::Timeout,
    Setting::FTPBindToIP,
};

// Text conversions shared by everything that reads settings-like values.
//
// Numbers are read leniently, in the manner of a classic BASIC conversion:
//   - surrounding white space (blank, tab, CR, LF, VT, FF) is ignored;
//   - an optional "+" or "-" sign, then decimal digits with an optional
//     fractional part ("12", "-7", "+3", "2.5", ".5", "3.");
//   - a fraction rounds to the nearest integer, halves to even
//     ("2.5" -> 2, "3.5" -> 4, "-2.5" -> -2);
//   - anything else makes the text unconvertible: trailing or embedded
//     characters ("12abc", "1 2", "1,024"), hexadecimal, exponents, an empty
//     or blank text, and a result outside the target's range.
std::optional<std::int32_t> ParseInt32(std::string_view text);
std::optional<std::int16_t> ParseInt16(std::string_view text);
// "True" or "False" in any letter case (surrounding white space ignored), or
// a number in the syntax above of any size: zero is false, anything else
// true ("0.4" is true: only a value that is exactly zero is false).
std::optional<bool> ParseBool(std::string_view text);

// "True" / "False", the form the program writes.
std::string BoolText(bool value);

// The key's value, or the table default when the file lacks it.
std::string ReadSettingText(const CIni& ini, Setting setting);

// Converts the value read (with the table default). When the text cannot be
// converted, `target` keeps its value and the result is false.
bool ReadSetting(const CIni& ini, Setting setting, bool& target);
bool ReadSetting(const CIni& ini, Setting setting, std::int16_t& target);
bool ReadSetting(const CIni& ini, Setting setting, std::int32_t& target);

// Writes the key in its section; saves the whole file when asked.
void WriteSetting(CIni& ini, Setting setting, std::string_view text, bool writeToDisk = false);
