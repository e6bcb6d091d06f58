#include "gui/about_dialog.h"
#include "gui/app_resources.h"
#include "gui/diagnostics_window.h"
#include "gui/mini_tab.h"

#include <QAction>
#include <QDesktopServices>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

namespace velto {
namespace {

TEST(MiniTab, ClickOnAnotherTabReportsIt) {
  MiniTab tabs;
  tabs.SetCaption(0, "Settings");
  tabs.show();
  QSignalSpy changes(&tabs, &MiniTab::afterTabChange);
  const MiniTabModel::Rect second = tabs.Model().TabRect(1);
  const QPoint onSecond(second.left + second.width / 2, MiniTabModel::kRaise + 8);
  QTest::mouseClick(&tabs, Qt::LeftButton, {}, onSecond);
  QTest::mouseClick(&tabs, Qt::LeftButton, {}, onSecond);
  ASSERT_EQ(changes.count(), 1);
  EXPECT_EQ(changes.at(0).at(0).toInt(), 1);
  EXPECT_EQ(tabs.ActiveTab(), 1);
}

// Receives what the desktop would have been asked to open.
class UrlCatcher : public QObject {
  Q_OBJECT

 public:
  QList<QUrl> opened;

 public slots:
  void open(const QUrl& url) { opened.append(url); }
};

TEST(About, ShowsTheVersionAndOpensItsLinks) {
  EXPECT_FALSE(AppIcon().isNull());
  EXPECT_FALSE(LogoPixmap(48).isNull());

  UrlCatcher catcher;
  QDesktopServices::setUrlHandler("https", &catcher, "open");
  QDesktopServices::setUrlHandler("mailto", &catcher, "open");
  FAbout about;
  about.ShowAboutForm();
  EXPECT_TRUE(about.isVisible());
  EXPECT_EQ(about.VersionText(), "Version 2.0.101");

  about.OpenWebPage();
  about.OpenMail();
  QDesktopServices::unsetUrlHandler("https");
  QDesktopServices::unsetUrlHandler("mailto");
  ASSERT_EQ(catcher.opened.size(), 2);
  EXPECT_EQ(catcher.opened[0].scheme(), "https");
  EXPECT_EQ(catcher.opened[1].scheme(), "mailto");
  EXPECT_TRUE(catcher.opened[1].query(QUrl::FullyDecoded).contains("(Version 2.0.101)"));

  about.OkButton()->click();
  EXPECT_FALSE(about.isVisible());
}

std::string FixedStamp(std::string_view text) { return "STAMP " + std::string(text); }

SocketFacts SomeFacts() {
  SocketFacts facts;
  facts.computerName = "host";
  facts.firstAddress = "10.0.0.2";
  facts.description = "Sockets 1.1";
  facts.systemStatus = "Running";
  return facts;
}

TEST(Diagnostics, PaneShowsTheNewestLineFirstAndEmptiesAtTheLimit) {
  FDiagnostics window(SomeFacts, [] { return true; }, {}, FixedStamp);
  EXPECT_EQ(window.ComputerNameText(), "host");
  EXPECT_EQ(window.IPAddressText(), "10.0.0.2");
  EXPECT_EQ(window.LogPane()->toPlainText(), "STAMP Current status: Running\nSTAMP Using Socket version Sockets 1.1");

  window.ActivityFeed("newest");
  EXPECT_TRUE(window.LogPane()->toPlainText().startsWith("newest\nSTAMP Current status"));

  while (window.Model().LogText().size() + 12 < 9990) window.ActivityFeed("1234567890");
  window.ActivityFeed(std::string(9990 - window.Model().LogText().size() - 2, 'x'));
  ASSERT_EQ(window.Model().LogText().size(), 9990u);
  QString pane = window.LogPane()->toPlainText() + "\n";
  EXPECT_EQ(pane.replace("\n", "\r\n").toStdString(), window.Model().LogText())
      << "the pane holds the log, line for line";
  window.ActivityFeed("01234567890123456789");
  EXPECT_EQ(window.LogPane()->toPlainText(), "01234567890123456789");

  window.ActivityFeed("caf\xe9");      // 8-bit text off the wire
  window.ActivityFeed("caf\xc3\xa9");  // a UTF-8 file name
  EXPECT_EQ(window.LogPane()->toPlainText(), QString::fromUtf8("café\ncafé\n01234567890123456789"));
}

TEST(Diagnostics, LogWindowToggleCloseAndFreshStart) {
  FDiagnostics window(SomeFacts, [] { return true; }, {}, FixedStamp);
  window.show();
  const int collapsed = window.height();
  EXPECT_FALSE(window.LogPane()->isVisible());
  EXPECT_FALSE(window.ShowLogAction()->isChecked());

  window.ShowLogAction()->trigger();
  EXPECT_TRUE(window.LogPane()->isVisible());
  EXPECT_TRUE(window.ShowLogAction()->isChecked());
  EXPECT_GT(window.height(), collapsed);
  window.ShowLogAction()->trigger();
  EXPECT_FALSE(window.LogPane()->isVisible());
  EXPECT_EQ(window.height(), collapsed);

  window.ActivityFeed("kept");
  window.CloseAction()->trigger();
  EXPECT_FALSE(window.isVisible());
  window.show();
  EXPECT_TRUE(window.LogPane()->toPlainText().startsWith("kept\n")) << "the menu's Close only hides";

  window.ShowLogAction()->trigger();
  window.close();  // the title bar's close
  window.show();
  EXPECT_FALSE(window.LogPane()->toPlainText().contains("kept")) << "a fresh log after the close box";
  EXPECT_FALSE(window.LogWindowShown());
}

}  // namespace
}  // namespace velto

#include "windows_test.moc"
