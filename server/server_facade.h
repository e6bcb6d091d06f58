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
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velto {

class CFTPSession;
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
  // Starts or stops the listener (the menu toggle); false when it could not
  // start.
  bool ActivateFTP() { return main_.ActivateFTP(); }
  const MainMenuState& Menus() const { return main_.Menus(); }
  bool ViewRealTime() const { return g_.gbViewRealTime; }
  void SetViewRealTime(bool on) { main_.SetViewRealTime(on); }
  const std::string& SupportOnlineURL() const { return g_.gsSupportOnlineURL; }
  const std::string& AppPath() const { return g_.gsAppPath; }
  // Where Velto.ini and Velto.usr are (the program's folder unless told).
  const std::string& DataPath() const { return g_.DataPath(); }
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
    bool activityLogging = false;
    // FTPS: the control connection is encrypted (AUTH TLS or the
    // implicit-TLS listener), with this protocol ("TLSv1.3"; "" while the
    // handshake runs), and data connections are too (PROT P).
    bool controlSecured = false;
    std::string tlsVersion;
    bool dataProtected = false;
  };
  std::vector<SessionRow> Sessions() const;
  std::optional<SessionRow> Session(const std::string& key) const;
  // A session's activity feed on or off (its window opens or closes).
  void SetActivityLogging(const std::string& key, bool on);
  // The Active Users window is open (its model sets this for its life).
  bool ActiveUsersOpen() const { return g_.gbActiveUsersOpen; }
  void SetActiveUsersOpen(bool open) { g_.gbActiveUsersOpen = open; }
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
  // Each registration returns an id for RemoveListener; a window that goes
  // away before the facade must remove its listeners (see ScopedListener).
  // A listener may remove itself or another while it is told.
  using ListenerId = std::uint64_t;
  // What happened to which session.
  using SessionListener = std::function<void(const SessionChange&)>;
  ListenerId OnSessionChange(SessionListener listener);
  // A session's activity text (empty: cleared); `key` names the session. The
  // argument of a PASS line is shown as "****".
  using ActivityListener = std::function<void(const std::string& key, std::string_view text)>;
  ListenerId OnActivity(ActivityListener listener);
  void RemoveListener(ListenerId id);

 private:
  template <typename Fn>
  class Listeners {
   public:
    void Add(ListenerId id, Fn fn) { fns_.emplace(id, std::move(fn)); }
    void Remove(ListenerId id) { fns_.erase(id); }
    template <typename... Args>
    void Tell(const Args&... args) const {
      std::vector<ListenerId> ids;
      ids.reserve(fns_.size());
      for (const auto& entry : fns_) ids.push_back(entry.first);
      for (ListenerId id : ids) {
        const auto found = fns_.find(id);
        if (found == fns_.end()) continue;
        const Fn fn = found->second;  // it may remove itself
        fn(args...);
      }
    }

   private:
    std::map<ListenerId, Fn> fns_;
  };

  std::optional<SessionRow> RowOf(CFTPSession& session) const;

  MGlobal& g_;
  FMain& main_;
  std::function<void()> exit_;
  std::vector<IFeedListener*> feedListeners_;
  ListenerId nextId_ = 1;
  Listeners<SessionListener> sessionChangeListeners_;
  Listeners<ActivityListener> activityListeners_;
};

// Removes a facade listener when it goes out of scope.
class ScopedListener {
 public:
  ScopedListener() = default;
  ScopedListener(CServerFacade& facade, CServerFacade::ListenerId id) : facade_(&facade), id_(id) {}
  ~ScopedListener() { Reset(); }
  ScopedListener(ScopedListener&& other) noexcept : facade_(other.facade_), id_(other.id_) { other.facade_ = nullptr; }
  ScopedListener& operator=(ScopedListener&& other) noexcept {
    if (this != &other) {
      Reset();
      facade_ = other.facade_;
      id_ = other.id_;
      other.facade_ = nullptr;
    }
    return *this;
  }
  void Reset() {
    if (facade_ != nullptr) facade_->RemoveListener(id_);
    facade_ = nullptr;
  }

 private:
  CServerFacade* facade_ = nullptr;
  CServerFacade::ListenerId id_ = 0;
};

}  // namespace velto
