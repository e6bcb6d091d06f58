#include "ftp/ftp_sessions.h"

#include "ftp/replies.h"

#include "server/globals.h"
#include "log/log_lines.h"

#include <algorithm>
#include <stdexcept>

namespace velto {

CFTPSessions::CFTPSessions(MGlobal& globals, platform::EventLoop& loop) : globals_(globals), loop_(loop) {
  reaper_ = loop_.CreateTarget([this](const platform::Message&) { retired_.clear(); });
}

CFTPSessions::~CFTPSessions() {
  if (timer_ != 0) loop_.KillTimer(timer_);
  loop_.DestroyTarget(reaper_);
  for (auto& s : sessions_) s->AttachTable(nullptr);
  for (auto& s : retired_) s->AttachTable(nullptr);
}

void CFTPSessions::pAddFTPSession(const std::string& SocketHandle, const std::string& vsDefaultDirectory) {
  if (pExists(SocketHandle)) throw std::invalid_argument("Key is already associated with an element of this collection");
  auto session = std::make_unique<CFTPSession>(globals_);
  session->HwndMain = HwndMain;
  session->SetSocketHandle(SocketHandle);
  session->SetDefaultDirectory(vsDefaultDirectory);
  session->AttachTable(this);
  byKey_.emplace(SocketHandle, session.get());
  sessions_.push_back(std::move(session));
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
  for (auto& session : sessions_) {
    if (session->IdleMilliseconds() >= static_cast<double>(Timeout)) idle.push_back(session->ControlHandle());
  }
  for (std::int32_t handle : idle) {
    globals_.Feed(TimeStampText("Session timed out, disconnected user..."));
    globals_.CloseSocket(handle, true);
  }
}

void CFTPSessions::NoteLoggedOn(const std::string& lowerId, bool on) {
  if (on) {
    ++loggedOn_[lowerId];
    return;
  }
  auto it = loggedOn_.find(lowerId);
  if (it != loggedOn_.end() && --it->second <= 0) loggedOn_.erase(it);
}

void CFTPSessions::NoteDataHandle(CFTPSession* session, std::int32_t before, std::int32_t now) {
  if (before > 0) {
    auto it = byData_.find(before);
    if (it != byData_.end() && it->second == session) byData_.erase(it);
  }
  if (now > 0) byData_[now] = session;
}

void CFTPSessions::NotePendingConnect(CFTPSession* session, std::int32_t before, std::int32_t now) {
  if (before > 0) {
    auto it = byConnect_.find(before);
    if (it != byConnect_.end() && it->second == session) byConnect_.erase(it);
  }
  if (now > 0) byConnect_[now] = session;
}

std::int32_t CFTPSessions::pnGetUserCount(const std::string& vsUserID) const {
  auto it = loggedOn_.find(reply::LowerId(vsUserID));
  return it == loggedOn_.end() ? 0 : it->second;
}

bool CFTPSessions::pExists(const std::string& vsItemKey) const { return byKey_.count(vsItemKey) > 0; }

bool CFTPSessions::pExistsBySocketHandleData(const std::string& SocketHandleData) const {
  std::int32_t value = 0;
  try {
    value = std::stoi(SocketHandleData);
  } catch (const std::exception&) {
    return false;
  }
  return value > 0 && byData_.count(value) > 0;
}

void CFTPSessions::Retire(std::size_t position) {
  std::unique_ptr<CFTPSession> session = std::move(sessions_[position]);
  sessions_.erase(sessions_.begin() + static_cast<std::ptrdiff_t>(position));
  byKey_.erase(session->SocketHandle());
  NoteDataHandle(session.get(), session->SocketHandleData(), 0);
  NotePendingConnect(session.get(), session->PendingConnect(), 0);
  if (session->LoggedOn()) session->SetLoggedOn(false);
  closing_.erase(session.get());
  session->AttachTable(nullptr);
  if (retired_.empty()) loop_.Post(reaper_, 1, 0, 0);
  retired_.push_back(std::move(session));
}

void CFTPSessions::pDeleteByIndex(std::int32_t vnIndex) {
  if (vnIndex < 1 || vnIndex > Count()) throw std::out_of_range("Subscript out of range");
  Retire(static_cast<std::size_t>(vnIndex - 1));
}

void CFTPSessions::pDeleteByKey(const std::string& vsKey) {
  auto found = byKey_.find(vsKey);
  if (found == byKey_.end()) throw std::out_of_range("Invalid procedure call or argument");
  auto it = std::find_if(sessions_.begin(), sessions_.end(), [&](const auto& s) { return s.get() == found->second; });
  Retire(static_cast<std::size_t>(it - sessions_.begin()));
}

void CFTPSessions::pMarkClosing(const std::string& vsKey) {
  auto it = byKey_.find(vsKey);
  if (it != byKey_.end()) closing_.insert(it->second);
}

CFTPSession& CFTPSessions::ItemByKey(const std::string& vsKey) {
  auto it = byKey_.find(vsKey);
  if (it == byKey_.end()) throw std::out_of_range("Invalid procedure call or argument");
  return *it->second;
}

CFTPSession* CFTPSessions::ItemBySocketHandleData(std::int32_t SocketHandleData) {
  if (SocketHandleData <= 0) return nullptr;
  auto it = byData_.find(SocketHandleData);
  return it == byData_.end() ? nullptr : it->second;
}

CFTPSession* CFTPSessions::ItemByPendingConnect(std::int32_t handle) {
  if (handle <= 0) return nullptr;
  auto it = byConnect_.find(handle);
  return it == byConnect_.end() ? nullptr : it->second;
}

CFTPSession& CFTPSessions::ItemByIndex(std::int32_t vnKey) {
  if (vnKey < 1 || vnKey > Count()) throw std::out_of_range("Subscript out of range");
  return *sessions_[static_cast<std::size_t>(vnKey - 1)];
}

}  // namespace velto
