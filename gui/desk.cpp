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
    : mFacade(facade),
      mDialogs(std::move(dialogs)),
      mController(std::make_unique<DeskController>(facade, ui, *this)),
      mMainView(std::make_unique<FMainView>(*mController)),
      mPopup(std::make_unique<QMenu>(QStringLiteral("PopUp"))) {
  mFacade.AttachConnectionList(std::make_unique<ListWidgetControl>(mMainView->ConnectionList()));
  FillDeskMenu(*mPopup, PopupMenu(), *mController, [this](DeskCommand command) { mController->Run(command); });
  mActivity = std::make_unique<ActivityWindows>(
      facade, [this](const std::string& key, const std::string& caption) -> IActivityView& {
        return MakeActivityWindow(key, caption);
      });
  mFacade.AddFeedListener(this);
}

Desk::~Desk() {
  mFacade.RemoveFeedListener(this);
  // The windows first: none of them is told anything on the way out.
  mMainView.reset();
  mActivity.reset();
}

FDiagnostics* Desk::Diagnostics() { return mDiagnostics; }

FActiveUsers* Desk::ActiveUsersWindow() { return mActiveUsers; }

void Desk::MinimizeMain() { mMainView->showMinimized(); }

bool Desk::DiagnosticsShown() const { return mDiagnostics && mDiagnostics->isVisible(); }

void Desk::ShowDiagnostics(bool shown) {
  if (!shown) {
    if (mDiagnostics) mDiagnostics->hide();
    return;
  }
  FDiagnostics& window = EnsureDiagnostics();
  window.show();
  window.raise();
  window.activateWindow();
}

void Desk::ShowActiveUsers(bool open) {
  if (!open) {
    if (mActiveUsers) mActiveUsers->close();
    return;
  }
  if (!mActiveUsers) {
    mActiveUsers = new FActiveUsers(
        mFacade, [this](const std::string& key) { mActivity->Open(key); }, mMainView.get());
  }
  mActiveUsers->show();
  mActiveUsers->raise();
}

void Desk::ShowAbout() { velto::ShowAbout(mMainView.get()); }

void Desk::OpenFtpOptions() {
  if (mDialogs.ftpOptions) mDialogs.ftpOptions(*mMainView);
}

void Desk::OpenSettings() {
  if (mDialogs.settings) mDialogs.settings(*mMainView);
}

void Desk::ImportAccounts() {
  if (mDialogs.importAccounts) mDialogs.importAccounts(mMainView.get());
}

void Desk::OpenAddress(const std::string& address) {
  const QString text = ToQt(address);
  // Failures are the desktop's to show; the program goes on either way.
  QDesktopServices::openUrl(text.startsWith(QLatin1Char('/')) ? QUrl::fromLocalFile(text) : QUrl(text));
}

void Desk::ActivityFeed(std::string_view line) { EnsureDiagnostics().ActivityFeed(line); }

void Desk::ConnectionOpened() { EnsureDiagnostics().ConnectionOpened(); }

void Desk::ConnectionClosed() { EnsureDiagnostics().ConnectionClosed(); }

FDiagnostics& Desk::EnsureDiagnostics() {
  if (!mDiagnostics) {
    mDiagnostics = new FDiagnostics([this] { return mFacade.Facts(); }, [this] { return mFacade.ViewRealTime(); }, {},
                                    mMainView.get());
  }
  return *mDiagnostics;
}

IActivityView& Desk::MakeActivityWindow(const std::string& key, const std::string& caption) {
  auto* window = new FActivity(ToQt(caption), [this, key] { mActivity->ViewClosed(key); }, mMainView.get());
  window->show();
  return *window;
}

}  // namespace velto
