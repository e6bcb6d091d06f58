// The one object the administration windows talk to: the listener, the
// sessions, the connection list, the accounts, the settings and the
// diagnostics feed, with a notification for each change. It runs without a
// display; the Qt views are thin layers over it.
//
// Everything here runs on the event loop's thread, as the views do.
#pragma once

#include "admin/diagnostics_model.h"
#include "admin/setting_store.h"
#include "config/settings.h"
#include "server/main_window.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velto {

class CFTPUsers;

// What the diagnostics window hears while it is open.
class IFeedListener {
 public:
  virtual ~IFeedListener() = default;
  // A line of the real-time activity feed (already stamped where it wants
  // a stamp); only while the feed is on.
  virtual void ActivityFeed(std::string_view line) = 0;
  // A connection other than the listener came or went (while the feed is on).
  virtual void ConnectionOpened() = 0;
  virtual void ConnectionClosed() = 0;
};

class CServerFacade final : public ISettingStore {
 public:
  CServerFacade(MGlobal& globals, FMain& main);
  ~CServerFacade() override;
  CServerFacade(const CServerFacade&) = delete;
  CServerFacade& operator=(const CServerFacade&) = delete;

  // ---- the listener and the main window's state ----
  bool FTPActive() const { return g_.gbFTPActive; }
  // Starts or stops the listener (the menu toggle); false when it could not
  // start.
  bool ActivateFTP() { return main_.ActivateFTP(); }
  const std::string& Title() const { return main_.Title(); }
  const MainMenuState& Menus() const { return main_.Menus(); }
  bool ViewRealTime() const { return g_.gbViewRealTime; }
  void SetViewRealTime(bool on);
  const std::string& SupportOnlineURL() const { return g_.gsSupportOnlineURL; }
  const std::string& AppPath() const { return g_.gsAppPath; }
  bool RunningAsService() const { return g_.gbRunningAsService; }
  // Ends the program the orderly way (settings saved); the loop ends after
  // the current event.
  void RequestExit();
  void SetExitHandler(std::function<void()> handler) { exit_ = std::move(handler); }

  // ---- sessions ----
  struct SessionRow {
    std::string key;                 // the control connection's handle as text
    std::int32_t controlHandle = 0;
    std::string userId;              // as sent with USER ("" before)
    std::string clientAddress;
    bool loggedOn = false;
    std::int32_t lastAccessTime = 0;  // seconds since midnight
    bool activityLogging = false;
  };
  std::vector<SessionRow> Sessions() const;
  std::optional<SessionRow> Session(const std::string& key) const;
  // A session's activity feed on or off (its window opens or closes).
  void SetActivityLogging(const std::string& key, bool on);
  // Closes a client's connection at once (the Connections menu).
  bool CloseConnection(std::int32_t handle);

  // ---- the connection list (one row per socket) ----
  // The list the model mirrors its rows into; the view replaces the
  // headless one with its own before connections arrive (or rows are
  // copied over when it does).
  void AttachConnectionList(std::unique_ptr<IListControl> list);
  IListControl& ConnectionList() { return *g_.lstConnections; }

  // ---- accounts ----
  CFTPUsers& Users() { return *g_.gobjFTPUsers; }
  // The platform id the account check reports (2: the system's accounts
  // can be used).
  std::int32_t PlatformId() const;
  // What start-up runs when the administrator accepts the first-start offer
  // to import the computer's accounts (empty: nothing, as without a display).
  void SetAccountImport(std::function<void()> import);

  // ---- settings, through the one table ----
  // The live value where the key has one, else the file's text (or its
  // default).
  std::string SettingText(Setting setting) const override;
  // Sets the live value (false when the text does not convert: nothing
  // changes); with `writeNow` the key is also written and the file saved.
  bool SetSetting(Setting setting, const std::string& text, bool writeNow = false) override;
  // Writes one key to the file and saves it, without a live value.
  void WriteSettingNow(Setting setting, const std::string& text) override;
  // The local addresses the listener can bind to (index = FTPBindToIP).
  std::vector<std::string> LocalAddresses() const;

  // ---- diagnostics ----
  SocketFacts Facts() const;
  void AddFeedListener(IFeedListener* listener);
  void RemoveFeedListener(IFeedListener* listener);

  // ---- notifications (several views may listen) ----
  using Listener = std::function<void()>;
  void OnSessionsChanged(Listener listener) { sessionListeners_.push_back(std::move(listener)); }
  void OnConnectionsChanged(Listener listener) { connectionListeners_.push_back(std::move(listener)); }
  // A session's activity text (empty: cleared); `key` names the session.
  using ActivityListener = std::function<void(const std::string& key, std::string_view text)>;
  void OnActivity(ActivityListener listener) { activityListeners_.push_back(std::move(listener)); }

 private:
  MGlobal& g_;
  FMain& main_;
  std::function<void()> exit_;
  std::vector<IFeedListener*> feedListeners_;
  std::vector<Listener> sessionListeners_;
  std::vector<Listener> connectionListeners_;
  std::vector<ActivityListener> activityListeners_;
};

}  // namespace velto
