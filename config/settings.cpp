#include "config/settings.h"

#include <limits>

namespace {

using enum SettingType;

constexpr std::array<SettingInfo, kSettingCount> kSettings = {{
    {Setting::SupportOnlineURL, kSectionSettings, "SupportOnlineURL", Text,
     "https://velto.example.org/support"},
    {Setting::ShowCreateNTUserList, kSectionSettings, "ShowCreateNTUserList", Bool, "False"},
    {Setting::HideSplashScreen, kSectionSettings, "HideSplashScreen", Bool, "False"},
    {Setting::ChunkSize, kSectionSettings, "ChunkSize", Int32, "512"},
    {Setting::ProcessingIntervalToSend, kSectionSettings, "ProcessingIntervalToSend", Int16, "50"},
    {Setting::ProcessingIntervalReceive, kSectionSettings, "ProcessingIntervalReceive", Int16, "50"},
    {Setting::UseBuffersToSend, kSectionSettings, "UseBuffersToSend", Bool, "False"},
    {Setting::UseBuffersToReceive, kSectionSettings, "UseBuffersToReceive", Bool, "False"},
    {Setting::HideIcon, kSectionSettings, "HideIcon", Bool, "False"},
    {Setting::ViewRealTime, kSectionSettings, "ViewRealTime", Bool, "False"},
    {Setting::StartMinimized, kSectionSettings, "StartMinimized", Bool, "False"},
    {Setting::FTPActive, kSectionFTPSettings, "FTPActive", Bool, "True"},
    {Setting::FTPPort, kSectionFTPSettings, "FTPPort", Int32, "21"},
    {Setting::FTPBindToIP, kSectionFTPSettings, "FTPBindToIP", Int32, "0"},
    {Setting::MaxUsers, kSectionFTPSettings, "MaxUsers", Int32, "10"},
    // Kept as text by the session table and converted where it is used.
    {Setting::MaxLogonAttempts, kSectionFTPSettings, "MaxLogonAttempts", Text, "3"},
    {Setting::BannerWelcome, kSectionFTPSettings, "BannerWelcome", Text, ""},
    {Setting::BannerExit, kSectionFTPSettings, "BannerExit", Text, "Goodbye."},
    {Setting::BannerMaxUsers, kSectionFTPSettings, "BannerMaxUsers", Text,
     "Maximum connections reached."},
    {Setting::AllowAnonymousLogons, kSectionFTPSettings, "AllowAnonymousLogons", Bool, "False"},
    {Setting::UseNTAuthentication, kSectionFTPSettings, "UseNTAuthentication", Bool, "False"},
    {Setting::Timeout, kSectionFTPSettings, "Timeout", Int32, "600000"},
    {Setting::FailedLogonDelay, kSectionFTPSettings, "FailedLogonDelay", Int32, "1000"},
    {Setting::BanFailedLogons, kSectionFTPSettings, "BanFailedLogons", Int32, "0"},
    {Setting::BanTime, kSectionFTPSettings, "BanTime", Int32, "600000"},
    {Setting::LogonTimeout, kSectionFTPSettings, "LogonTimeout", Int32, "60000"},
    {Setting::MaxConnectionsPerIP, kSectionFTPSettings, "MaxConnectionsPerIP", Int32, "0"},
    {Setting::AtomicUploads, kSectionFTPSettings, "AtomicUploads", Bool, "False"},
    {Setting::HashPasswords, kSectionFTPSettings, "HashPasswords", Bool, "False"},
    {Setting::TLSCertificateFile, kSectionFTPSettings, "TLSCertificateFile", Text, ""},
    {Setting::TLSKeyFile, kSectionFTPSettings, "TLSKeyFile", Text, ""},
    {Setting::TLSRequiredForLogon, kSectionFTPSettings, "TLSRequiredForLogon", Bool, "False"},
    {Setting::TLSRequiredForData, kSectionFTPSettings, "TLSRequiredForData", Bool, "False"},
    {Setting::TLSSessionReuse, kSectionFTPSettings, "TLSSessionReuse", Bool, "True"},
    {Setting::ImplicitTLSPort, kSectionFTPSettings, "ImplicitTLSPort", Int32, "0"},
    {Setting::TransferLogFile, kSectionFTPSettings, "TransferLogFile", Text, ""},
    {Setting::FTPBindToIPv6, kSectionFTPSettings, "FTPBindToIPv6", Text, ""},
    {Setting::PassivePortMin, kSectionFTPSettings, "PassivePortMin", Int32, "0"},
    {Setting::PassivePortMax, kSectionFTPSettings, "PassivePortMax", Int32, "0"},
    {Setting::PassiveAddress, kSectionFTPSettings, "PassiveAddress", Text, ""},
}};

constexpr bool TableFollowsEnumOrder() {
  for (std::size_t i = 0; i < kSettings.size(); ++i) {
    if (static_cast<std::size_t>(kSettings[i].setting) != i) return false;
  }
  return true;
}
static_assert(TableFollowsEnumOrder(), "entry i of the settings table must describe Setting i");

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

bool EqualsIgnoreCase(std::string_view text, std::string_view lowerWord) {
  if (text.size() != lowerWord.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lowerWord[i]) return false;
  }
  return true;
}

