#include "setup/monitor_overlay_view.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

#include "design/chrome.h"
#include "design/icons.h"
#include "design/motion.h"
#include "design/painting.h"
#include "design/pill_segment.h"
#include "design/shadow.h"
#include "design/theme.h"
#include "localization/qt/language_settings.h"
#include "localization/qt/qt_text.h"
#include "setup/overlay_controller.h"
#include "studio/studio.h"

namespace vantry {

namespace {

constexpr int kCardPadX = 40;
constexpr int kCardPadY = 30;
constexpr int kSlotHeight = 150;
constexpr int kBarMargin = 64;

void paintKeyHint(QPainter& p, QPointF at, const QString& key, const QString& title) {
  QFont keyFont = uiFont(10, QFont::DemiBold);
  keyFont.setStyleHint(QFont::Monospace);
  keyFont.setFamily(QStringLiteral("monospace"));
  const QFontMetricsF km(keyFont);
  const QRectF box(at.x(), at.y(), km.horizontalAdvance(key) + 12, 18);
  fillRounded(p, box, 4, faded(Qt::white, 0.1));
  strokeRoundedInside(p, box, 4, faded(Qt::white, 0.15), 0.8);
  p.setFont(keyFont);
  p.setPen(Theme::text);
  p.drawText(box, Qt::AlignCenter, key);
  const QFont titleFont = uiFont(11, QFont::Normal);
  p.setFont(titleFont);
  p.setPen(Theme::tertiary);
  p.drawText(QRectF(box.right() + 6, box.top(), 200, 18), Qt::AlignVCenter | Qt::AlignLeft, title);
}

double keyHintWidth(const QString& key, const QString& title) {
  QFont keyFont = uiFont(10, QFont::DemiBold);
  keyFont.setFamily(QStringLiteral("monospace"));
  return QFontMetricsF(keyFont).horizontalAdvance(key) + 12 + 6 +
         QFontMetricsF(uiFont(11, QFont::Normal)).horizontalAdvance(title);
}

QWidget* divider(QWidget* parent) {
  auto* line = new QWidget(parent);
  line->setFixedSize(1, 24);
  line->setAutoFillBackground(true);
  QPalette pal = line->palette();
  pal.setColor(QPalette::Window, Theme::hairline);
  line->setPalette(pal);
  return line;
}

// The floating control bar's glass ground.
class ControlBar final : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    paintGlass(p, rect(), GlassStyle{20, 0.06, std::nullopt});
  }
};

}  // namespace

// --- StartDisc ---

StartDisc::StartDisc(QWidget* parent)
    : QAbstractButton(parent),
      hover_(new Animated(0, this)),
      breathe_(new Repeating(1.6, true, this)) {
  setFixedSize(150, 150);
  setAccessibleName(QL("开始录制"));
  handCursor(this);
  connect(hover_, &Animated::changed, this, qOverload<>(&QWidget::update));
  connect(breathe_, &Repeating::changed, this, qOverload<>(&QWidget::update));
}

void StartDisc::setDim(double opacity) {
  if (opacity == dim_) return;
  dim_ = opacity;
  update();
}

bool StartDisc::hitButton(const QPoint& pos) const {
  const QPointF d = QPointF(pos) - QRectF(rect()).center();
  return std::hypot(d.x(), d.y()) <= 69;
}

void StartDisc::enterEvent(QEnterEvent* event) {
  QAbstractButton::enterEvent(event);
  hovering_ = true;
  hover_->animateTo(1, Curve::spring(0.3, 0.7));
}

void StartDisc::leaveEvent(QEvent* event) {
  QAbstractButton::leaveEvent(event);
  hovering_ = false;
  hover_->animateTo(0, Curve::spring(0.3, 0.7));
}

void StartDisc::showEvent(QShowEvent* event) {
  QAbstractButton::showEvent(event);
  breathe_->start();
}

void StartDisc::hideEvent(QHideEvent* event) {
  QAbstractButton::hideEvent(event);
  breathe_->stop();
}

