// A session host that records what the session asks for, and a fixture that
// runs one session of an account over a temporary tree with it: the FTP
// engine tested without a socket.
#pragma once

#include "ftp/directory.h"
#include "ftp/ftp_session.h"
#include "ftp/ftp_sessions.h"
#include "ftp/session_host.h"
#include "log/clog.h"
#include "platform/event_loop.h"
#include "users/ftp_users.h"

#include "temp_tree.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>

namespace velto::test {

class FakeHost final : public ISessionHost {
 public:
  // What the session did, in order: "reply:...", "open-passive", "close-data", ...
  std::string log;
  std::string replies;     // control text not yet taken
  std::string dataOut;     // bytes sent on the data connection
  bool backlogged = false;
  std::size_t backlogAbove = SIZE_MAX;  // untaken reply bytes that count as a backlog
  bool held = false;
  bool controlClosed = false;
  int passivePort = 40001;  // what OpenPassive returns
  bool connectWorks = true;
  std::string connectedTo;
  int sendsInFlight = 0;
  std::int64_t bytesSent = 0;
  // Set: each send is reported complete from inside SendData/SendFile, as
  // a host may do when the system takes all of it at once.
  std::function<void()> completeSendsAtOnce;

  void Send(std::string_view text) override {
    replies.append(text);
    log += "reply:" + std::string(text);
  }
  bool Backlogged() override { return backlogged || replies.size() > backlogAbove; }
  void HoldInput(bool hold) override { held = hold; }
  void CloseControl() override {
    controlClosed = true;
    log += "close-control\n";
  }
  int OpenPassive() override {
    log += "open-passive\n";
    return passivePort;
  }
  void ClosePassive() override { log += "close-passive\n"; }
  bool ConnectData(const std::string& address, int port) override {
    connectedTo = address + ":" + std::to_string(port);
    log += "connect " + connectedTo + "\n";
    return connectWorks;
  }
  bool SendFile(platform::UniqueFd file, std::int64_t offset, std::int64_t length) override {
    std::string bytes(static_cast<std::size_t>(length), '\0');
    if (::pread(file.get(), bytes.data(), bytes.size(), offset) != static_cast<ssize_t>(length)) return false;
    return SendData(std::move(bytes));
  }
  bool SendData(std::string bytes) override {
    dataOut += bytes;
    bytesSent += static_cast<std::int64_t>(bytes.size());
    ++sendsInFlight;
    log += "send " + std::to_string(bytes.size()) + "\n";
    if (completeSendsAtOnce) {
      --sendsInFlight;
      completeSendsAtOnce();
    }
    return true;
  }
  void CloseData() override { log += "close-data\n"; }
  std::int64_t DataBytesTaken() const override { return bytesSent; }
  bool tlsAvailable = false;
  bool TlsAvailable() const override { return tlsAvailable; }
  void StartControlTls(std::string_view reply) override {
    replies.append(reply);
    log += "reply:" + std::string(reply) + "start-tls\n";
  }
  void SetDataProtection(bool protect) override { log += protect ? "protect-data\n" : "clear-data\n"; }
  TimerId StartTimer(std::uint32_t ms, std::function<void()> callback) override {
    timers[++nextTimer] = {ms, std::move(callback)};
    return nextTimer;
  }
  void StopTimer(TimerId id) override { timers.erase(id); }

  // Runs the timers due first (the shortest), as the loop would.
  bool FireNextTimer() {
    if (timers.empty()) return false;
    auto next = timers.begin();
    for (auto it = timers.begin(); it != timers.end(); ++it) {
      if (it->second.first < next->second.first) next = it;
    }
    auto callback = std::move(next->second.second);
    timers.erase(next);
    callback();
    return true;
  }
  std::string TakeReplies() { return std::exchange(replies, {}); }

  std::map<TimerId, std::pair<std::uint32_t, std::function<void()>>> timers;
  TimerId nextTimer = 0;
};

struct Rights {
  bool limited = true;
  bool read = true;
  bool write = true;
  bool log = false;
  // Off: the physical paths are shown. On with `limited`: the home is "/".
  bool virtualPaths = false;
};

// One session of the account "bob" (home ftp/bob) with a fake host.
class SessionFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    tree.Dir("ftp/bob/sub/deeper");
    tree.Dir("ftp/bobby");
    tree.Dir("ftp/alice");
    tree.Dir("outside");
    tree.File("ftp/bob/file.txt");
    tree.File("ftp/bobby/secret.txt");
    tree.File("outside/secret.txt");
    users.SetDataFile(tree.Path("Velto.usr"));
    accessLog.SetLogFile(tree.Path("Access.log"));
    errorLog.SetLogFile(tree.Path("Errors.log"));
    sessions = std::make_unique<CFTPSessions>(loop, SessionServices{&users, &accessLog, &errorLog});
    sessions->FailedLogonDelay = 0;
    sessions->LogonTimeout = 0;
  }

  // `tls`: the host holds usable TLS credentials; `implicitTls`: reached
  // through the implicit-TLS listener. The addresses are `connection`'s.
  CFTPSession& NewSession(bool tls = false, bool implicitTls = false) {
    auto fake = std::make_unique<FakeHost>();
    host = fake.get();
    host->tlsAvailable = tls;
    ConnectionInfo info = connection;
    info.implicitTls = implicitTls;
    session = std::make_unique<CFTPSession>(*sessions, std::move(fake), info);
    return *session;
  }

  // A logged-on session of "bob".
  void LogOn(Rights rights) {
    ASSERT_TRUE(users.pAddUser("bob", "pw", tree.Path("ftp/bob"), true, rights.limited, rights.read, rights.write,
                               rights.log, rights.virtualPaths));
    NewSession();
    ASSERT_EQ(Cmd("USER bob"), "331 OK need password.\r\n");
    ASSERT_EQ(Cmd("PASS pw"), "230 \r\n");
  }

  std::string Cmd(const std::string& line) { return session->pSubmitCommand(line + "\r\n"); }
  // A command fed as the client's bytes: its reply and whatever else the
  // session sent meanwhile.
  std::string Say(const std::string& line) {
    session->OnControlData(line + "\r\n");
    return host->TakeReplies();
  }
  CFTPUser& Account() { return users.ItemByKey("bob"); }
  static std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  ConnectionInfo connection{"127.0.0.1", 50000, "127.0.0.1", 21, "127.0.0.1"};
  TempTree tree;
  platform::EventLoop loop;
  CFTPUsers users;
  CLog accessLog;
  CLog errorLog;
  std::unique_ptr<CFTPSessions> sessions;
  std::unique_ptr<CFTPSession> session;
  FakeHost* host = nullptr;  // owned by the session
};

}  // namespace velto::test
