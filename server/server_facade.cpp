#include "server/server_facade.h"

#include "ftp/ftp_sessions.h"
#include "users/ftp_users.h"

#include <algorithm>

namespace velto {

CServerFacade::CServerFacade(MGlobal& globals, FMain& main) : g_(globals), main_(main) {
  main_.onSessionsChanged = [this](const SessionChange& change) { sessionChangeListeners_.Tell(change); };
  g_.onActivity = [this](CFTPSession& session, std::string_view text) {
    activityListeners_.Tell(session.SocketHandle(), text);
  };
  g_.onFeed = [this](const std::string& line) {
    for (IFeedListener* listener : std::vector<IFeedListener*>(feedListeners_)) listener->ActivityFeed(line);
  };
  g_.onConnectionCount = [this](bool opened) {
    for (IFeedListener* listener : std::vector<IFeedListener*>(feedListeners_)) {
      if (opened) {
        listener->ConnectionOpened();
      } else {
        listener->ConnectionClosed();
      }
    }
  };
}

CServerFacade::~CServerFacade() {
  main_.onSessionsChanged = nullptr;
  g_.onActivity = nullptr;
  g_.onFeed = nullptr;
  g_.onConnectionCount = nullptr;
  g_.importAccounts = nullptr;
}

void CServerFacade::RequestExit() {
  if (exit_) exit_();
}

std::vector<CServerFacade::SessionRow> CServerFacade::Sessions() const {
  std::vector<SessionRow> rows;
  if (!g_.gobjFTPSessions) return rows;
  CFTPSessions& sessions = *g_.gobjFTPSessions;
  rows.reserve(static_cast<std::size_t>(sessions.Count()));
  for (std::int32_t i = 1; i <= sessions.Count(); ++i) {
    if (auto row = RowOf(sessions.ItemByIndex(i))) rows.push_back(std::move(*row));
  }
  return rows;
}

std::optional<CServerFacade::SessionRow> CServerFacade::RowOf(CFTPSession& s) const {
  if (s.Closed()) return std::nullopt;
  SessionRow row;
  row.key = s.SocketHandle();
  row.controlHandle = std::atoi(row.key.c_str());
  row.userId = s.UserID;
  row.clientAddress = s.Connection().clientAddress;
  row.loggedOn = s.LoggedOn();
  row.activityLogging = s.ActivityLogging();
  row.controlSecured = s.ControlSecured();
  row.dataProtected = s.DataProtected();
  if (row.controlSecured && g_.gobjPortwell && g_.gobjPortwell->ItemExists(row.key)) {
    row.tlsVersion = g_.gobjPortwell->ItemByKey(row.key).TlsVersion;
  }
  return row;
}

std::optional<CServerFacade::SessionRow> CServerFacade::Session(const std::string& key) const {
  if (!g_.gobjFTPSessions || !g_.gobjFTPSessions->pExists(key)) return std::nullopt;
  return RowOf(g_.gobjFTPSessions->ItemByKey(key));
}

void CServerFacade::SetActivityLogging(const std::string& key, bool on) {
  if (!g_.gobjFTPSessions || !g_.gobjFTPSessions->pExists(key)) return;
  CFTPSession& session = g_.gobjFTPSessions->ItemByKey(key);
  session.SetActivityLogging(on);
  if (!on) session.ActivityClear();
}

bool CServerFacade::CloseConnection(std::int32_t handle) {
  if (!g_.gobjPortwell || !g_.gobjPortwell->ItemExists(std::to_string(handle))) return false;
  g_.CloseSocket(handle, false);
  return true;
}

void CServerFacade::AttachConnectionList(std::unique_ptr<IListControl> list) {
  if (g_.lstConnections) {
    for (int i = 0; i < g_.lstConnections->RowCount(); ++i) {
      list->AddRow(g_.lstConnections->RowText(i), g_.lstConnections->RowData(i));
    }
  }
  g_.lstConnections = std::move(list);
}

std::int32_t CServerFacade::PlatformId() const { return g_.gobjFTPUsers ? g_.gobjFTPUsers->WinVersion : 2; }

void CServerFacade::SetAccountImport(std::function<void()> import) { g_.importAccounts = std::move(import); }

std::string CServerFacade::SettingText(Setting setting) const {
  if (auto live = main_.Settings().Current(setting)) return *live;
  return g_.gobjIni ? ReadSettingText(*g_.gobjIni, setting) : std::string(DescribeSetting(setting).defaultText);
}

bool CServerFacade::SetSetting(Setting setting, const std::string& text, bool writeNow) {
  const bool applied = main_.Settings().Apply(setting, text);
  if (writeNow && g_.gobjIni) WriteSetting(*g_.gobjIni, setting, text, true);
  return applied;
}

void CServerFacade::WriteSettingNow(Setting setting, const std::string& text) {
  if (g_.gobjIni) WriteSetting(*g_.gobjIni, setting, text, true);
}

std::vector<std::string> CServerFacade::LocalAddresses() const {
  return g_.gobjPortwell ? g_.gobjPortwell->LocalHostIP() : std::vector<std::string>{};
}

SocketFacts CServerFacade::Facts() const {
  SocketFacts facts;
  if (!g_.gobjPortwell) return facts;
  CPortwell& pw = *g_.gobjPortwell;
  facts.computerName = pw.LocalHostName();
  facts.firstAddress = pw.LocalHostIP(0);
  facts.description = pw.SocketInfoDescription();
  facts.maxSockets = pw.SocketInfoMaxSockets();
  facts.maxUdpDg = pw.SocketInfoMaxUdpDg();
  facts.systemStatus = pw.SocketInfoSystemStatus();
  return facts;
}

CServerFacade::ListenerId CServerFacade::OnSessionChange(SessionListener listener) {
  sessionChangeListeners_.Add(nextId_, std::move(listener));
  return nextId_++;
}

CServerFacade::ListenerId CServerFacade::OnActivity(ActivityListener listener) {
  activityListeners_.Add(nextId_, std::move(listener));
  return nextId_++;
}

void CServerFacade::RemoveListener(ListenerId id) {
  sessionChangeListeners_.Remove(id);
  activityListeners_.Remove(id);
}

void CServerFacade::AddFeedListener(IFeedListener* listener) {
  if (listener != nullptr && std::find(feedListeners_.begin(), feedListeners_.end(), listener) == feedListeners_.end()) {
    feedListeners_.push_back(listener);
  }
}

void CServerFacade::RemoveFeedListener(IFeedListener* listener) {
  feedListeners_.erase(std::remove(feedListeners_.begin(), feedListeners_.end(), listener), feedListeners_.end());
}

}  // namespace velto
