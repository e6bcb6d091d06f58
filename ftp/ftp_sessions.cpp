#include "ftp/ftp_sessions.h"

#include "server/globals.h"
#include "server/log/log_lines.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace velto {

namespace {
bool SameIdIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}
}  // namespace

CFTPSessions::CFTPSessions(MGlobal& globals, platform::EventLoop& loop) : globals_(globals), loop_(loop) {
  reaper_ = loop_.CreateTarget([this](const platform::Message&) { retired_.clear(); });
}

CFTPSessions::~CFTPSessions() {
  if (timer_ != 0) loop_.KillTimer(timer_);
  loop_.DestroyTarget(reaper_);
}

void CFTPSessions::pAddFTPSession(const std::string& SocketHandle, const std::string& vsDefaultDirectory) {
  if (pExists(SocketHandle)) throw std::invalid_argument("Key is already associated with an element of this collection");
  auto session = std::make_unique<CFTPSession>(globals_);
  session->HwndMain = HwndMain;
  session->SetSocketHandle(SocketHandle);
  session->SetDefaultDirectory(vsDefaultDirectory);
  sessions_.emplace_back(SocketHandle, std::move(session));
  ArmTimer();
}

void CFTPSessions::ArmTimer() {
  if (Timeout >= 1 && timer_ == 0) {
    timerPeriod_ = static_cast<std::uint32_t>(std::min(Timeout, 60000));
    timer_ = loop_.SetTimer(timerPeriod_, [this](platform::TimerId) { IdleSweep(); });
  } else if (Timeout < 1 && timer_ != 0) {
    loop_.KillTimer(timer_);
    timer_ = 0;
    timerPeriod_ = 0;
  }
}

void CFTPSessions::IdleSweep() {
  // Closing a connection only starts its termination; the session leaves
  // the table on the later termination event, so the walk stays valid.
  std::vector<std::int32_t> idle;
  for (auto& [key, session] : sessions_) {
    if (session->IdleMilliseconds() >= static_cast<double>(Timeout)) idle.push_back(session->ControlHandle());
  }
  for (std::int32_t handle : idle) {
    globals_.Feed(TimeStampText("Session timed out, disconnected user..."));
    globals_.CloseSocket(handle, true);
  }
}

std::int32_t CFTPSessions::pnGetUserCount(const std::string& vsUserID) const {
  std::int32_t n = 0;
  for (const auto& [key, session] : sessions_) {
    if (session->LoggedOn && SameIdIgnoringCase(session->UserID, vsUserID)) ++n;
  }
  return n;
}

bool CFTPSessions::pExists(const std::string& vsItemKey) const {
  return std::any_of(sessions_.begin(), sessions_.end(),
                     [&](const auto& e) { return e.second->SocketHandle() == vsItemKey; });
}

bool CFTPSessions::pExistsBySocketHandleData(const std::string& SocketHandleData) const {
  std::int32_t value = 0;
  try {
    value = std::stoi(SocketHandleData);
  } catch (const std::exception&) {
    return false;
  }
  return std::any_of(sessions_.begin(), sessions_.end(),
                     [&](const auto& e) { return e.second->SocketHandleData == value; });
}

void CFTPSessions::pDeleteByIndex(std::int32_t vnIndex) {
  if (vnIndex < 1 || vnIndex > Count()) throw std::out_of_range("Subscript out of range");
  if (retired_.empty()) loop_.Post(reaper_, 1, 0, 0);
  retired_.push_back(std::move(sessions_[static_cast<std::size_t>(vnIndex - 1)].second));
  sessions_.erase(sessions_.begin() + (vnIndex - 1));
}

void CFTPSessions::pDeleteByKey(const std::string& vsKey) {
  auto it = std::find_if(sessions_.begin(), sessions_.end(), [&](const auto& e) { return e.first == vsKey; });
  if (it == sessions_.end()) throw std::out_of_range("Invalid procedure call or argument");
  if (retired_.empty()) loop_.Post(reaper_, 1, 0, 0);
  retired_.push_back(std::move(it->second));
  sessions_.erase(it);
}

CFTPSession& CFTPSessions::ItemByKey(const std::string& vsKey) {
  auto it = std::find_if(sessions_.begin(), sessions_.end(), [&](const auto& e) { return e.first == vsKey; });
  if (it == sessions_.end()) throw std::out_of_range("Invalid procedure call or argument");
  return *it->second;
}

CFTPSession* CFTPSessions::ItemBySocketHandleData(std::int32_t SocketHandleData) {
  for (auto& [key, session] : sessions_) {
    if (session->SocketHandleData == SocketHandleData) return session.get();
  }
  return nullptr;
}

CFTPSession* CFTPSessions::ItemByPendingConnect(std::int32_t handle) {
  if (handle <= 0) return nullptr;
  for (auto& [key, session] : sessions_) {
    if (session->PendingConnect() == handle) return session.get();
  }
  return nullptr;
}

CFTPSession& CFTPSessions::ItemByIndex(std::int32_t vnKey) {
  if (vnKey < 1 || vnKey > Count()) throw std::out_of_range("Subscript out of range");
  return *sessions_[static_cast<std::size_t>(vnKey - 1)].second;
}

}  // namespace velto
