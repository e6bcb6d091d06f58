// The sessions' activity windows without their widgets: at most one window
// per session, fed with what its client sends while the session's activity
// logging is on. Opening a window switches logging on; the person closing it
// switches it off; the session's end closes it.
#pragma once

#include "admin/activity_model.h"
#include "server/server_facade.h"

#include <functional>
#include <map>
#include <memory>
#include <string>

namespace velto {

// One activity window as the manager drives it.
class IActivityView {
 public:
  virtual ~IActivityView() = default;
  // The whole text, newest entry first.
  virtual void ShowText(const std::string& text) = 0;
  virtual void Raise() = 0;
  // Closes the window from the program's side; the view then reports
  // ViewClosed like any close.
  virtual void CloseView() = 0;
};

class ActivityWindows {
 public:
  // Makes and shows the window of a session with its caption. The window
  // belongs to the desktop side, which keeps it until it is closed; it must
  // call ViewClosed when it closes.
  using Factory = std::function<IActivityView&(const std::string& key, const std::string& caption)>;

  ActivityWindows(CServerFacade& facade, Factory factory, ActivityModel::Stamper stamp = {});
  ~ActivityWindows();
  ActivityWindows(const ActivityWindows&) = delete;
  ActivityWindows& operator=(const ActivityWindows&) = delete;

  // Switches the session's logging on and shows its window (or brings the
  // one it has forward); false when the session is gone.
  bool Open(const std::string& key);
  // The window of `key` closed: logging off.
  void ViewClosed(const std::string& key);

  bool IsOpen(const std::string& key) const { return windows_.count(key) != 0; }
  // The text of an open window ("" when none).
  std::string Text(const std::string& key) const;

 private:
  struct Window {
    ActivityModel model;
    IActivityView* view;  // borrowed: the desktop side owns it
  };

  void Activity(const std::string& key, std::string_view text);
  void SessionChanged(const SessionChange& change);

  CServerFacade& facade_;
  Factory factory_;
  ActivityModel::Stamper stamp_;
  std::map<std::string, Window> windows_;
  ScopedListener activityListener_;
  ScopedListener sessionListener_;
};

}  // namespace velto
