#include "player/playback_controls.h"

#include <QEnterEvent>
#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>

#include <cmath>

#include "design/buttons.h"
#include "design/coalesced_refresh.h"
#include "design/icons.h"
#include "design/menus.h"
#include "design/motion.h"
#include "design/painting.h"
#include "design/shadow.h"
#include "design/theme.h"
#include "localization/qt/language_settings.h"
#include "localization/qt/qt_text.h"
#include "studio/studio.h"

namespace vantry {

namespace {

constexpr QColor kPlayInk = Color(0x05070C);

}  // namespace

// --- PlayButton ---

PlayButton::PlayButton(QWidget* parent) : QAbstractButton(parent), hover_(new Animated(0, this)) {
  setFixedSize(38, 38);
  setAttribute(Qt::WA_Hover);
  setFocusPolicy(Qt::TabFocus);
  shadow_ = new ShadowCaster(
      this,
      [this](QPainter& p) {
        if (!isEnabled()) return;  // no glow on a button that cannot be pressed
        const double h = hover_->value();
        paintShadow(p, rect(), 19, Shadow{faded(Theme::cyan, 0.45 + 0.25 * h), 9 + 5 * h, {}});
      },
      shadowReach(Shadow{Theme::cyan, 14, {}}));
  connect(hover_, &Animated::changed, this, [this] {
    update();
    shadow_->update();
  });
  handCursor(this);
}

void PlayButton::setPlaying(bool playing) {
  if (playing_ == playing) return;
  playing_ = playing;
  update();
}

void PlayButton::setHovering(bool hovering) {
  if (hovering_ == hovering) return;
  hovering_ = hovering;
  hover_->animateTo(hovering ? 1 : 0, Curve::easeOut(0.15));
}

void PlayButton::enterEvent(QEnterEvent* event) {
  setHovering(true);
  QAbstractButton::enterEvent(event);
}

void PlayButton::leaveEvent(QEvent* event) {
  setHovering(false);
  QAbstractButton::leaveEvent(event);
}

bool PlayButton::hitButton(const QPoint& pos) const {
  const QPointF d = QPointF(pos) - QRectF(rect()).center();
  return std::hypot(d.x(), d.y()) <= width() / 2.0;
}

void PlayButton::changeEvent(QEvent* event) {
  if (event->type() == QEvent::EnabledChange) {
    update();
    shadow_->update();
  }
  QAbstractButton::changeEvent(event);
}

void PlayButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r = rect();
  const bool enabled = isEnabled();
  p.setPen(Qt::NoPen);
  // Disabled (while exporting) it loses its gradient as the primary button does, so that it
  // no longer looks like it could be pressed.
  if (enabled) {
    p.setBrush(Theme::accentDiagonal.over(r));
  } else {
    p.setBrush(Color(0xFFFFFF, 0.08));
  }
  p.drawEllipse(r);
  if (enabled && hover_->value() > 0) {
    p.setBrush(Color(0xFFFFFF, 0.15 * hover_->value()));
    p.drawEllipse(r);
  }
  const QString symbol = playing_ ? QStringLiteral("pause.fill") : QStringLiteral("play.fill");
  QRectF box(0, 0, 14, 14);
  box.moveCenter(r.center() + QPointF(playing_ ? 0 : 1.5, 0));
  paintSymbol(p, symbol, box, enabled ? kPlayInk : Theme::tertiary, 700);
  paintFocusRing(p, this, r, r.width() / 2);
}

// --- ClockReadout ---

ClockReadout::ClockReadout(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setTimes(0, 0);
}

void ClockReadout::setTimes(double time, double duration) {
  const QString t = QString::fromStdString(clock(time));
  const QString d = QString::fromStdString(clock(duration));
  if (t == time_ && d == duration_) return;
  const bool resized = t.size() != time_.size() || d.size() != duration_.size();
  time_ = t;
  duration_ = d;
  if (resized) updateGeometry();
  update();
}

QSize ClockReadout::sizeHint() const {
  const QFontMetricsF big(Theme::mono(14, QFont::DemiBold));
  const QFontMetricsF small(Theme::mono(12, QFont::Normal));
  const double w = big.horizontalAdvance(time_) + 6 + small.horizontalAdvance(QStringLiteral("/")) +
                   6 + small.horizontalAdvance(duration_) + 20;
  return QSize(static_cast<int>(std::ceil(w)), 28);
}

void ClockReadout::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  fillRounded(p, rect(), 8, Color(0x000000, 0.28));
  const QFont bigFont = Theme::mono(14, QFont::DemiBold);
  const QFont smallFont = Theme::mono(12, QFont::Normal);
  double x = 10;
  auto draw = [&](const QString& text, const QFont& font, const QColor& color) {
    p.setFont(font);
    p.setPen(color);
    const QFontMetricsF m(font);
    const double baseline = (height() + m.ascent() - m.descent()) / 2.0;
    p.drawText(QPointF(x, baseline), text);
    x += m.horizontalAdvance(text) + 6;
  };
  draw(time_, bigFont, isEnabled() ? Theme::text : Theme::tertiary);
  draw(QStringLiteral("/"), smallFont, Theme::tertiary);
  draw(duration_, smallFont, isEnabled() ? Theme::secondary : Theme::tertiary);
}

// --- SpeedMenuButton ---

QString SpeedMenuButton::rateText(double rate) {
  return QString::asprintf("%g", rate) + QStringLiteral("×");
}

