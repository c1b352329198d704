#include "app/preview_stage.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "design/buttons.h"
#include "design/chrome.h"
#include "design/coalesced_refresh.h"
#include "design/painting.h"
#include "design/shadow.h"
#include "design/theme.h"
#include "design/view_parts.h"
#include "localization/platform_texts.h"
#include "localization/qt/language_settings.h"
#include "localization/qt/qt_text.h"
#include "preview/preview_surface.h"
#include "studio/studio.h"

namespace vantry {

namespace {

constexpr double kRadius = 14;

// Lies over the picture: the border, the black of the full-screen state, and the stage's
// glow and drop shadow (painted by the shadow host below it).
class StageFrame final : public QWidget {
 public:
  StageFrame(Studio& studio, QWidget* parent) : QWidget(parent), studio_(studio) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    shadow_ = new ShadowCaster(
        this,
        [this](QPainter& p) {
          // The picture covers the stage but for its rounded corners: only the band around
          // it is drawn (a clip of rectangles, cheap to paint through).
          const int corner = int(std::ceil(1.53 * kRadius)) + 1;
          const QRect r = rect();
          const int reach = shadowReach(Shadow{Qt::black, 30, {0, 14}});
          p.save();
          p.setClipRegion(QRegion(r.adjusted(-reach, -reach, reach, reach)) -
                              QRegion(r.adjusted(corner, 0, -corner, 0)) -
                              QRegion(r.adjusted(0, corner, 0, -corner)),
                          Qt::IntersectClip);
          const bool rec = shown_.recording;
          paintShadow(p, r, kRadius,
                      Shadow{rec ? faded(Theme::rec, 0.35) : faded(Theme::cyan, 0.1), 30, {}});
          paintShadow(p, r, kRadius, Shadow{Color(0x000000, 0.45), 24, {0, 14}});
          p.restore();
        },
        shadowReach(Shadow{Qt::black, 30, {0, 14}}));
  }

  // Repaints only when its look changes: the frame lies over the picture, so each repaint
  // also repaints the picture and the ground with the stage's shadows under it.
  void refresh() {
    const Look look{studio_.recording(), studio_.fullscreenPreview()};
    if (look == shown_) return;
    if (look.recording != shown_.recording) shadow_->update();
    shown_ = look;
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = rect();
    if (shown_.black) fillRounded(p, r, kRadius, Qt::black);
    if (shown_.recording) {
      strokeRoundedInside(p, r, kRadius, faded(Theme::rec, 0.8), 2);
    } else {
      strokeRoundedInside(p, r, kRadius, Theme::glassStroke.over(r), 1);
    }
  }

 private:
  struct Look {
    bool recording = false;
    bool black = false;  // the full-screen player is open
    friend bool operator==(const Look&, const Look&) = default;
  };
  Studio& studio_;
  ShadowCaster* shadow_;
  Look shown_;
};

QRegion roundedRegion(const QRect& rect, double radius) {
  QPainterPath path;
  path.addRoundedRect(QRectF(QPointF(0, 0), rect.size()), radius, radius);
  return QRegion(path.toFillPolygon().toPolygon());
}

}  // namespace

QRectF stageRect(QSizeF size) {
  const double w = std::max(0.0, std::min(size.width(), size.height() * 16.0 / 9.0));
  const double h = w * 9.0 / 16.0;
  return QRectF((size.width() - w) / 2, (size.height() - h) / 2, w, h);
}

PreviewStage::PreviewStage(Studio& studio, QWidget* picture, QWidget* parent)
    : QWidget(parent), studio_(studio) {
  setMinimumHeight(kMinimumHeight);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  picture_ = picture ? picture : new PreviewSurface(&studio, this);
  picture_->setParent(this);
  picture_->setObjectName(QStringLiteral("preview"));
  frame_ = new StageFrame(studio, this);

  panel_ = new QWidget(this);
  glass(panel_, glassRadius(16));
  auto* column = new QVBoxLayout(panel_);
  column->setContentsMargins(22, 22, 22, 22);
  column->setSpacing(12);
  auto* symbol = new SymbolView(QStringLiteral("exclamationmark.triangle.fill"), 22, Theme::amber,
                                500, panel_);
  column->addWidget(symbol, 0, Qt::AlignHCenter);
  message_ = new QLabel(panel_);
  message_->setWordWrap(true);
  message_->setAlignment(Qt::AlignHCenter);
  message_->setFont(uiFont(12, QFont::Normal));
  message_->setMaximumWidth(420);
  QPalette palette = message_->palette();
  palette.setColor(QPalette::WindowText, faded(Theme::text, 0.9));
  message_->setPalette(palette);
  column->addWidget(message_, 0, Qt::AlignHCenter);
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(8);
  retry_ = new GlassButton({}, QStringLiteral("arrow.clockwise"), {}, panel_);
  permissions_ = new GlassButton({}, QStringLiteral("lock.shield"), {}, panel_);
  buttons->addWidget(retry_);
  buttons->addWidget(permissions_);
  column->addLayout(buttons);
  column->setAlignment(buttons, Qt::AlignHCenter);
  panel_->hide();

  connect(retry_, &QAbstractButton::clicked, this, [this] { studio_.prepareRecording(); });
  connect(permissions_, &QAbstractButton::clicked, this,
          [this] { studio_.openScreenPermissionSettings(); });

  refresh_ = new CoalescedRefresh(this, [this] { refresh(); });
  connect(&studio_, &Studio::changed, refresh_, &CoalescedRefresh::request);
  connect(&LanguageSettings::shared(), &LanguageSettings::changed, refresh_,
          &CoalescedRefresh::request);
  refresh();
}

bool PreviewStage::showsBlack() const {
  return studio_.fullscreenPreview() && !picture_->isVisible();
}

void PreviewStage::refreshNow() {
  refresh_->flush();
}

void PreviewStage::refresh() {
  picture_->setVisible(!studio_.fullscreenPreview());
  static_cast<StageFrame*>(frame_)->refresh();

  // A failure left over from the live preview means nothing once a project is open.
  const bool showPanel = studio_.standby() && studio_.setupError().has_value();
  if (showPanel) {
    message_->setText(QString::fromStdString(shownMessage(*studio_.setupError())));
    retry_->setText(QL("重新预览"));
    permissions_->setText(QL("权限设置"));
    retry_->updateGeometry();
    permissions_->updateGeometry();
  }
  panel_->setVisible(showPanel);
  place();
}

void PreviewStage::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  place();
}

void PreviewStage::place() {
  const QRect r = stage().toAlignedRect();
  if (picture_->geometry() != r) {
    picture_->setGeometry(r);
    picture_->setMask(roundedRegion(r, kRadius));
  }
  frame_->setGeometry(r);
  frame_->raise();
  if (panel_->isVisible()) {
    panel_->adjustSize();
    QRect p(QPoint(0, 0), panel_->sizeHint().boundedTo(size()));
    p.moveCenter(r.center());
    panel_->setGeometry(p);
    panel_->raise();
  }
}

}  // namespace vantry
