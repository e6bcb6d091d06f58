#include "gui/mini_tab.h"

#include "gui/text.h"

#include <QEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>

namespace velto {

namespace {

// The four colours of the raised edges: outer light and dark, inner light
// and dark.
struct Edges {
  QColor light;
  QColor midlight;
  QColor dark;
  QColor shadow;
};

Edges EdgesOf(const QPalette& palette) {
  return {palette.color(QPalette::Light), palette.color(QPalette::Midlight), palette.color(QPalette::Mid),
          palette.color(QPalette::Shadow)};
}

// A tab's outline: left, top and right edges with rounded corners; the
// bottom is open towards the page.
void DrawTabOutline(QPainter& painter, const QRect& r, const Edges& edges) {
  const int l = r.left();
  const int t = r.top();
  const int rt = r.right();
  const int b = r.bottom();
  painter.setPen(edges.light);
  painter.drawLine(l, b, l, t + 2);
  painter.drawLine(l + 1, t + 1, l + 1, t + 1);
  painter.drawLine(l + 2, t, rt - 2, t);
  painter.setPen(edges.midlight);
  painter.drawLine(l + 1, b, l + 1, t + 2);
  painter.drawLine(l + 2, t + 1, rt - 2, t + 1);
  painter.setPen(edges.shadow);
  painter.drawLine(rt - 1, t + 1, rt - 1, t + 1);
  painter.drawLine(rt, t + 2, rt, b);
  painter.setPen(edges.dark);
  painter.drawLine(rt - 1, t + 2, rt - 1, b);
}

QRect ToQRect(const MiniTabModel::Rect& r, int dy) { return QRect(r.left, r.top + dy, r.width, r.height); }

}  // namespace

MiniTab::MiniTab(QWidget* parent)
    : QWidget(parent), model_([this](std::string_view caption) {
        return QFontMetrics(font()).horizontalAdvance(ToQt(caption));
      }) {
  setFocusPolicy(Qt::StrongFocus);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  model_.OnAfterTabChange([this](int index) {
    update();
    emit afterTabChange(index);
  });
}

MiniTab::~MiniTab() = default;

QString MiniTab::Caption(int index) const { return ToQt(model_.Caption(index)); }

void MiniTab::SetCaption(int index, const QString& caption) {
  model_.SetCaption(index, FromQt(caption));
  Changed();
}

void MiniTab::SetTabCount(int count) {
  model_.SetTabCount(count);
  Changed();
}

void MiniTab::SetActiveTab(int index) { model_.SetActiveTab(index); }

QSize MiniTab::sizeHint() const {
  return QSize(model_.RowWidth(), MiniTabModel::kBarHeight + 2 * MiniTabModel::kRaise);
}

QSize MiniTab::minimumSizeHint() const { return sizeHint(); }

void MiniTab::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const Edges edges = EdgesOf(palette());
  const int barTop = MiniTabModel::kRaise;
  const QFontMetrics metrics(font());
  // Captions are placed by their top edge.
  const int ascent = metrics.ascent();

  // The line the pages hang from, under the whole strip.
  painter.setPen(edges.light);
  painter.drawLine(0, height() - 1, width() - 1, height() - 1);

  painter.setPen(palette().color(QPalette::WindowText));
  for (int n = 0; n < model_.TabCount(); ++n) {
    if (n == model_.ActiveTab()) continue;
    const QRect tab = ToQRect(model_.TabRect(n), barTop);
    painter.fillRect(tab.adjusted(2, 2, -2, 0), palette().color(QPalette::Button));
    DrawTabOutline(painter, tab, edges);
    painter.setPen(palette().color(QPalette::ButtonText));
    painter.drawText(tab.left() + MiniTabModel::kCaptionX, tab.top() + MiniTabModel::kCaptionY + ascent,
                     Caption(n));
  }

  const MiniTabModel::Rect activeRect = model_.ActiveTabRect();
  if (activeRect.width == 0) return;
  const QRect active = ToQRect(activeRect, barTop);
  painter.fillRect(active.adjusted(2, 2, -2, 0), palette().color(QPalette::Window));
  DrawTabOutline(painter, active, edges);
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawText(active.left() + MiniTabModel::kActiveCaptionX,
                   active.top() + MiniTabModel::kActiveCaptionY + ascent, Caption(model_.ActiveTab()));

  if (hasFocus()) {
    const MiniTabModel::Rect focus = model_.FocusRect();
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = QRect(active.left() + focus.left, active.top() + focus.top, focus.width, focus.height);
    option.backgroundColor = palette().color(QPalette::Window);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
  }
}

void MiniTab::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(event);
    return;
  }
  model_.Press(event->position().toPoint().x());
  update();
}

void MiniTab::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) {
    model_.Relayout();
    Changed();
  }
  QWidget::changeEvent(event);
}

void MiniTab::Changed() {
  updateGeometry();
  update();
}

}  // namespace velto
