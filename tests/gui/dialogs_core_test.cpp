// The dialogs against the whole server core: what they store comes back at
// the next start, and what they change reaches clients while it serves.
#include "gui/ftp_options_dialog.h"
#include "gui/loop_bridge.h"
#include "gui/settings_dialog.h"
#include "users/ftp_users.h"

#include "gui_test_support.h"
#include "server_core.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velto {
namespace {

using test::ProgramFolder;
using test::ServerCore;

TEST(Dialogs, WhatTheyStoreReloadsIdenticallyAtTheNextStart) {
  ProgramFolder folder;
  const std::vector<Setting> options = {Setting::MaxUsers, Setting::MaxLogonAttempts, Setting::BannerWelcome,
                                        Setting::Timeout,  Setting::FTPBindToIP,      Setting::LogonTimeout,
                                        Setting::ChunkSize, Setting::UseBuffersToSend, Setting::ProcessingIntervalReceive,
                                        Setting::StartMinimized, Setting::HideIcon};
  std::vector<std::string> stored;
  std::string loopbackIndex;
  CFTPUser dave;
  {
    ServerCore core(folder);
    loopbackIndex = std::to_string(core.facade.LocalAddresses().size() - 1);
    FFTPOptions ftp(core.facade);
    ftp.OptionBox(Setting::MaxUsers)->setText("7");
    ftp.OptionBox(Setting::MaxLogonAttempts)->setText("5");
    ftp.OptionBox(Setting::BannerWelcome)->setText("Welcome aboard [test]!");
    ftp.OptionBox(Setting::Timeout)->setText("90000");
    ftp.OptionBox(Setting::LogonTimeout)->setText("30000");
    ftp.BindBox()->setCurrentIndex(ftp.BindBox()->count() - 1);
    ftp.AddButton()->click();
    ftp.UserIdBox()->setText("dave");
    ftp.PasswordBox()->setText("p=w;d 1%");
    ftp.DefaultDirBox()->setText(QString::fromStdString(folder.Path()));
    ftp.RightBox(FFTPOptions::kLogAccess)->setChecked(true);
    ftp.RightBox(FFTPOptions::kWriteAccess)->setChecked(false);
    ftp.UpdateButton()->click();
    ftp.OkButton()->click();

    FSettings settings(core.facade);
    settings.PacketSizeBox()->setText("4096");
    settings.UseBuffersToSendBox()->click();
    settings.UseBuffersToReceiveBox()->click();
    settings.IntervalReceiveBox()->setText("120");
    settings.StartMinimizedBox()->setChecked(true);
    test::MessageRecorder warning;
    settings.HideIconBox()->setChecked(true);
    settings.OkButton()->click();

    for (Setting setting : options) stored.push_back(core.facade.SettingText(setting));
    dave = core.facade.Users().ItemByKey("dave");
  }
  EXPECT_EQ(stored[0], "7");
  EXPECT_EQ(stored[4], loopbackIndex);

  ServerCore next(folder);
  for (std::size_t i = 0; i < options.size(); ++i) {
    EXPECT_EQ(next.facade.SettingText(options[i]), stored[i]) << DescribeSetting(options[i]).key;
  }
  ASSERT_TRUE(next.facade.Users().pExists("dave"));
  const CFTPUser& reloaded = next.facade.Users().ItemByKey("dave");
  EXPECT_EQ(reloaded.Password, dave.Password);
  EXPECT_EQ(reloaded.DefaultDirectory, dave.DefaultDirectory);
  EXPECT_TRUE(reloaded.LogAccess);
  EXPECT_FALSE(reloaded.WriteAccess);
}

// A control connection read without blocking, so Qt's loop (and through
// it the server's) keeps running while the test waits for a reply.
class Client {
 public:
  explicit Client(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }
  ~Client() { ::close(fd_); }
  std::string Reply() {
    const bool answered = QTest::qWaitFor(
        [this] {
          char chunk[512];
          const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
          if (n > 0) buffer_.append(chunk, static_cast<std::size_t>(n));
          return buffer_.find("\r\n") != std::string::npos || n == 0;
        },
        10000);
    EXPECT_TRUE(answered) << "no reply within ten seconds";
    const std::size_t end = buffer_.find("\r\n");
    std::string line = buffer_.substr(0, end);
    buffer_.erase(0, end == std::string::npos ? std::string::npos : end + 2);
    return line;
  }
  std::string Ask(const std::string& command) {
    const std::string line = command + "\r\n";
    EXPECT_EQ(::send(fd_, line.data(), line.size(), MSG_NOSIGNAL), static_cast<ssize_t>(line.size()));
    return Reply();
  }

 private:
  int fd_;
  std::string buffer_;
};

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

TEST(Dialogs, AccountsAndOptionsReachClientsWhileTheServerServes) {
  ProgramFolder folder;
  ServerCore core(folder);
  LoopBridge bridge(platform::EventLoop::Instance());
  const int port = FreePort();
  core.facade.SetSetting(Setting::FTPPort, std::to_string(port));
  core.facade.SetSetting(Setting::FTPBindToIP, std::to_string(core.facade.LocalAddresses().size() - 1));
  ASSERT_TRUE(core.facade.ActivateFTP());

  Client first(port);
  EXPECT_EQ(first.Reply().substr(0, 4), "220 ");
  FFTPOptions dialog(core.facade);
  dialog.show();
  dialog.AddButton()->click();
  dialog.UserIdBox()->setText("erin");
  dialog.PasswordBox()->setText("s3cret");
  dialog.DefaultDirBox()->setText(QString::fromStdString(folder.Path()));
  dialog.RightBox(FFTPOptions::kConcurrentLogons)->setChecked(true);
  dialog.UpdateButton()->click();
  EXPECT_EQ(first.Ask("USER erin"), "331 OK need password.");
  EXPECT_EQ(first.Ask("PASS s3cret").substr(0, 4), "230 ") << "the new account serves at once";

  dialog.OptionBox(Setting::BannerWelcome)->setText("Hello from the dialog");
  dialog.OkButton()->click();
  Client second(port);
  second.Reply();
  second.Ask("USER erin");
  EXPECT_EQ(second.Ask("PASS s3cret"), "230 Hello from the dialog");
  EXPECT_EQ(first.Ask("NOOP"), "200 OK") << "the first client was served throughout";
  core.facade.ActivateFTP();
}

}  // namespace
}  // namespace velto
