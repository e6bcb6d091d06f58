// The Active Users window without its widgets: one row per session (the user
// id as sent with USER; the control handle as item value), filled when the
// window opens and kept up while it is open: a log-on adds its session's row
// (or renames it), a closing control connection removes it. While one of
// these exists the program knows the window is open.
#pragma once

#include "admin/list_control.h"
#include "server/server_facade.h"

#include <optional>
#include <string>

namespace velto {

class ActiveUsers {
 public:
  // Both borrowed; they must outlive this object.
  ActiveUsers(CServerFacade& facade, IListControl& rows);
  ~ActiveUsers();
  ActiveUsers(const ActiveUsers&) = delete;
  ActiveUsers& operator=(const ActiveUsers&) = delete;

  // The session of a row (for a double-click), while it lasts.
  std::optional<std::string> SessionAt(int row) const;

 private:
  void Changed(const SessionChange& change);

  CServerFacade& facade_;
  IListControl& rows_;
  ScopedListener listener_;
};

}  // namespace velto
