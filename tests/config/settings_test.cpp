// The settings table and the conversions of settings text.
#include "config/settings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <utility>

namespace {

CIni WithText(std::string text) {
  CIni ini;
  ini.SetContents(std::move(text));
  return ini;
}

TEST(SettingsTable, EveryKeyHasOneEntryWithItsDefault) {
  std::set<std::pair<std::string_view, std::string_view>> seen;
  for (const SettingInfo& info : AllSettings()) {
    EXPECT_TRUE(seen.emplace(info.section, info.key).second) << info.key;
    EXPECT_TRUE(info.section == kSectionSettings || info.section == kSectionFTPSettings);
    EXPECT_EQ(&DescribeSetting(info.setting), &info);
    // A default must itself be a value of the setting's type.
    switch (info.type) {
      case SettingType::Bool: EXPECT_TRUE(ParseBool(info.defaultText)) << info.key; break;
      case SettingType::Int16: EXPECT_TRUE(ParseInt16(info.defaultText)) << info.key; break;
      case SettingType::Int32: EXPECT_TRUE(ParseInt32(info.defaultText)) << info.key; break;
      case SettingType::Text: break;
    }
  }

  const CIni none;  // no file: every read gives the default
  EXPECT_EQ(ReadSettingText(none, Setting::SupportOnlineURL), "https://velto.example.org/support");
  EXPECT_EQ(ReadSettingText(none, Setting::ChunkSize), "512");
  EXPECT_EQ(ReadSettingText(none, Setting::ProcessingIntervalToSend), "50");
  EXPECT_EQ(ReadSettingText(none, Setting::ProcessingIntervalReceive), "50");
  EXPECT_EQ(ReadSettingText(none, Setting::FTPActive), "True");
  EXPECT_EQ(ReadSettingText(none, Setting::FTPPort), "21");
  EXPECT_EQ(ReadSettingText(none, Setting::FTPBindToIP), "0");
  EXPECT_EQ(ReadSettingText(none, Setting::MaxUsers), "10");
  EXPECT_EQ(ReadSettingText(none, Setting::MaxLogonAttempts), "3");
  EXPECT_EQ(ReadSettingText(none, Setting::BannerWelcome), "");
  EXPECT_EQ(ReadSettingText(none, Setting::BannerExit), "Goodbye.");
  EXPECT_EQ(ReadSettingText(none, Setting::BannerMaxUsers), "Maximum connections reached.");
  EXPECT_EQ(ReadSettingText(none, Setting::Timeout), "600000");
  for (Setting flag : {Setting::ShowCreateNTUserList, Setting::HideSplashScreen, Setting::UseBuffersToSend,
                       Setting::UseBuffersToReceive, Setting::HideIcon, Setting::ViewRealTime,
                       Setting::StartMinimized, Setting::AllowAnonymousLogons, Setting::UseNTAuthentication}) {
    EXPECT_EQ(ReadSettingText(none, flag), "False");
  }
  // FTPS is off until a certificate is configured.
  EXPECT_EQ(ReadSettingText(none, Setting::TLSCertificateFile), "");
  EXPECT_EQ(ReadSettingText(none, Setting::TLSKeyFile), "");
  EXPECT_EQ(ReadSettingText(none, Setting::TLSRequiredForLogon), "False");
  EXPECT_EQ(ReadSettingText(none, Setting::TLSRequiredForData), "False");
  EXPECT_EQ(ReadSettingText(none, Setting::TLSSessionReuse), "True");
  EXPECT_EQ(ReadSettingText(none, Setting::ImplicitTLSPort), "0");
  const CIni tls = WithText(
      "[FTP Settings]\r\nTLSCertificateFile=/etc/velto/cert.pem\r\nTLSKeyFile=/etc/velto/key.pem\r\n"
      "TLSRequiredForLogon=true\r\nTLSRequiredForData=1\r\nTLSSessionReuse=False\r\nImplicitTLSPort=990\r\n");
  EXPECT_EQ(ReadSettingText(tls, Setting::TLSCertificateFile), "/etc/velto/cert.pem");
  EXPECT_EQ(ReadSettingText(tls, Setting::TLSKeyFile), "/etc/velto/key.pem");
  bool logon = false, data = false, reuse = true;
  std::int32_t implicitPort = 0;
  EXPECT_TRUE(ReadSetting(tls, Setting::TLSRequiredForLogon, logon) && logon);
  EXPECT_TRUE(ReadSetting(tls, Setting::TLSRequiredForData, data) && data);
  EXPECT_TRUE(ReadSetting(tls, Setting::TLSSessionReuse, reuse) && !reuse);
  EXPECT_TRUE(ReadSetting(tls, Setting::ImplicitTLSPort, implicitPort));
  EXPECT_EQ(implicitPort, 990);
  EXPECT_EQ(DescribeSetting(Setting::FTPPort).section, "FTP Settings");
  EXPECT_EQ(DescribeSetting(Setting::StartMinimized).section, "Settings");
}

TEST(SettingsTable, DefaultsOfAMissingFileGiveTheStockServer) {
  const CIni none;
  bool active = false, anonymous = true;
  std::int32_t port = 0, bindTo = -5, maxUsers = 0, timeout = 0, chunk = 0;
  std::int16_t sendInterval = 0;
  EXPECT_TRUE(ReadSetting(none, Setting::FTPActive, active));
  EXPECT_TRUE(ReadSetting(none, Setting::AllowAnonymousLogons, anonymous));
  EXPECT_TRUE(ReadSetting(none, Setting::FTPPort, port));
  EXPECT_TRUE(ReadSetting(none, Setting::FTPBindToIP, bindTo));
  EXPECT_TRUE(ReadSetting(none, Setting::MaxUsers, maxUsers));
  EXPECT_TRUE(ReadSetting(none, Setting::Timeout, timeout));
  EXPECT_TRUE(ReadSetting(none, Setting::ChunkSize, chunk));
  EXPECT_TRUE(ReadSetting(none, Setting::ProcessingIntervalToSend, sendInterval));
  EXPECT_TRUE(active);
  EXPECT_FALSE(anonymous);
  EXPECT_EQ(port, 21);
  EXPECT_EQ(bindTo, 0);
  EXPECT_EQ(maxUsers, 10);
  EXPECT_EQ(timeout, 600000);
  EXPECT_EQ(chunk, 512);
  EXPECT_EQ(sendInterval, 50);
}

TEST(SettingsTable, UnloadOrderIsFixed) {
  const Setting expected[] = {
      Setting::ProcessingIntervalToSend, Setting::ProcessingIntervalReceive, Setting::UseBuffersToReceive,
      Setting::UseBuffersToSend,         Setting::ViewRealTime,              Setting::FTPPort,
      Setting::MaxUsers,                 Setting::MaxLogonAttempts,          Setting::BannerWelcome,
      Setting::BannerExit,               Setting::BannerMaxUsers,            Setting::AllowAnonymousLogons,
      Setting::UseNTAuthentication,      Setting::Timeout,                   Setting::FTPBindToIP,
  };
  ASSERT_EQ(kUnloadSettings.size(), std::size(expected));
  for (std::size_t i = 0; i < kUnloadSettings.size(); ++i) EXPECT_EQ(kUnloadSettings[i], expected[i]) << i;
}

TEST(SettingsTable, WritingTheUnloadKeysToANewFileListsThemInReverse) {
  CIni ini;
  for (Setting setting : kUnloadSettings) WriteSetting(ini, setting, DescribeSetting(setting).defaultText);
  EXPECT_EQ(ini.Contents(),
            "\r\n[Settings]\r\nViewRealTime=False\r\nUseBuffersToSend=False\r\nUseBuffersToReceive=False\r\n"
            "ProcessingIntervalReceive=50\r\nProcessingIntervalToSend=50\r\n"
            "\r\n[FTP Settings]\r\nFTPBindToIP=0\r\nTimeout=600000\r\nUseNTAuthentication=False\r\n"
            "AllowAnonymousLogons=False\r\nBannerMaxUsers=Maximum connections reached.\r\n"
            "BannerExit=Goodbye.\r\nBannerWelcome=\r\nMaxLogonAttempts=3\r\nMaxUsers=10\r\nFTPPort=21\r\n");
}

TEST(SettingsParse, BooleanWordsAndNumbers) {
  EXPECT_EQ(ParseBool("True"), true);
  EXPECT_EQ(ParseBool("tRUE"), true);
  EXPECT_EQ(ParseBool("FALSE"), false);
  EXPECT_EQ(ParseBool(" false\t"), false);
  EXPECT_EQ(ParseBool("1"), true);
  EXPECT_EQ(ParseBool("0"), false);
  EXPECT_EQ(ParseBool("-1"), true);
  EXPECT_EQ(ParseBool("2"), true);
  EXPECT_EQ(ParseBool("000"), false);
  EXPECT_EQ(ParseBool("0.0"), false);
  EXPECT_EQ(ParseBool("0.4"), true);
  EXPECT_EQ(ParseBool("99999999999999999999999"), true);
  for (const char* bad : {"yes", "no", "", " ", "Tru", "True1", "1x", "on", "T", "+", "."}) {
    EXPECT_FALSE(ParseBool(bad).has_value()) << '"' << bad << '"';
  }
}

TEST(SettingsParse, IntegersAreLenientButComplete) {
  EXPECT_EQ(ParseInt32("21"), 21);
  EXPECT_EQ(ParseInt32(" 21 "), 21);
  EXPECT_EQ(ParseInt32("\t+21\r"), 21);
  EXPECT_EQ(ParseInt32("-1"), -1);
  EXPECT_EQ(ParseInt32("007"), 7);
  EXPECT_EQ(ParseInt32("2147483647"), 2147483647);
  EXPECT_EQ(ParseInt32("-2147483648"), INT32_MIN);
  // Fractions round to the nearest integer, halves to even.
  EXPECT_EQ(ParseInt32("2.5"), 2);
  EXPECT_EQ(ParseInt32("3.5"), 4);
  EXPECT_EQ(ParseInt32("2.51"), 3);
  EXPECT_EQ(ParseInt32("-2.5"), -2);
  EXPECT_EQ(ParseInt32(".5"), 0);
  EXPECT_EQ(ParseInt32("7."), 7);
  for (const char* bad : {"", "  ", "12abc", "abc", "1 2", "1,024", "0x10", "&H10", "1e3", "--1", "+",
                          "2147483648", "-2147483649", "2147483647.5", "99999999999999999999"}) {
    EXPECT_FALSE(ParseInt32(bad).has_value()) << '"' << bad << '"';
  }

  EXPECT_EQ(ParseInt16("32767"), 32767);
  EXPECT_EQ(ParseInt16("-32768"), -32768);
  EXPECT_EQ(ParseInt16("50"), 50);
  EXPECT_FALSE(ParseInt16("32768").has_value());
  EXPECT_FALSE(ParseInt16("-32769").has_value());
  EXPECT_FALSE(ParseInt16("65536").has_value());
}

TEST(SettingsRead, UnconvertibleValuesKeepTheInitialValue) {
  const CIni ini = WithText(
      "[Settings]\r\nHideIcon=yes\r\nViewRealTime=1\r\nStartMinimized=tRuE\r\nChunkSize=12abc\r\n"
      "ProcessingIntervalToSend=40000\r\nProcessingIntervalReceive= 75 \r\n"
      "[FTP Settings]\r\nFTPPort=\r\nMaxUsers=2147483648\r\nTimeout=1000\r\nFTPActive=0\r\n");
  bool hideIcon = true;
  EXPECT_FALSE(ReadSetting(ini, Setting::HideIcon, hideIcon));
  EXPECT_TRUE(hideIcon);
  bool viewRealTime = false, startMinimized = false, active = true;
  EXPECT_TRUE(ReadSetting(ini, Setting::ViewRealTime, viewRealTime));
  EXPECT_TRUE(viewRealTime);
  EXPECT_TRUE(ReadSetting(ini, Setting::StartMinimized, startMinimized));
  EXPECT_TRUE(startMinimized);
  EXPECT_TRUE(ReadSetting(ini, Setting::FTPActive, active));
  EXPECT_FALSE(active);

  std::int32_t chunk = 512, port = 21, maxUsers = 10, timeout = 0;
  EXPECT_FALSE(ReadSetting(ini, Setting::ChunkSize, chunk));
  EXPECT_EQ(chunk, 512);
  // Present but empty is not the default: it cannot be converted.
  EXPECT_FALSE(ReadSetting(ini, Setting::FTPPort, port));
  EXPECT_EQ(port, 21);
  EXPECT_FALSE(ReadSetting(ini, Setting::MaxUsers, maxUsers));
  EXPECT_EQ(maxUsers, 10);
  EXPECT_TRUE(ReadSetting(ini, Setting::Timeout, timeout));
  EXPECT_EQ(timeout, 1000);

  std::int16_t sendInterval = 50, receiveInterval = 0;
  EXPECT_FALSE(ReadSetting(ini, Setting::ProcessingIntervalToSend, sendInterval));
  EXPECT_EQ(sendInterval, 50);
  EXPECT_TRUE(ReadSetting(ini, Setting::ProcessingIntervalReceive, receiveInterval));
  EXPECT_EQ(receiveInterval, 75);
}

TEST(SettingsRead, EmptyBannerEqualsMissingBanner) {
  EXPECT_EQ(ReadSettingText(WithText("[FTP Settings]\r\nBannerWelcome=\r\n"), Setting::BannerWelcome),
            ReadSettingText(CIni(), Setting::BannerWelcome));
}

TEST(SettingsWrite, WritesIntoTheRightSection) {
  CIni ini = WithText("[Settings]\r\nChunkSize=512\r\n\r\n[FTP Settings]\r\nFTPPort=21\r\n");
  WriteSetting(ini, Setting::FTPActive, BoolText(false));
  WriteSetting(ini, Setting::ChunkSize, "4096");
  WriteSetting(ini, Setting::HideIcon, "1");
  EXPECT_EQ(ini.Contents(),
            "[Settings]\r\nHideIcon=1\r\nChunkSize=4096\r\n\r\n[FTP Settings]\r\nFTPActive=False\r\nFTPPort=21\r\n");
  bool active = true;
  EXPECT_TRUE(ReadSetting(ini, Setting::FTPActive, active));
  EXPECT_FALSE(active);
  EXPECT_EQ(BoolText(true), "True");
  EXPECT_EQ(BoolText(false), "False");
}

}  // namespace
