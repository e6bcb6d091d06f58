#include "gui/about_dialog.h"

#include "admin/about_info.h"
#include "gui/app_resources.h"
#include "gui/text.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <QUrlQuery>
#include <QVBoxLayout>

namespace velto {

namespace {

// A label that shows its target as its text and reports clicks instead of
// opening the link itself.
QLabel* LinkLabel(std::string_view target, QWidget* parent) {
  const QString text = ToQt(target).toHtmlEscaped();
  auto* label = new QLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(text), parent);
  label->setTextFormat(Qt::RichText);
  label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  label->setOpenExternalLinks(false);
  label->setCursor(Qt::PointingHandCursor);
  return label;
}

}  // namespace

FAbout::FAbout(QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("About Velto"));
  setWindowIcon(AppIcon());

  auto* logo = new QLabel(this);
  logo->setPixmap(LogoPixmap(72));
  version_ = new QLabel(this);
  auto* maker = new QLabel(ToQt(kMakerName), this);
  QFont bold = maker->font();
  bold.setBold(true);
  maker->setFont(bold);
  auto* address = new QLabel(ToQt(kMakerAddress), this);
  webPage_ = LinkLabel(kMakerWebPage, this);
  webPage_->setToolTip(tr("Visit the web site"));
  mail_ = LinkLabel(kSupportMail, this);
  mail_->setToolTip(tr("Write to support"));
  connect(webPage_, &QLabel::linkActivated, this, &FAbout::OpenWebPage);
  connect(mail_, &QLabel::linkActivated, this, &FAbout::OpenMail);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  ok_ = buttons->button(QDialogButtonBox::Ok);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* text = new QVBoxLayout;
  text->addWidget(version_);
  text->addSpacing(8);
  text->addWidget(maker);
  text->addWidget(address);
  text->addSpacing(8);
  text->addWidget(webPage_);
  text->addWidget(mail_);
  auto* row = new QHBoxLayout;
  row->addWidget(logo, 0, Qt::AlignTop);
  row->addSpacing(12);
  row->addLayout(text, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

FAbout::~FAbout() = default;

void FAbout::ShowAboutForm() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  version_->setText(ToQt(VersionLine()));
  setModal(true);
  adjustSize();
  if (const QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  show();
  QApplication::restoreOverrideCursor();
}

QString FAbout::VersionText() const { return version_->text(); }

QUrl FAbout::WebPageUrl() const { return QUrl(ToQt(kMakerWebPage)); }

QUrl FAbout::MailUrl() const {
  QUrl url(QStringLiteral("mailto:") + ToQt(kSupportMail));
  QUrlQuery query;
  query.addQueryItem(QStringLiteral("subject"), ToQt(SupportMailSubject(FromQt(version_->text()))));
  url.setQuery(query);
  return url;
}

void FAbout::OpenWebPage() { QDesktopServices::openUrl(WebPageUrl()); }

void FAbout::OpenMail() { QDesktopServices::openUrl(MailUrl()); }

void ShowAbout(QWidget* parent) {
  auto* about = new FAbout(parent);
  about->setAttribute(Qt::WA_DeleteOnClose);
  about->ShowAboutForm();
}

}  // namespace velto