void StartDisc::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setOpacity(dim_ * (isEnabled() ? 1.0 : 0.6));
  const QPointF c = QRectF(rect()).center();
  auto circle = [&c](double d) { return QRectF(c.x() - d / 2, c.y() - d / 2, d, d); };
  const double breath = breathe_->phase();
  const double h = hover_->value();

  // Halo.
  p.save();
  p.setOpacity(p.opacity() * (0.8 - 0.5 * breath));
  p.setPen(Qt::NoPen);
  p.setBrush(faded(Theme::rec, 0.18));
  p.drawEllipse(circle(138 * (0.94 + 0.14 * breath)));
  p.restore();
  // Ring.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(24, 28, 40, 150));
  p.drawEllipse(circle(112));
  p.setPen(QPen(faded(Qt::white, 0.22), 2));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(circle(110));
  // Disc with its red glow.
  const double d = 74 + 6 * h;
  const QRectF disc = circle(d);
  paintShadow(p, disc, d / 2, Shadow{faded(Theme::rec, 0.6 + 0.3 * h), 14 + 8 * h, QPointF(0, 0)});
  p.setPen(Qt::NoPen);
  p.setBrush(Theme::recGradient.over(disc));
  p.drawEllipse(disc);
  paintSymbol(p, u"record.circle", circle(28), faded(Qt::white, 0.95), 500);
}

// --- CameraToggle ---

CameraToggle::CameraToggle(Studio& studio, QWidget* parent)
    : GlassButton(QL("摄像头"), {}, GlassButtonStyle{studio.useCamera(), Theme::mint, false},
                  parent),
      studio_(studio) {}

QSizeF CameraToggle::contentSize() const {
  const QFontMetricsF m(font());
  return QSizeF(30 + 8 + m.horizontalAdvance(text()), 30);
}

void CameraToggle::paintThumbnail(QPainter& p, const QRectF& circle) const {
  const bool on = studio_.useCamera();
  QPainterPath clip;
  clip.addEllipse(circle);
  p.save();
  p.setClipPath(clip);
  p.fillPath(clip, QColor(0, 0, 0, 128));
  const QImage& frame = studio_.liveCameraImage();
  if (on && !frame.isNull()) {
    // Fill the circle, aspect kept; mirrored as the recording will mirror it.
    const QSizeF fitted =
        QSizeF(frame.size()).scaled(circle.size(), Qt::KeepAspectRatioByExpanding);
    QRectF target(QPointF(0, 0), fitted);
    target.moveCenter(circle.center());
    if (studio_.settings().mirrorsCamera()) {
      p.translate(circle.center().x() * 2, 0);
      p.scale(-1, 1);
    }
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(target, frame);
  } else {
    paintSymbol(p, on ? u"video.fill" : u"video.slash.fill",
                QRectF(circle.center() - QPointF(6.5, 6.5), QSizeF(13, 13)),
                on ? Theme::mint : Theme::tertiary);
  }
  p.restore();
  p.setPen(QPen(on ? Theme::mint : faded(Qt::white, 0.15), 1.5));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(circle.adjusted(0.75, 0.75, -0.75, -0.75));
}

