#include "gui/desk.h"

#include "gui/about_dialog.h"
#include "gui/active_users_window.h"
#include "gui/activity_window.h"
#include "gui/desk_menu.h"
#include "gui/diagnostics_window.h"
#include "gui/main_view.h"
#include "gui/text.h"

#include <QDesktopServices>
#include <QMenu>
#include <QUrl>

namespace velto {

Desk::Desk(CServerFacade& facade, IUserInterface& ui, DeskDialogs dialogs)
    : facade_(facade),
      dialogs_(std::move(dialogs)),
      controller_(std::make_unique<DeskController>(facade, ui, *this)),
      mainView_(std::make_unique<FMainView>(*controller_)),
      popup_(std::make_unique<QMenu>(QStringLiteral("PopUp"))) {
  facade_.AttachConnectionList(std::make_unique<ListWidgetControl>(mainView_->ConnectionList()));
  FillDeskMenu(*popup_, PopupMenu(), *controller_, [this](DeskCommand command) { controller_->Run(command); });
  activity_ = std::make_unique<ActivityWindows>(
      facade, [this](const std::string& key, const std::string& caption) -> IActivityView& {
        return MakeActivityWindow(key, caption);
      });
  facade_.AddFeedListener(this);
  sessions_ = ScopedListener(facade_, facade_.OnSessionChange([this](const SessionChange&) {
                               if (diagnostics_) diagnostics_->ConnectionsChanged();
                             }));
}

Desk::~Desk() {
  facade_.RemoveFeedListener(this);
  // The windows first: none of them is told anything on the way out.
  mainView_.reset();
  activity_.reset();
}

FDiagnostics* Desk::Diagnostics() { return diagnostics_; }

FActiveUsers* Desk::ActiveUsersWindow() { return activeUsers_; }

void Desk::MinimizeMain() { mainView_->showMinimized(); }

bool Desk::DiagnosticsShown() const { return diagnostics_ && diagnostics_->isVisible(); }

void Desk::ShowDiagnostics(bool shown) {
  if (!shown) {
    if (diagnostics_) diagnostics_->hide();
    return;
  }
  FDiagnostics& window = EnsureDiagnostics();
  window.show();
  window.raise();
  window.activateWindow();
}

void Desk::ShowActiveUsers(bool open) {
  if (!open) {
    if (activeUsers_) activeUsers_->close();
    return;
  }
  if (!activeUsers_) {
    activeUsers_ = new FActiveUsers(
        facade_, [this](const std::string& key) { activity_->Open(key); }, mainView_.get());
  }
  activeUsers_->show();
  activeUsers_->raise();
}

void Desk::ShowAbout() { velto::ShowAbout(mainView_.get()); }

void Desk::OpenFtpOptions() {
  if (dialogs_.ftpOptions) dialogs_.ftpOptions(*mainView_);
}

void Desk::OpenSettings() {
  if (dialogs_.settings) dialogs_.settings(*mainView_);
}

void Desk::ImportAccounts() {
  if (dialogs_.importAccounts) dialogs_.importAccounts(mainView_.get());
}

bool Desk::OpenAddress(const std::string& address) {
  const QString text = ToQt(address);
  return QDesktopServices::openUrl(text.startsWith(QLatin1Char('/')) ? QUrl::fromLocalFile(text) : QUrl(text));
}

void Desk::ActivityFeed(std::string_view line) { EnsureDiagnostics().ActivityFeed(line); }

// The counter follows the session table (OnSessionChange): these events
// also come for data connections and listeners, and only while the feed is on.
void Desk::ConnectionOpened() {}

void Desk::ConnectionClosed() {}

FDiagnostics& Desk::EnsureDiagnostics() {
  if (!diagnostics_) {
    diagnostics_ = new FDiagnostics([this] { return facade_.Facts(); }, [this] { return facade_.ViewRealTime(); },
                                    [this] { return facade_.Sessions().size(); }, {}, mainView_.get());
  }
  return *diagnostics_;
}

IActivityView& Desk::MakeActivityWindow(const std::string& key, const std::string& caption) {
  auto* window = new FActivity(ToQt(caption), [this, key] { activity_->ViewClosed(key); }, mainView_.get());
  window->show();
  return *window;
}

}  // namespace velto