SpeedMenuButton::SpeedMenuButton(Studio& studio, QWidget* parent)
    : QAbstractButton(parent), studio_(studio) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setFocusPolicy(Qt::TabFocus);
  handCursor(this);
  connect(this, &QAbstractButton::clicked, this, [this] {
    QMenu* menu = buildMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(mapToGlobal(QPoint(0, height() + 4)));
  });
}

void SpeedMenuButton::setRate(double rate) {
  if (rate_ == rate) return;
  rate_ = rate;
  updateGeometry();
  update();
}

QMenu* SpeedMenuButton::buildMenu() {
  QMenu* menu = darkMenu(this);
  for (double r : rates) {
    QAction* action = addChoice(menu, rateText(r), studio_.playbackRate() == r);
    connect(action, &QAction::triggered, this, [this, r] { studio_.setPlaybackRate(r); });
  }
  return menu;
}

QSize SpeedMenuButton::sizeHint() const {
  const QFontMetricsF m(Theme::mono(11.5, QFont::Medium));
  const double w = 9 + 11 + 4 + m.horizontalAdvance(rateText(rate_)) + 9;
  return QSize(static_cast<int>(std::ceil(w)), 28);
}

void SpeedMenuButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  fillRounded(p, rect(), 8, Color(0xFFFFFF, underMouse() && isEnabled() ? 0.1 : 0.06));
  const QColor ink = isEnabled() ? Theme::text : Theme::tertiary;
  paintSymbol(p, u"speedometer", QRectF(9, (height() - 11) / 2.0, 11, 11), ink, 500);
  const QFont font = Theme::mono(11.5, QFont::Medium);
  p.setFont(font);
  p.setPen(ink);
  const QFontMetricsF m(font);
  p.drawText(QPointF(24, (height() + m.ascent() - m.descent()) / 2.0), rateText(rate_));
  paintFocusRing(p, this, rect(), 8);
}

// --- PlaybackControls ---

PlaybackControls::PlaybackControls(Studio& studio, bool fullScreen, QWidget* accessory,
                                   QWidget* parent)
    : QWidget(parent), studio_(studio), fullScreen_(fullScreen) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(12);

  const GlassButtonStyle compact{false, Theme::cyan, true};
  back_ = new GlassButton({}, QStringLiteral("backward.end.fill"), compact, this);
  back_->setFont(uiFont(12, QFont::Medium));
  play_ = new PlayButton(this);
  play_->setObjectName(QStringLiteral("play"));
  clock_ = new ClockReadout(this);
  clock_->setObjectName(QStringLiteral("clock"));
  speed_ = new SpeedMenuButton(studio, this);
  toggle_ = new GlassButton({},
                            fullScreen ? QStringLiteral("arrow.down.right.and.arrow.up.left")
                                       : QStringLiteral("arrow.up.left.and.arrow.down.right"),
                            compact, this);
  toggle_->setFont(uiFont(12, QFont::Medium));

  row->addWidget(back_);
  row->addWidget(play_);
  row->addWidget(clock_);
  row->addStretch(1);
  row->addSpacing(8);
  if (accessory) row->addWidget(accessory);
  row->addWidget(speed_);
  row->addWidget(toggle_);

  connect(back_, &QAbstractButton::clicked, this, [this] { studio_.seek(0); });
  connect(play_, &QAbstractButton::clicked, this, [this] { studio_.togglePlayback(); });
  connect(toggle_, &QAbstractButton::clicked, this, &PlaybackControls::toggleFullScreen);

  refresh_ = new CoalescedRefresh(this, [this] { refresh(); });
  connect(&studio_, &Studio::changed, refresh_, &CoalescedRefresh::request);
  connect(&studio_, &Studio::timeChanged, this, &PlaybackControls::refreshTime);
  connect(&LanguageSettings::shared(), &LanguageSettings::changed, this,
          &PlaybackControls::retranslate);
  retranslate();
  refresh();
}

QAbstractButton* PlaybackControls::backButton() const {
  return back_;
}

QAbstractButton* PlaybackControls::fullScreenButton() const {
  return toggle_;
}

void PlaybackControls::refreshNow() {
  refresh_->flush();
}

void PlaybackControls::retranslate() {
  back_->setToolTip(QL("回到开头"));
  back_->setAccessibleName(QL("回到开头"));
  speed_->setToolTip(QL("播放速度"));
  speed_->setAccessibleName(QL("播放速度"));
  toggle_->setToolTip(fullScreen_ ? QL("退出全屏（Esc）") : QL("全屏试看"));
  toggle_->setAccessibleName(fullScreen_ ? QL("退出全屏") : QL("全屏试看"));
  play_->setAccessibleName(studio_.playing() ? QL("暂停") : QL("播放"));
}

void PlaybackControls::refresh() {
  setEnabled(!studio_.exporting());
  if (play_->playing() != studio_.playing()) {
    play_->setPlaying(studio_.playing());
    play_->setAccessibleName(studio_.playing() ? QL("暂停") : QL("播放"));
  }
  speed_->setRate(studio_.playbackRate());
  refreshTime();
}

void PlaybackControls::refreshTime() {
  clock_->setTimes(studio_.time(), studio_.duration());
}

void PlaybackControls::toggleFullScreen() {
  if (!fullScreen_) {
    studio_.showFullscreenPreview();
    return;
  }
  // The player's own window: leave full screen (the player closes once the exit is done),
  // or close it when it is not full screen.
  if (!studio_.fullscreenController()) return;
  QWidget* player = window();
  if (player->isFullScreen()) {
    player->showNormal();
  } else {
    player->close();
  }
}

}  // namespace vantry
