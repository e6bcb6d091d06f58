#include "ftp/ftp_sessions.h"

#include "ftp/replies.h"
#include "log/log_lines.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>

namespace velto {

CFTPSessions::CFTPSessions(platform::EventLoop& loop, SessionServices services)
    : loop_(loop), services_(std::move(services)) {
  reaper_ = loop_.CreateTarget([this](const platform::Message&) { retired_.clear(); });
}

CFTPSessions::~CFTPSessions() {
  if (timer_ != 0) loop_.KillTimer(timer_);
  loop_.DestroyTarget(reaper_);
  // The sessions end before the services they use.
  retired_.clear();
  while (!sessions_.empty()) {
    std::unique_ptr<CFTPSession> session = std::move(sessions_.front());
    sessions_.pop_front();
    session->Close();
  }
}

CFTPSession& CFTPSessions::pAddFTPSession(const std::string& SocketHandle, std::unique_ptr<ISessionHost> host,
                                          ConnectionInfo info) {
  if (pExists(SocketHandle)) throw std::invalid_argument("Key is already associated with an element of this collection");
  auto session = std::make_unique<CFTPSession>(*this, std::move(host), std::move(info));
  session->SetSocketHandle(SocketHandle);
  CFTPSession& added = *session;
  ++byAddress_[added.Connection().clientAddress];
  sessions_.push_back(std::move(session));
  byKey_.emplace(SocketHandle, std::prev(sessions_.end()));
  ArmTimer();
  return added;
}

void CFTPSessions::ArmTimer() {
  if (Timeout >= 1) {
    const auto period = static_cast<std::uint32_t>(std::min(Timeout, 60000));
    if (timer_ != 0 && period == timerPeriod_) return;
    if (timer_ != 0 && period > timerPeriod_) return;  // a shorter period still finds everything in time
    if (timer_ != 0) loop_.KillTimer(timer_);
    timerPeriod_ = period;
    timer_ = loop_.SetTimer(timerPeriod_, [this](platform::TimerId) { IdleSweep(); });
  } else if (timer_ != 0) {
    loop_.KillTimer(timer_);
    timer_ = 0;
    timerPeriod_ = 0;
  }
}

void CFTPSessions::IdleSweep() {
  if (Timeout < 1) return;
  // Timing out only starts the close; the session leaves the table on the
  // later termination event, so the walk stays valid.
  std::vector<CFTPSession*> idle;
  for (auto& session : sessions_) {
    if (session->Closed()) continue;
    session->NoteDataTraffic();
    if (session->IdleMilliseconds() >= static_cast<double>(Timeout)) idle.push_back(session.get());
  }
  for (CFTPSession* session : idle) {
    if (services_.feed) services_.feed(TimeStampText("Session timed out, disconnected user..."));
    session->TimeOut();
  }
}

void CFTPSessions::Count(CFTPSession& session, bool on) {
  if (session.counted_ == on) return;
  session.counted_ = on;
  if (on) {
    ++loggedOn_[session.loggedOnAs_];
    return;
  }
  auto it = loggedOn_.find(session.loggedOnAs_);
  if (it != loggedOn_.end() && --it->second <= 0) loggedOn_.erase(it);
}

void CFTPSessions::NoteLoggedOn(CFTPSession& session, bool on) {
  // A closing session never counts again.
  Count(session, on && closing_.count(&session) == 0);
  if (services_.logonChanged) services_.logonChanged(session);
}

void CFTPSessions::NoteClosing(CFTPSession& session) {
  if (!closing_.insert(&session).second) return;
  Count(session, false);
  auto it = byAddress_.find(session.Connection().clientAddress);
  if (it != byAddress_.end() && --it->second <= 0) byAddress_.erase(it);
  session.OnLogonClosing();
}

void CFTPSessions::RefuseBanned(const std::string& address) {
  // Closing runs the sessions' own code: the walk runs over a copy.
  std::vector<CFTPSession*> refused;
  for (auto& session : sessions_) {
    if (!session->Closed() && !session->LoggedOn() && session->Connection().clientAddress == address) {
      refused.push_back(session.get());
    }
  }
  for (CFTPSession* session : refused) session->RefuseBanned();
}

std::int32_t CFTPSessions::pnGetUserCount(const std::string& vsUserID) const {
  auto it = loggedOn_.find(reply::LowerId(vsUserID));
  return it == loggedOn_.end() ? 0 : it->second;
}

std::int32_t CFTPSessions::OpenCountFrom(const std::string& address) const {
  auto it = byAddress_.find(address);
  return it == byAddress_.end() ? 0 : it->second;
}

bool CFTPSessions::pExists(const std::string& vsItemKey) const { return byKey_.count(vsItemKey) > 0; }

void CFTPSessions::Retire(List::iterator position) {
  std::unique_ptr<CFTPSession> session = std::move(*position);
  sessions_.erase(position);
  byKey_.erase(session->SocketHandle());
  NoteClosing(*session);
  closing_.erase(session.get());
  if (retired_.empty()) loop_.Post(reaper_, 1, 0, 0);
  retired_.push_back(std::move(session));
}

void CFTPSessions::pDeleteByIndex(std::int32_t vnIndex) {
  if (vnIndex < 1 || vnIndex > Count()) throw std::out_of_range("Subscript out of range");
  Retire(std::next(sessions_.begin(), vnIndex - 1));
}

void CFTPSessions::pDeleteByKey(const std::string& vsKey) {
  auto found = byKey_.find(vsKey);
  if (found == byKey_.end()) throw std::out_of_range("Invalid procedure call or argument");
  Retire(found->second);
}

void CFTPSessions::pMarkClosing(const std::string& vsKey) {
  auto it = byKey_.find(vsKey);
  if (it != byKey_.end()) NoteClosing(**it->second);
}

CFTPSession& CFTPSessions::ItemByKey(const std::string& vsKey) {
  auto it = byKey_.find(vsKey);
  if (it == byKey_.end()) throw std::out_of_range("Invalid procedure call or argument");
  return **it->second;
}

CFTPSession& CFTPSessions::ItemByIndex(std::int32_t vnKey) {
  if (vnKey < 1 || vnKey > Count()) throw std::out_of_range("Subscript out of range");
  return **std::next(sessions_.begin(), vnKey - 1);
}

}  // namespace velto