QImage CameraToggle::thumbnail() const {
  QImage image(30, 30, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  paintThumbnail(p, QRectF(0, 0, 30, 30));
  return image;
}

void CameraToggle::paintContent(QPainter& p, const QRectF& rect, const QColor& color) {
  const QRectF circle(rect.left(), rect.center().y() - 15, 30, 30);
  p.setRenderHint(QPainter::Antialiasing);
  paintThumbnail(p, circle);
  p.setPen(color);
  p.setFont(font());
  p.drawText(
      QRectF(circle.right() + 8, rect.top(), rect.right() - circle.right() - 8, rect.height()),
      Qt::AlignVCenter | Qt::AlignLeft, text());
}

// --- MonitorOverlayView ---

MonitorOverlayView::MonitorOverlayView(Studio& studio, RecordingOverlayController& overlay,
                                       OverlayWindow* window, QString name, QSize pixels,
                                       bool showsControls)
    : QWidget(window),
      studio_(studio),
      overlay_(overlay),
      window_(window),
      name_(std::move(name)),
      pixels_(pixels),
      fade_(new Animated(0, this)),
      activeness_(new Animated(0, this)),
      disc_(new StartDisc(this)),
      spin_(new Repeating(1.0, false, this)) {
  setMouseTracking(true);
  connect(spin_, &Repeating::changed, this, qOverload<>(&QWidget::update));
  connect(fade_, &Animated::changed, this, qOverload<>(&QWidget::update));
  connect(activeness_, &Animated::changed, this, qOverload<>(&QWidget::update));
  connect(disc_, &QAbstractButton::clicked, this, [this] { overlay_.start(displayId()); });
  if (showsControls) buildControls();
  connect(&studio_, &Studio::changed, this, &MonitorOverlayView::refresh);
  // The camera button shows the live camera picture.
  connect(&studio_, &Studio::liveFrame, this, [this] {
    if (camera_) camera_->update();
  });
  connect(&overlay_, &RecordingOverlayController::changed, this, &MonitorOverlayView::refresh);
  connect(&LanguageSettings::shared(), &LanguageSettings::changed, this, [this] {
    disc_->setAccessibleName(QL("开始录制"));
    if (controls_) {
      // Texts of the bar follow the language.
      delete controls_;
      controls_ = nullptr;
      buildControls();
      controls_->show();
    }
    refresh();
  });
  refresh();
}

platform::DisplayId MonitorOverlayView::displayId() const {
  return window_->displayId();
}

bool MonitorOverlayView::active() const {
  return overlay_.hovered() == displayId() || overlay_.pending() == displayId();
}

QString MonitorOverlayView::pixelText() const {
  return QStringLiteral("%1 × %2").arg(pixels_.width()).arg(pixels_.height());
}

MonitorOverlayView::Slot MonitorOverlayView::slot() const {
  if (overlay_.pending() == displayId())
    return overlay_.countdown() ? Slot::countdown : Slot::connecting;
  return Slot::disc;
}

QString MonitorOverlayView::shownMessage() const {
  if (!overlay_.message() || overlay_.pending()) return {};
  return *overlay_.message();
}

void MonitorOverlayView::fadeTo(double opacity, double seconds) {
  if (seconds <= 0)
    fade_->jumpTo(opacity);
  else
    fade_->animateTo(opacity, Curve::easeOut(seconds));
}

double MonitorOverlayView::fade() const {
  return fade_->value();
}

void MonitorOverlayView::release() {
  disconnect(&studio_, nullptr, this, nullptr);
  disconnect(&overlay_, nullptr, this, nullptr);
  disconnect(&LanguageSettings::shared(), nullptr, this, nullptr);
}

void MonitorOverlayView::buildControls() {
  controls_ = new ControlBar(this);
  auto* row = new QHBoxLayout(controls_);
  row->setContentsMargins(14, 10, 14, 10);
  row->setSpacing(12);

  auto* cancel = new IconButton(QStringLiteral("xmark"), QL("取消"), 30, controls_);
  cancel->setAccessibleName(QL("取消录屏设置"));
  connect(cancel, &QAbstractButton::clicked, this, [this] { overlay_.cancel(); });
  cancel_ = cancel;
  row->addWidget(cancel);
  row->addWidget(divider(controls_));

  source_ = new PillSegment(
      {{QVariant::fromValue(int(RecordingSource::display)), QL("屏幕"), QStringLiteral("display")},
       {QVariant::fromValue(int(RecordingSource::window)), QL("窗口"),
        QStringLiteral("macwindow")}},
      int(studio_.setupMode()), Theme::cyan, controls_);
  connect(source_, &PillSegment::selectionChanged, this, [this](const QVariant& value) {
    if (value.toInt() == int(RecordingSource::window)) overlay_.chooseWindow();
  });
  row->addWidget(source_);
  row->addWidget(divider(controls_));

  camera_ = new CameraToggle(studio_, controls_);
  connect(camera_, &QAbstractButton::clicked, this,
          [this] { studio_.setUseCamera(!studio_.useCamera()); });
  row->addWidget(camera_);

  presenter_ = new PillSegment(
      {{false, QL("人物小窗"), QStringLiteral("rectangle.inset.bottomtrailing.filled")},
       {true, QL("人物全屏"), QStringLiteral("person.crop.rectangle.fill")}},
      studio_.fullPresenter(), Theme::cyan, controls_);
  connect(presenter_, &PillSegment::selectionChanged, this,
          [this](const QVariant& value) { studio_.setFullPresenter(value.toBool()); });
  presenterFade_ = new QGraphicsOpacityEffect(presenter_);
  presenter_->setGraphicsEffect(presenterFade_);
  row->addWidget(presenter_);

  microphone_ = new GlassButton(QL("麦克风"), QStringLiteral("mic.fill"),
                                GlassButtonStyle{true, Theme::cyan, false}, controls_);
  connect(microphone_, &QAbstractButton::clicked, this,
          [this] { studio_.setUseMicrophone(!studio_.useMicrophone()); });
  row->addWidget(microphone_);
  placeChildren();
}

void MonitorOverlayView::refresh() {
  const bool act = active();
  if ((activeness_->value() > 0.5) != act) activeness_->animateTo(act ? 1 : 0, Curve::easeOut(0.2));
  const bool starting = overlay_.pending().has_value();
  disc_->setVisible(slot() == Slot::disc);
  if (slot() == Slot::connecting)
    spin_->start();
  else
    spin_->stop();
  disc_->setEnabled(!studio_.busy() && !starting);
  disc_->setDim(starting && overlay_.pending() != displayId() ? 0.35 : 1.0);
  if (controls_) {
    controls_->setEnabled(!studio_.busy() && !starting);
    source_->setSelection(int(studio_.setupMode()));
    const bool cam = studio_.useCamera();
    camera_->setActive(cam);
    camera_->setAccessibleDescription(cam ? QL("已开启") : QL("已关闭"));
    camera_->update();
    presenter_->setSelection(studio_.fullPresenter());
    presenter_->setEnabled(cam && controls_->isEnabled());
    presenter_->setAttribute(Qt::WA_TransparentForMouseEvents, !cam);
    presenterFade_->setOpacity(cam ? 1.0 : 0.4);
    const bool mic = studio_.useMicrophone();
    microphone_->setActive(mic);
    microphone_->setSymbol(mic ? QStringLiteral("mic.fill") : QStringLiteral("mic.slash.fill"));
    microphone_->setAccessibleDescription(mic ? QL("已开启") : QL("已关闭"));
  }
  placeChildren();
  update();
}

QRect MonitorOverlayView::cardRect() const {
  const QFontMetricsF nameMetrics(uiFont(17, QFont::DemiBold));
  const double header = 42 + 12 +
                        std::max(nameMetrics.horizontalAdvance(name_),
                                 QFontMetricsF(Theme::mono()).horizontalAdvance(pixelText()));
  const double hints = keyHintWidth(QStringLiteral("↩"), QL("开始")) + 14 +
                       keyHintWidth(QStringLiteral("esc"), QL("取消"));
  const double content = std::max({header, hints, double(kSlotHeight)});
  const int w = int(std::ceil(std::max(340.0, content + 2 * kCardPadX)));
  int h = kCardPadY + 42 + 18 + kSlotHeight + 6 + 20 + 18 + 18 + kCardPadY;
  const QString message = shownMessage();
  if (!message.isEmpty()) {
    const QRectF bound = QFontMetricsF(uiFont(11.5, QFont::Normal))
                             .boundingRect(QRectF(0, 0, std::min(340, w - 2 * kCardPadX), 1000),
                                           Qt::AlignHCenter | Qt::TextWordWrap, message);
    h += int(std::ceil(bound.height())) + 18;
  }
  return QRect((width() - w) / 2, (height() - h) / 2, w, h);
}

void MonitorOverlayView::placeChildren() {
  const QRect card = cardRect();
  disc_->move(card.center().x() - 75, card.top() + kCardPadY + 42 + 18);
  if (controls_) {
    controls_->adjustSize();
    const QSize s = controls_->sizeHint();
    controls_->setGeometry((width() - s.width()) / 2, height() - kBarMargin - s.height(), s.width(),
                           s.height());
  }
}

void MonitorOverlayView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  placeChildren();
}

