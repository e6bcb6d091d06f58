#include "server/activity_windows.h"

namespace velto {

ActivityWindows::ActivityWindows(CServerFacade& facade, Factory factory, ActivityModel::Stamper stamp)
    : facade_(facade), factory_(std::move(factory)), stamp_(std::move(stamp)) {
  activityListener_ = ScopedListener(
      facade_, facade_.OnActivity([this](const std::string& key, std::string_view text) { Activity(key, text); }));
  sessionListener_ =
      ScopedListener(facade_, facade_.OnSessionChange([this](const SessionChange& change) { SessionChanged(change); }));
}

// The windows outlive the manager only during shutdown, when nobody closes
// them one by one: they are simply let go.
ActivityWindows::~ActivityWindows() = default;

bool ActivityWindows::Open(const std::string& key) {
  const auto session = facade_.Session(key);
  if (!session) return false;
  facade_.SetActivityLogging(key, true);
  if (auto found = windows_.find(key); found != windows_.end()) {
    found->second.view->Raise();
    return true;
  }
  const std::string caption = ActivityModel::Caption(session->userId, session->clientAddress);
  auto [entry, added] = windows_.emplace(key, Window{ActivityModel(stamp_), nullptr});
  entry->second.view = &factory_(key, caption);
  return true;
}

void ActivityWindows::ViewClosed(const std::string& key) {
  // Forgotten first: switching logging off clears the text, which no
  // window is left to show.
  if (windows_.erase(key) == 0) return;
  facade_.SetActivityLogging(key, false);
}

std::string ActivityWindows::Text(const std::string& key) const {
  const auto found = windows_.find(key);
  return found == windows_.end() ? std::string() : found->second.model.Text();
}

void ActivityWindows::Activity(const std::string& key, std::string_view text) {
  const auto found = windows_.find(key);
  if (found == windows_.end()) return;
  Window& window = found->second;
  if (text.empty()) {
    window.model.Clear();
  } else {
    window.model.Update(text);
  }
  window.view->ShowText(window.model.Text());
}

void ActivityWindows::SessionChanged(const SessionChange& change) {
  if (change.kind != SessionChange::Kind::kClosing && change.kind != SessionChange::Kind::kEnded) return;
  const auto found = windows_.find(change.key);
  if (found != windows_.end()) found->second.view->CloseView();
}

}  // namespace velto