// A decimal number as written: sign, whole digits, fraction digits.
struct DecimalText {
  bool negative = false;
  std::string_view whole;
  std::string_view fraction;
};

std::optional<DecimalText> ScanDecimal(std::string_view text) {
  text = Trim(text);
  DecimalText number;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    number.negative = text.front() == '-';
    text.remove_prefix(1);
  }
  std::size_t i = 0;
  while (i < text.size() && IsDigit(text[i])) ++i;
  number.whole = text.substr(0, i);
  text.remove_prefix(i);
  if (!text.empty() && text.front() == '.') {
    text.remove_prefix(1);
    i = 0;
    while (i < text.size() && IsDigit(text[i])) ++i;
    number.fraction = text.substr(0, i);
    text.remove_prefix(i);
  }
  if (!text.empty() || (number.whole.empty() && number.fraction.empty())) return std::nullopt;
  return number;
}

// Rounded to the nearest integer, halves to even; nothing when the value is
// far outside any 32-bit range.
std::optional<std::int64_t> RoundToInteger(const DecimalText& number) {
  constexpr std::int64_t kLimit = std::int64_t{1} << 40;
  std::int64_t value = 0;
  for (char c : number.whole) {
    value = value * 10 + (c - '0');
    if (value > kLimit) return std::nullopt;
  }
  if (!number.fraction.empty()) {
    const char first = number.fraction.front();
    bool roundUp = first > '5';
    if (first == '5') {
      const bool moreThanHalf =
          number.fraction.substr(1).find_first_not_of('0') != std::string_view::npos;
      roundUp = moreThanHalf || (value % 2 == 1);
    }
    if (roundUp) ++value;
  }
  return number.negative ? -value : value;
}

template <typename Int>
std::optional<Int> ParseInteger(std::string_view text) {
  const std::optional<DecimalText> number = ScanDecimal(text);
  if (!number) return std::nullopt;
  const std::optional<std::int64_t> value = RoundToInteger(*number);
  if (!value || *value < std::numeric_limits<Int>::min() || *value > std::numeric_limits<Int>::max()) {
    return std::nullopt;
  }
  return static_cast<Int>(*value);
}

template <typename T, typename Parse>
bool ReadConverted(const CIni& ini, Setting setting, T& target, Parse parse) {
  const std::optional<T> value = parse(ReadSettingText(ini, setting));
  if (!value) return false;
  target = *value;
  return true;
}

}  // namespace

const std::array<SettingInfo, kSettingCount>& AllSettings() { return kSettings; }

const SettingInfo& DescribeSetting(Setting setting) {
  return kSettings[static_cast<std::size_t>(setting)];
}

std::optional<std::int32_t> ParseInt32(std::string_view text) { return ParseInteger<std::int32_t>(text); }

std::optional<std::int16_t> ParseInt16(std::string_view text) { return ParseInteger<std::int16_t>(text); }

std::optional<bool> ParseBool(std::string_view text) {
  const std::string_view word = Trim(text);
  if (EqualsIgnoreCase(word, "true")) return true;
  if (EqualsIgnoreCase(word, "false")) return false;
  const std::optional<DecimalText> number = ScanDecimal(word);
  if (!number) return std::nullopt;
  const auto nonZero = [](std::string_view digits) {
    return digits.find_first_not_of('0') != std::string_view::npos;
  };
  return nonZero(number->whole) || nonZero(number->fraction);
}

std::string BoolText(bool value) { return value ? "True" : "False"; }

std::string ReadSettingText(const CIni& ini, Setting setting) {
  const SettingInfo& info = DescribeSetting(setting);
  return ini.GetValue(info.section, info.key, info.defaultText);
}

bool ReadSetting(const CIni& ini, Setting setting, bool& target) {
  return ReadConverted(ini, setting, target, ParseBool);
}

bool ReadSetting(const CIni& ini, Setting setting, std::int16_t& target) {
  return ReadConverted(ini, setting, target, ParseInt16);
}

bool ReadSetting(const CIni& ini, Setting setting, std::int32_t& target) {
  return ReadConverted(ini, setting, target, ParseInt32);
}

void WriteSetting(CIni& ini, Setting setting, std::string_view text, bool writeToDisk) {
  const SettingInfo& info = DescribeSetting(setting);
  ini.WriteValue(info.section, info.key, text, writeToDisk);
}