void MonitorOverlayView::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  overlay_.setHovered(displayId());
}

void MonitorOverlayView::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  overlay_.leave(displayId());
}

void MonitorOverlayView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  // Without a compositor the grabbed screen stands in for what lies below: it stays whole
  // while the dimming and the card fade, or the window's plain ground would show through.
  const QImage& grab = window_->backdrop();
  if (!grab.isNull()) p.drawImage(QRectF(rect()), grab);
  p.setOpacity(fade_->value());
  const double a = activeness_->value();
  p.fillRect(rect(), QColor::fromRgbF(0, 0, 0, 0.5 - 0.28 * a));
  if (a > 0) {
    p.save();
    p.setOpacity(p.opacity() * a);
    const QRectF frame = QRectF(rect()).adjusted(6, 6, -6, -6);
    // The border's cyan glow, on both sides of the line only: widening strokes, each faint,
    // so that they add up towards the line.
    const QPainterPath line = continuousRoundedRect(frame.adjusted(1.5, 1.5, -1.5, -1.5), 12.5);
    p.setBrush(Qt::NoBrush);
    for (int i = 6; i >= 1; --i) {
      p.setPen(QPen(faded(Theme::cyan, 0.8 * 0.09), 3 + 4.0 * i));
      p.drawPath(line);
    }
    strokeRoundedInside(p, frame, 14, Theme::accent.over(frame), 3);
    p.restore();
  }
  paintCard(p);
}

