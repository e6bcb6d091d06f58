#include "server/active_users.h"

#include <cstdlib>

namespace velto {

ActiveUsers::ActiveUsers(CServerFacade& facade, IListControl& rows) : facade_(facade), rows_(rows) {
  facade_.SetActiveUsersOpen(true);
  for (const auto& session : facade_.Sessions()) rows_.AddRow(session.userId, session.controlHandle);
  listener_ =
      ScopedListener(facade_, facade_.OnSessionChange([this](const SessionChange& change) { Changed(change); }));
}

ActiveUsers::~ActiveUsers() { facade_.SetActiveUsersOpen(false); }

std::optional<std::string> ActiveUsers::SessionAt(int row) const {
  if (row < 0 || row >= rows_.RowCount()) return std::nullopt;
  const std::string key = std::to_string(rows_.RowData(row));
  if (!facade_.Session(key)) return std::nullopt;
  return key;
}

void ActiveUsers::Changed(const SessionChange& change) {
  const std::int32_t handle = std::atoi(change.key.c_str());
  switch (change.kind) {
    case SessionChange::Kind::kLogon: {
      const auto session = facade_.Session(change.key);
      if (!session) return;
      // A session listed before it logged on keeps its one row.
      if (!rows_.ReplaceRowTextByData(handle, session->userId) && session->loggedOn) {
        rows_.AddRow(session->userId, handle);
      }
      break;
    }
    case SessionChange::Kind::kClosing:
    case SessionChange::Kind::kEnded:
      rows_.RemoveRowByData(handle);
      break;
    case SessionChange::Kind::kAdded:
      // Listed once it logs on, or when the window opens anew.
      break;
  }
}

}  // namespace velto
