#include "timeline/lane_headers.h"

#include <QFontMetricsF>
#include <QPainter>

#include "design/icons.h"
#include "design/painting.h"
#include "design/shadow.h"
#include "design/theme.h"
#include "localization/qt/qt_text.h"
#include "timeline/timeline_geometry.h"

namespace vantry::timeline {

LaneHeaders::LaneHeaders(QWidget* parent) : QWidget(parent) {
  setFixedWidth(static_cast<int>(headerWidth));
}

QSize LaneHeaders::sizeHint() const {
  return QSize(static_cast<int>(headerWidth), static_cast<int>(stackHeight));
}

void LaneHeaders::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  struct Header {
    Row row;
    QString title;
    const char* icon;
    TrackColors colors;
  };
  const Header headers[] = {
      {Row::video, QL("视频"), "film", Theme::videoTrack},
      {Row::zoom, QL("缩放"), "plus.magnifyingglass", Theme::zoomTrack},
      {Row::presenter, QL("人物"), "person.fill", Theme::presenterTrack},
  };
  const QFont titleFont = uiFont(10.5, QFont::Medium);
  for (const Header& h : headers) {
    const Span span = rowSpan(h.row);
    const QRectF r(0, span.top, width(), span.height);
    fillRounded(p, r, 8, Color(0x000000, 0.22));
    const QRectF badge(8, r.center().y() - 9, 18, 18);
    paintShadow(p, badge, 5, {faded(h.colors[0], 0.5), 4, {0, 0}});
    QLinearGradient g(badge.topLeft(), badge.bottomLeft());
    g.setColorAt(0, h.colors[0]);
    g.setColorAt(1, h.colors[1]);
    fillRounded(p, badge, 5, g);
    paintSymbol(p, QString::fromLatin1(h.icon), badge.adjusted(4.5, 4.5, -4.5, -4.5), Qt::white,
                QFont::Bold);
    // One line, shrinking to 0.7 of its size before it is cut.
    const QRectF text(badge.right() + 7, r.top(), r.right() - 8 - badge.right() - 7, r.height());
    QFont font = titleFont;
    const double natural = QFontMetricsF(font).horizontalAdvance(h.title);
    if (natural > text.width() && natural > 0)
      font.setPointSizeF(font.pointSizeF() * std::max(0.7, text.width() / natural));
    p.setFont(font);
    p.setPen(Theme::secondary);
    p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter,
               QFontMetricsF(font).elidedText(h.title, Qt::ElideRight, text.width()));
  }
}

}  // namespace vantry::timeline