void MonitorOverlayView::paintFrost(QPainter& p, const QRectF& card, double radius) {
  // Without a compositor the screen below is known: the card frosts it as a material would.
  const QImage& grab = window_->backdrop();
  if (grab.isNull()) return;
  const QRect area = card.toAlignedRect();
  if (frostArea_ != area || frostKey_ != grab.cacheKey() || frost_.isNull()) {
    const double sx = double(grab.width()) / std::max(1, width());
    const double sy = double(grab.height()) / std::max(1, height());
    const QRect source(int(area.x() * sx), int(area.y() * sy), int(area.width() * sx),
                       int(area.height() * sy));
    // Shrinking to a tenth and smoothly back blurs enough for a frosted ground.
    const QImage small =
        grab.copy(source).scaled(std::max(1, area.width() / 10), std::max(1, area.height() / 10),
                                 Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    frost_ = small.scaled(area.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    frostArea_ = area;
    frostKey_ = grab.cacheKey();
  }
  p.save();
  p.setClipPath(continuousRoundedRect(card, radius), Qt::IntersectClip);
  p.drawImage(area.topLeft(), frost_);
  p.fillRect(card, QColor::fromRgbF(0, 0, 0, 0.5 - 0.28 * activeness_->value()));
  p.restore();
}

void MonitorOverlayView::paintCard(QPainter& p) {
  const QRectF card = cardRect();
  const double a = activeness_->value();
  p.save();
  const bool other = overlay_.pending() && overlay_.pending() != displayId();
  p.setOpacity(p.opacity() * (other ? 0.35 : 1.0));
  scaleAbout(p, card, 0.97 + 0.03 * a);
  const GlassStyle style{28, 0.05, a > 0.5 ? std::optional(Theme::cyan) : std::nullopt};
  {
    // The halo outside the card only: the glass would let it show through.
    const Shadow halo = glassShadow(style);
    const int reach = shadowReach(halo);
    QPainterPath outside;
    outside.addRect(card.adjusted(-reach, -reach, reach, reach));
    p.save();
    p.setClipPath(outside.subtracted(continuousRoundedRect(card, style.radius)), Qt::IntersectClip);
    paintShadow(p, card, style.radius, halo);
    p.restore();
  }
  paintFrost(p, card, style.radius);
  paintGlass(p, card, style);

  // Header: the display symbol, name and pixel size.
  const double left = card.left() + kCardPadX;
  double y = card.top() + kCardPadY;
  const double contentWidth = card.width() - 2 * kCardPadX;
  const QFontMetricsF nameMetrics(uiFont(17, QFont::DemiBold));
  const double headerWidth = 42 + 12 +
                             std::max(nameMetrics.horizontalAdvance(name_),
                                      QFontMetricsF(Theme::mono()).horizontalAdvance(pixelText()));
  const double hx = left + (contentWidth - headerWidth) / 2;
  const QRectF tile(hx, y, 42, 42);
  fillRounded(p, tile, 11, faded(Theme::cyan, 0.12));
  paintSymbol(p, u"display", tile.adjusted(11, 11, -11, -11), Theme::cyan, 500);
  p.setFont(uiFont(17, QFont::DemiBold));
  p.setPen(Theme::text);
  p.drawText(QRectF(hx + 54, y - 1, headerWidth, 22), Qt::AlignLeft | Qt::AlignVCenter, name_);
  p.setFont(Theme::mono());
  p.setPen(Theme::secondary);
  p.drawText(QRectF(hx + 54, y + 24, headerWidth, 16), Qt::AlignLeft | Qt::AlignVCenter,
             pixelText());
  y += 42 + 18;

  // Main slot.
  const QRectF slotRect(left, y, contentWidth, kSlotHeight);
  QString caption;
  QFont captionFont = uiFont(12.5, QFont::Normal);
  QColor captionColor = Theme::secondary;
  switch (slot()) {
    case Slot::countdown: {
      QFont big = uiFont(110, QFont::Bold);
      QPainterPath numeral;
      const QString n = QString::number(*overlay_.countdown());
      const QFontMetricsF m(big);
      numeral.addText(slotRect.center().x() - m.horizontalAdvance(n) / 2,
                      slotRect.center().y() + (m.ascent() - m.descent()) / 2, big, n);
      // The glow follows the glyph: its shape shrunk and smoothly grown back, blurred.
      const QRectF glowArea = numeral.boundingRect().adjusted(-30, -30, 30, 30);
      QImage glow(glowArea.size().toSize() / 14, QImage::Format_ARGB32_Premultiplied);
      glow.fill(Qt::transparent);
      {
        QPainter g(&glow);
        g.setRenderHint(QPainter::Antialiasing);
        g.scale(1.0 / 14, 1.0 / 14);
        g.translate(-glowArea.topLeft());
        g.fillPath(numeral, Theme::cyan);
      }
      p.save();
      p.setRenderHint(QPainter::SmoothPixmapTransform);
      // Twice: a single pass of the thinned glyph is fainter than the glow wanted.
      p.setOpacity(p.opacity() * 0.6);
      p.drawImage(glowArea, glow);
      p.drawImage(glowArea, glow);
      p.restore();
      p.fillPath(numeral, Theme::accentDiagonal.over(numeral.boundingRect()));
      caption = QL("即将开始录制");
      break;
    }
    case Slot::connecting: {
      // An indeterminate spinner: an arc turning with the clock.
      const QRectF ring(slotRect.center() - QPointF(16, 16), QSizeF(32, 32));
      p.setPen(QPen(faded(Qt::white, 0.15), 3));
      p.drawEllipse(ring);
      p.setPen(QPen(Theme::text, 3, Qt::SolidLine, Qt::RoundCap));
      p.drawArc(ring, int(std::lround((90 - 360 * spin_->phase()) * 16)), -100 * 16);
      caption = QL("正在连接屏幕与摄像头…");
      break;
    }
    case Slot::disc:
      caption = QL("录制这块屏幕");
      captionFont = uiFont(14, QFont::DemiBold);
      captionColor = Theme::text;
      break;
  }
  y += kSlotHeight + 6;
  p.setFont(captionFont);
  p.setPen(captionColor);
  p.drawText(QRectF(left, y, contentWidth, 20), Qt::AlignCenter, caption);
  y += 20 + 18;

  const QString message = shownMessage();
  if (!message.isEmpty()) {
    const double mw = std::min(340.0, contentWidth);
    const QFont font = uiFont(11.5, QFont::Normal);
    const QRectF bound = QFontMetricsF(font).boundingRect(
        QRectF(0, 0, mw, 1000), Qt::AlignHCenter | Qt::TextWordWrap, message);
    p.setFont(font);
    p.setPen(Theme::amber);
    p.drawText(QRectF(card.center().x() - mw / 2, y, mw, std::ceil(bound.height())),
               Qt::AlignHCenter | Qt::TextWordWrap, message);
    y += std::ceil(bound.height()) + 18;
  }

  // Key hints.
  const QString start = QL("开始");
  const QString cancel = QL("取消");
  const double hintsWidth =
      keyHintWidth(QStringLiteral("↩"), start) + 14 + keyHintWidth(QStringLiteral("esc"), cancel);
  const double kx = card.center().x() - hintsWidth / 2;
  paintKeyHint(p, QPointF(kx, y), QStringLiteral("↩"), start);
  paintKeyHint(p, QPointF(kx + keyHintWidth(QStringLiteral("↩"), start) + 14, y),
               QStringLiteral("esc"), cancel);
  p.restore();
}

}  // namespace vantry
