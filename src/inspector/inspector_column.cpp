#include "inspector/inspector_column.h"

#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <cmath>

#include "design/buttons.h"
#include "design/coalesced_refresh.h"
#include "design/icons.h"
#include "design/motion.h"
#include "design/neon_slider.h"
#include "design/neon_switch.h"
#include "design/number_text.h"
#include "design/painting.h"
#include "design/pill_segment.h"
#include "design/shadow.h"
#include "design/theme.h"
#include "design/view_parts.h"
#include "inspector/inspector_sections.h"
#include "localization/qt/language_settings.h"
#include "localization/qt/qt_text.h"
#include "render/composition_geometry.h"
#include "studio/studio.h"

namespace vantry {

QString inspectorTabTitle(InspectorTab tab) {
  switch (tab) {
    case InspectorTab::motion:
      return QL("镜头");
    case InspectorTab::presenter:
      return QL("人物");
    case InspectorTab::canvas:
      return QL("画面");
    case InspectorTab::cursor:
      return QL("指针");
  }
  return {};
}

QString inspectorTabIcon(InspectorTab tab) {
  switch (tab) {
    case InspectorTab::motion:
      return QStringLiteral("camera.viewfinder");
    case InspectorTab::presenter:
      return QStringLiteral("person.crop.square");
    case InspectorTab::canvas:
      return QStringLiteral("photo.on.rectangle.angled");
    case InspectorTab::cursor:
      return QStringLiteral("cursorarrow.rays");
  }
  return {};
}

namespace {

const Curve kTabFade = Curve::easeOut(0.18);
const Curve kPaddingGlide = Curve::easeInOut(0.35);

// One tab of the strip: its symbol over its title, the selected one on a faint plate with
// the accent bar at its foot.
class TabButton : public QAbstractButton {
 public:
  TabButton(InspectorTab tab, QWidget* parent)
      : QAbstractButton(parent), tab_(tab), selected_(new Animated(0, this)) {
    setFixedHeight(52);
    setCheckable(true);
    // The selected look and the label colour change together with the content's fade.
    connect(this, &QAbstractButton::toggled, this,
            [this](bool on) { selected_->animateTo(on ? 1 : 0, kTabFade); });
    connect(selected_, &Animated::changed, this, qOverload<>(&QWidget::update));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
    handCursor(this);
  }
  QSize sizeHint() const override { return {60, 52}; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect());
    const bool on = isChecked();
    const double look = selected_->value();
    if (look > 0) {
      painter.save();
      painter.setOpacity(look);
      fillRounded(painter, r, 10, Color(0xFFFFFF, 0.07));
      const QRectF bar(r.center().x() - 11, r.bottom() - 3 - 2.5, 22, 2.5);
      paintShadow(painter, bar, 1.25, Shadow{Theme::cyan, 4, {0, 0}});
      painter.setPen(Qt::NoPen);
      painter.setBrush(Theme::accent.over(bar));
      painter.drawRoundedRect(bar, 1.25, 1.25);
      painter.restore();
    }
    const QColor color = mixed(Theme::secondary, Theme::text, look);
    paintSymbol(painter, inspectorTabIcon(tab_), QRectF(r.center().x() - 8, 9, 16, 16), color,
                on ? 600 : 400);
    QFont font = uiFont(10, QFont::Medium);
    const QString title = inspectorTabTitle(tab_);
    // Shrinks down to 60 per cent before it is cut; never wraps.
    for (double size = 10; size >= 6; size -= 0.5) {
      font.setPointSizeF(size);
      if (QFontMetricsF(font).horizontalAdvance(title) <= r.width() - 4) break;
    }
    painter.setFont(font);
    painter.setPen(color);
    const QString shown = QFontMetricsF(font).elidedText(title, Qt::ElideRight, r.width() - 4);
    painter.drawText(QRectF(2, 30, r.width() - 4, 14), Qt::AlignCenter, shown);
    if (hasFocus()) paintFocusRing(painter, this, r, 10);
  }

 private:
  InspectorTab tab_;
  Animated* selected_;
};

// A palette swatch: the palette's gradient, a bright border and a check when chosen.
class SwatchButton : public QAbstractButton {
 public:
  SwatchButton(int index, QWidget* parent) : QAbstractButton(parent), index_(index) {
    setCheckable(true);
    setFocusPolicy(Qt::TabFocus);  // a click does not take the keyboard focus
    setFixedHeight(46);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    handCursor(this);
    setAccessibleName(QL("背景") + QLatin1Char(' ') + QString::number(index + 1));
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const auto& palette = CompositionGeometry::palettes[static_cast<std::size_t>(index_)];
    QRectF r = QRectF(rect()).adjusted(4, 4, -4, -4);
    const double w = std::min(r.width(), r.height() * 1.6);
    r = QRectF(r.center().x() - w / 2, r.center().y() - w / 1.6 / 2, w, w / 1.6);
    if (isChecked()) paintShadow(painter, r, 9, Shadow{Color(palette[1], 0.7), 8, {0, 0}});
    QLinearGradient gradient(r.bottomLeft(), r.topRight());
    gradient.setColorAt(0, Color(palette[0]));
    gradient.setColorAt(0.5, Color(palette[1]));
    gradient.setColorAt(1, Color(palette[2]));
    fillRounded(painter, r, 9, gradient);
    strokeRoundedInside(painter, r, 9, isChecked() ? QColor(Qt::white) : Color(0xFFFFFF, 0.12),
                        isChecked() ? 2 : 1);
    if (isChecked()) {
      paintSymbol(painter, u"checkmark.circle.fill",
                  QRectF(r.right() - 17, r.bottom() - 17, 12, 12), Qt::white);
    }
    // In the margin around the face, so that it hides none of the palette.
    const double ring = 2 * kFocusBand;
    paintFocusRing(painter, this, r.adjusted(-ring, -ring, ring, ring), 9 + ring);
  }

 private:
  int index_;
};

// A corner of the miniature frame: a small plate with a person on it.
class CornerButton : public QAbstractButton {
 public:
  CornerButton(CameraCorner corner, QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setFixedSize(44, 30);
    setFocusPolicy(Qt::TabFocus);  // a click does not take the keyboard focus
    handCursor(this);
    setAccessibleName(QString::fromStdString(label(corner)));
    // The chosen corner glows mint around its face, beyond the button's own rectangle.
    auto* glow = new ShadowCaster(
        this,
        [this](QPainter& p) {
          if (isChecked()) paintShadow(p, face(), 5, kGlow);
        },
        shadowReach(kGlow));
    connect(this, &QAbstractButton::toggled, glow, &ShadowCaster::update);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF r = face();
    if (isChecked()) {
      // The presenter track's own gradient, as its blocks in the timeline.
      QLinearGradient track(r.topLeft(), r.bottomLeft());
      track.setColorAt(0, Theme::presenterTrack[0]);
      track.setColorAt(1, Theme::presenterTrack[1]);
      fillRounded(painter, r, 5, track);
      strokeRoundedInside(painter, r, 5, Theme::mint, 1);
    } else {
      fillRounded(painter, r, 5, Color(0xFFFFFF, 0.08));
      strokeRoundedInside(painter, r, 5, Color(0xFFFFFF, 0.14), 1);
    }
    paintSymbol(painter, u"person.fill", QRectF(r.center().x() - 5, r.center().y() - 5, 10, 10),
                isChecked() ? QColor(Qt::white) : Theme::tertiary);
    paintFocusRing(painter, this, QRectF(rect()), 6);
  }

 private:
  inline static const Shadow kGlow{faded(Theme::mint, 0.5), 6, {0, 0}};
  QRectF face() const { return QRectF(rect()).adjusted(1, 1, -1, -1); }
};

// The 16:9 miniature of the output frame with a corner button in each corner.
class CornerFrame : public QWidget {
 public:
  explicit CornerFrame(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    markShadowHost(this);
  }
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int w) const override { return qRound(w * 9.0 / 16.0); }
  QSize sizeHint() const override { return {232, 130}; }

 protected:
  void resizeEvent(QResizeEvent*) override {
    for (auto* button : findChildren<QAbstractButton*>()) {
      const auto corner = button->property("corner").toInt();
      const auto c = kAllCameraCorners[corner];
      const bool right = c == CameraCorner::bottomRight || c == CameraCorner::topRight;
      const bool bottom = c == CameraCorner::bottomRight || c == CameraCorner::bottomLeft;
      button->move(right ? width() - 8 - button->width() : 8,
                   bottom ? height() - 8 - button->height() : 8);
    }
  }
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    fillRounded(painter, QRectF(rect()), 10, Color(0x000000, 0.3));
    strokeRoundedInside(painter, QRectF(rect()), 10, Theme::hairline, 1);
    paintHostedShadows(this, painter);
  }
};

// The footer's thin progress bar.
class ProgressBar : public QWidget {
 public:
  explicit ProgressBar(QWidget* parent) : QWidget(parent) { setFixedHeight(8); }
  void setProgress(double progress) {
    progress_ = std::isfinite(progress) ? std::clamp(progress, 0.0, 1.0) : 0.0;
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track(0, 2, width(), 4);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Color(0xFFFFFF, 0.08));
    painter.drawRoundedRect(track, 2, 2);
    const QRectF fill(0, 2, width() * progress_, 4);
    if (fill.width() <= 0) return;
    paintShadow(painter, fill, 2, Shadow{Color(0x4FD8FF, 0.6), 5, {0, 0}});
    painter.setBrush(Theme::accent.over(track));
    painter.drawRoundedRect(fill, 2, 2);
  }

 private:
  double progress_ = 0;
};

QVBoxLayout* stackOf(QWidget* page, int spacing) {
  auto* stack = new QVBoxLayout(page);
  stack->setContentsMargins(0, 0, 0, 0);
  stack->setSpacing(spacing);
  return stack;
}

NeonSwitch* makeSwitch(const QString& title, const char* name, QWidget* parent) {
  auto* toggle = new NeonSwitch(title, false, parent);
  toggle->setObjectName(QString::fromLatin1(name));
  return toggle;
}

}  // namespace

InspectorColumn::InspectorColumn(Studio& studio, std::function<void()> openPrivacy, QWidget* parent)
    : QWidget(parent), studio_(studio), openPrivacy_(std::move(openPrivacy)) {
  refresh_ = new CoalescedRefresh(this, [this] { refresh(); });
  fadeIn_ = new Animated(1, this);
  connect(fadeIn_, &Animated::changed, this, [this] { followFade(); });
  build();
  // A control lit by Tab comes into view; the scroll area itself does that only for Tab
  // pressed inside it.
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
    auto* scroll = control<QScrollArea>("tabScroll");
    if (now && scroll && scroll->widget() && scroll->widget()->isAncestorOf(now))
      scroll->ensureWidgetVisible(now, 0, 18);
  });
  connect(&studio_, &Studio::changed, refresh_, &CoalescedRefresh::request);
  // Every title is set once when built: a new language builds the column anew, on the tab
  // that was open.
  connect(&LanguageSettings::shared(), &LanguageSettings::changed, this, [this] { rebuild(); });
  refresh();
}

void InspectorColumn::rebuild() {
  const InspectorTab tab = tab_;
  followers_.clear();
  const QObjectList children = this->children();
  for (QObject* child : children)
    if (child->isWidgetType()) delete child;
  delete layout();
  build();
  // Children added to a column already on screen stay hidden until shown.
  for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    child->show();
  setTab(tab);
  refresh();
}

void InspectorColumn::writeSetting(const std::function<void(EditSettings&)>& change) {
  EditSettings next = studio_.settings();
  change(next);
  studio_.setSettings(next);
}

void InspectorColumn::build() {
  auto* column = stackOf(this, 0);
  auto* strip = new QWidget(this);
  auto* tabs = new QHBoxLayout(strip);
  tabs->setContentsMargins(8, 8, 8, 8);
  tabs->setSpacing(4);
  for (InspectorTab tab : kAllInspectorTabs) {
    auto* button = new TabButton(tab, strip);
    button->setObjectName(QStringLiteral("tab%1").arg(static_cast<int>(tab)));
    button->setAccessibleName(inspectorTabTitle(tab));
    connect(button, &QAbstractButton::clicked, this, [this, tab] { setTab(tab); });
    tabs->addWidget(button, 1);
    tabButtons_[static_cast<int>(tab)] = button;
  }
  column->addWidget(strip);
  auto hairline = [this] {
    auto* line = new QWidget(this);
    line->setFixedHeight(1);
    line->setAutoFillBackground(true);
    line->setStyleSheet(QStringLiteral("background: rgba(255,255,255,0.08);"));
    return line;
  };
  column->addWidget(hairline());

  auto* scroll = new QScrollArea(this);
  scroll->setObjectName(QStringLiteral("tabScroll"));
  // Not a stop of its own: Tab goes straight to the controls in it.
  scroll->setFocusPolicy(Qt::NoFocus);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  // Hidden bars still scroll with the wheel.
  scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll->setStyleSheet(QStringLiteral("QScrollArea { background: transparent; }"));
  auto* content = new QWidget;
  content->setObjectName(QStringLiteral("tabContent"));
  content->setStyleSheet(QStringLiteral("#tabContent { background: transparent; }"));
  auto* pages = new QVBoxLayout(content);
  pages->setContentsMargins(18, 18, 18, 18);
  pages->setSpacing(20);
  pages_ = {buildMotion(), buildPresenter(), buildCanvas(), buildCursor()};
  for (auto* page : pages_) {
    page->setParent(content);
    pages->addWidget(page);
  }
  pages->addStretch(1);
  scroll->setWidget(content);
  scroll->viewport()->setAutoFillBackground(false);
  content->setAutoFillBackground(false);
  column->addWidget(scroll, 1);
  column->addWidget(hairline());
  column->addWidget(buildFooter());
  setTab(InspectorTab::motion);
}

void InspectorColumn::setTab(InspectorTab tab) {
  const bool changed = tab != tab_ || !pages_[static_cast<std::size_t>(tab)]->isVisibleTo(this);
  tab_ = tab;
  for (InspectorTab each : kAllInspectorTabs) {
    const int i = static_cast<int>(each);
    tabButtons_[static_cast<std::size_t>(i)]->setChecked(each == tab);
    pages_[static_cast<std::size_t>(i)]->setVisible(each == tab);
  }
  if (!changed) return;
  // The new content fades in; the effect goes once it is opaque, since it costs a render
  // to an offscreen picture on every paint.
  fadeIn_->jumpTo(0);  // ends an earlier fade
  QWidget* page = pages_[static_cast<std::size_t>(tab)];
  auto* fade = new QGraphicsOpacityEffect(page);
  fade->setOpacity(0);
  page->setGraphicsEffect(fade);
  fading_ = page;
  fadeIn_->animateTo(1, kTabFade);
}

double InspectorColumn::tabOpacity() const {
  auto* fade = fading_ ? qobject_cast<QGraphicsOpacityEffect*>(fading_->graphicsEffect()) : nullptr;
  return fade ? fade->opacity() : 1.0;
}

void InspectorColumn::followFade() {
  if (!fading_) return;
  const double opacity = fadeIn_->value();
  if (opacity >= 1 || !fadeIn_->running()) {
    fading_->setGraphicsEffect(nullptr);
    fading_ = nullptr;
    return;
  }
  if (auto* fade = qobject_cast<QGraphicsOpacityEffect*>(fading_->graphicsEffect()))
    fade->setOpacity(opacity);
}

QWidget* InspectorColumn::buildMotion() {
  auto* page = new QWidget;
  auto* stack = stackOf(page, 20);

  // The selected zoom block.
  auto* selected =
      new InspectorSection(QStringLiteral("scope"), QL("选中的缩放"), Theme::violet, page);
  selected->setObjectName(QStringLiteral("selectedZoom"));
  auto* header = new QHBoxLayout;
  auto* bounds = new QLabel(selected);
  bounds->setFont(Theme::mono());
  bounds->setObjectName(QStringLiteral("zoomBounds"));
  bounds->setStyleSheet(QStringLiteral("color: %1;").arg(Theme::secondary.name()));
  auto* badge = new QLabel(selected);
  badge->setObjectName(QStringLiteral("zoomBadge"));
  badge->setFont(uiFont(10, QFont::DemiBold));
  header->addWidget(bounds);
  header->addStretch(1);
  header->addWidget(badge);
  selected->card()->addLayout(header);
  auto* levelRow = new QHBoxLayout;
  levelRow->addWidget(makeLabel(QL("放大倍数"), 12, Theme::text, selected));
  levelRow->addStretch(1);
  auto* level = makeValuePill(Theme::violet, 0.12, selected);
  level->setObjectName(QStringLiteral("zoomLevel"));
  levelRow->addWidget(level);
  selected->card()->addLayout(levelRow);
  auto* amount = new NeonSlider(2, 1.1, 4.0, 0.05,
                                Gradient{Theme::violet, Theme::cyan, {0, 0.5}, {1, 0.5}}, selected);
  amount->setObjectName(QStringLiteral("zoomAmount"));
  amount->setAccessibleName(QL("放大倍数"));
  selected->card()->addWidget(amount);
  std::vector<PillSegment::Item> presets;
  for (double preset : {1.5, 2.0, 2.5, 3.0}) {
    presets.push_back({preset, magnificationText(preset), {}});
  }
  auto* presetPicker = new PillSegment(presets, -1.0, Theme::violet, selected);
  presetPicker->setObjectName(QStringLiteral("zoomPresets"));
  selected->card()->addWidget(presetPicker);
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(6);
  auto* useDefault =
      new GlassButton(QL("跟随默认"), QStringLiteral("arrow.uturn.backward"), {}, selected);
  useDefault->setObjectName(QStringLiteral("zoomUseDefault"));
  auto* remove = new GlassButton(QL("删除缩放"), QStringLiteral("trash"),
                                 {false, Theme::rec, false}, selected);
  remove->setObjectName(QStringLiteral("zoomRemove"));
  buttons->addWidget(useDefault);
  buttons->addStretch(1);
  buttons->addWidget(remove);
  selected->card()->addLayout(buttons);
  stack->addWidget(selected);

  // One undo step per drag, taken at its first real change.
  connect(amount, &NeonSlider::editingChanged, this, [this](bool editing) {
    editing ? studio_.beginEditGesture() : studio_.endEditGesture();
  });
  connect(amount, &NeonSlider::valueChanged, this, [this](double value) {
    // A press that lands on the shown magnification leaves a following block following.
    auto zoom = studio_.selectedZoom();
    if (!zoom || value == zoom->amount.value_or(studio_.settings().zoomAmount)) return;
    studio_.setZoomAmount(zoom->id, value, false);
  });
  connect(presetPicker, &PillSegment::selectionChanged, this, [this](const QVariant& value) {
    if (auto zoom = studio_.selectedZoom()) studio_.setZoomAmount(zoom->id, value.toDouble(), true);
  });
  connect(useDefault, &QAbstractButton::clicked, this, [this] {
    if (auto zoom = studio_.selectedZoom()) studio_.setZoomAmount(zoom->id, std::nullopt, true);
  });
  connect(remove, &QAbstractButton::clicked, this, [this] { studio_.removeSelectedZoom(); });
  followers_.push_back([=, this] {
    const auto zoom = studio_.selectedZoom();
    selected->setVisible(zoom && !studio_.live());
    if (!zoom) return;
    const double effective = zoom->amount.value_or(studio_.settings().zoomAmount);
    bounds->setText(QString::asprintf("%.2fs – %.2fs", zoom->start, zoom->end));
    badge->setText(zoom->amount ? QL("独立设置") : QL("跟随默认"));
    badge->setStyleSheet(
        QStringLiteral("color: %1;").arg((zoom->amount ? Theme::violet : Theme::secondary).name()));
    level->setText(magnificationText(effective));
    amount->setValue(effective);
    presetPicker->setSelection(zoom->amount.value_or(-1.0));
    useDefault->setEnabled(zoom->amount.has_value());
  });

  auto* autoZoom = new InspectorSection(QStringLiteral("plus.magnifyingglass"), QL("自动缩放"),
                                        Theme::violet, page);
  auto* zoomEnabled = makeSwitch(QL("自动缩放"), "zoomEnabled", autoZoom);
  auto* follow = makeSwitch(QL("镜头跟随指针"), "follow", autoZoom);
  autoZoom->card()->addWidget(zoomEnabled);
  autoZoom->card()->addWidget(follow);
  stack->addWidget(autoZoom);
  connect(zoomEnabled, &QAbstractButton::clicked, this,
          [this](bool on) { writeSetting([on](EditSettings& s) { s.zoomEnabled = on; }); });
  connect(follow, &QAbstractButton::clicked, this,
          [this](bool on) { writeSetting([on](EditSettings& s) { s.follow = on; }); });

  auto* motion =
      new InspectorSection(QStringLiteral("waveform.path"), QL("镜头运动"), Theme::cyan, page);
  motion->setObjectName(QStringLiteral("cameraMotion"));
  auto* defaultAmount = new InspectorSliderRow(QL("默认放大倍数"), 1.2, 2.8, motion);
  defaultAmount->setObjectName(QStringLiteral("defaultAmount"));
  auto* smoothness = new InspectorSliderRow(QL("平滑程度"), 0, 1, motion);
  smoothness->setObjectName(QStringLiteral("smoothness"));
  auto* hold = new InspectorSliderRow(QL("停留时间"), 1, 4, motion);
  hold->setObjectName(QStringLiteral("hold"));
  for (auto* row : {defaultAmount, smoothness, hold}) {
    row->slider()->setObjectName(row->objectName() + QStringLiteral("Slider"));
    motion->card()->addWidget(row);
  }
  stack->addWidget(motion);
  connect(defaultAmount->slider(), &NeonSlider::valueChanged, this,
          [this](double v) { writeSetting([v](EditSettings& s) { s.zoomAmount = v; }); });
  connect(smoothness->slider(), &NeonSlider::valueChanged, this,
          [this](double v) { writeSetting([v](EditSettings& s) { s.smoothness = v; }); });
  connect(hold->slider(), &NeonSlider::valueChanged, this,
          [this](double v) { writeSetting([v](EditSettings& s) { s.hold = v; }); });
  auto* dim = new QGraphicsOpacityEffect(motion);
  motion->setGraphicsEffect(dim);
  followers_.push_back([=, this] {
    const auto& s = studio_.settings();
    zoomEnabled->setChecked(s.zoomEnabled);
    follow->setChecked(s.follow);
    defaultAmount->follow(s.zoomAmount, magnificationText(s.zoomAmount));
    smoothness->follow(s.smoothness, QString::asprintf("%.0f%%", s.smoothness * 100));
    hold->follow(s.hold, QLF("%.1f 秒", s.hold));
    motion->setEnabled(s.zoomEnabled);
    dim->setOpacity(s.zoomEnabled ? 1.0 : 0.5);
  });
  return page;
}

QWidget* InspectorColumn::buildPresenter() {
  auto* page = new QWidget;
  auto* stack = stackOf(page, 20);

  auto* overlay = new InspectorSection(QStringLiteral("person.crop.square"), QL("人物画中画"),
                                       Theme::mint, page);
  auto* showCamera = makeSwitch(QL("人物画中画"), "showCamera", overlay);
  auto* mirror = makeSwitch(QL("镜像摄像头"), "mirrorCamera", overlay);
  auto* size = new InspectorSliderRow(QL("人物大小"), 0.13, 0.28, overlay);
  size->setObjectName(QStringLiteral("cameraSize"));
  size->slider()->setObjectName(QStringLiteral("cameraSizeSlider"));
  overlay->card()->addWidget(showCamera);
  overlay->card()->addWidget(mirror);
  overlay->card()->addWidget(size);
  stack->addWidget(overlay);
  connect(showCamera, &QAbstractButton::clicked, this,
          [this](bool on) { writeSetting([on](EditSettings& s) { s.showCamera = on; }); });
  // Stores the value explicitly, so an unset (mirrored) project stays as the user chose.
  connect(mirror, &QAbstractButton::clicked, this,
          [this](bool on) { writeSetting([on](EditSettings& s) { s.mirrorCamera = on; }); });
  connect(size->slider(), &NeonSlider::valueChanged, this,
          [this](double v) { writeSetting([v](EditSettings& s) { s.cameraSize = v; }); });

  auto* position = new InspectorSection(QStringLiteral("rectangle.inset.topleft.filled"),
                                        QL("人物位置"), Theme::mint, page);
  auto* frame = new CornerFrame(position);
  std::array<CornerButton*, 4> corners{};
  for (int i = 0; i < 4; ++i) {
    const CameraCorner corner = kAllCameraCorners[i];
    auto* button = new CornerButton(corner, frame);
    button->setProperty("corner", i);
    button->setObjectName(
        QStringLiteral("corner_") +
        QString::fromUtf8(rawValue(corner).data(), qsizetype(rawValue(corner).size())));
    corners[static_cast<std::size_t>(i)] = button;
    connect(button, &QAbstractButton::clicked, this, [this, corner] {
      writeSetting([corner](EditSettings& s) { s.corner = corner; });
      writeSetting([](EditSettings& s) { s.cameraPosition.reset(); });
    });
  }
  // Tab goes through the corners as they are read: top left, top right, bottom left, bottom
  // right.
  QWidget::setTabOrder(corners[3], corners[2]);
  QWidget::setTabOrder(corners[2], corners[1]);
  QWidget::setTabOrder(corners[1], corners[0]);
  position->card()->setSpacing(8);
  position->card()->addWidget(frame);
  auto* cornerText = makeLabel({}, 10.5, Theme::secondary, position);
  cornerText->setObjectName(QStringLiteral("cornerText"));
  position->card()->addWidget(cornerText);
  stack->addWidget(position);

  auto* sync = new InspectorSection(QStringLiteral("waveform.badge.mic"), QL("人物音画同步"),
                                    Theme::amber, page);
  sync->setObjectName(QStringLiteral("cameraSync"));
  auto* syncRow = new QHBoxLayout;
  auto* syncText = new QLabel(sync);
  syncText->setObjectName(QStringLiteral("syncText"));
  syncText->setFont(Theme::mono());
  syncText->setStyleSheet(QStringLiteral("color: %1;").arg(Theme::secondary.name()));
  auto* reset = new GlassButton(QL("重置同步"), {}, {}, sync);
  reset->setObjectName(QStringLiteral("syncReset"));
  syncRow->addWidget(syncText);
  syncRow->addStretch(1);
  syncRow->addWidget(reset);
  sync->card()->addLayout(syncRow);
  auto* syncSlider = new NeonSlider(0, -1, 1, 0.01, Theme::accent, sync);
  syncSlider->setObjectName(QStringLiteral("syncSlider"));
  syncSlider->setAccessibleName(QL("人物音画同步，正值提前画面"));
  sync->card()->addWidget(syncSlider);
  stack->addWidget(sync);
  // Through the controller's guards: refused while exporting, one undo step per drag.
  connect(syncSlider, &NeonSlider::editingChanged, this, [this](bool editing) {
    editing ? studio_.beginEditGesture() : studio_.endEditGesture();
  });
  connect(syncSlider, &NeonSlider::valueChanged, this, [this](double v) {
    // None shows as 0; a press on it changes nothing.
    if (v == studio_.clip().cameraSyncAdjustment.value_or(0)) return;
    studio_.setCameraSync(v);
  });
  connect(reset, &QAbstractButton::clicked, this, [this] {
    if (studio_.clip().cameraSyncAdjustment) {
      studio_.setCameraSync(std::nullopt);
      return;
    }
    // Nothing to reset is still one press of an edit button: one undo step, and a save.
    studio_.checkpoint();
    studio_.setClip(studio_.clip());
    studio_.scheduleSave();
  });

  followers_.push_back([=, this] {
    const auto& s = studio_.settings();
    showCamera->setChecked(s.showCamera);
    mirror->setChecked(s.mirrorsCamera());
    size->follow(s.cameraSize, QString::asprintf("%.0f%%", s.cameraSize * 100));
    for (int i = 0; i < 4; ++i) {
      corners[static_cast<std::size_t>(i)]->setChecked(!s.cameraPosition &&
                                                       s.corner == kAllCameraCorners[i]);
    }
    cornerText->setText(s.cameraPosition ? QL("自定义位置 · 可在预览中拖动人物")
                                         : QString::fromStdString(label(s.corner)));
    const auto& clip = studio_.clip();
    sync->setVisible(!studio_.live() && clip.cameraPath.has_value());
    syncText->setText(cameraSyncText(clip.cameraSyncAdjustment));
    syncSlider->setValue(clip.cameraSyncAdjustment.value_or(0));
  });
  return page;
}

QWidget* InspectorColumn::buildCanvas() {
  auto* page = new QWidget;
  auto* stack = stackOf(page, 20);
  auto* background =
      new InspectorSection(QStringLiteral("paintpalette"), QL("背景"), Theme::violet, page);
  auto* swatchRow = new QHBoxLayout;
  swatchRow->setSpacing(10);
  std::array<SwatchButton*, 3> swatches{};
  for (int i = 0; i < 3; ++i) {
    auto* swatch = new SwatchButton(i, background);
    swatch->setObjectName(QStringLiteral("swatch%1").arg(i));
    swatches[static_cast<std::size_t>(i)] = swatch;
    swatchRow->addWidget(swatch, 1);
    connect(swatch, &QAbstractButton::clicked, this,
            [this, i] { writeSetting([i](EditSettings& s) { s.background = i; }); });
  }
  background->card()->addLayout(swatchRow);
  stack->addWidget(background);

  auto* padding =
      new InspectorSection(QStringLiteral("square.dashed"), QL("画面留白"), Theme::cyan, page);
  auto* slider = new InspectorSliderRow(QL("画面留白"), 0, 0.08, padding);
  slider->setObjectName(QStringLiteral("padding"));
  slider->slider()->setObjectName(QStringLiteral("paddingSlider"));
  padding->card()->addWidget(slider);
  // A preset glides to its padding, as the picture's frame does; a drag takes over at once.
  auto* glide = new Animated(0, padding);
  connect(glide, &Animated::changed, this, [this, glide] {
    const double v = glide->value();
    writeSetting([v](EditSettings& s) { s.padding = v; });
  });
  connect(slider->slider(), &NeonSlider::valueChanged, this, [this, glide](double v) {
    glide->jumpTo(v);
    writeSetting([v](EditSettings& s) { s.padding = v; });
  });
  auto* presetRow = new QHBoxLayout;
  presetRow->setSpacing(6);
  struct Preset {
    QString title;
    double value;
  };
  const std::array<Preset, 4> presets{{{QL("铺满"), 0},
                                       {QStringLiteral("1.5%"), 0.015},
                                       {QStringLiteral("3%"), 0.03},
                                       {QStringLiteral("5%"), 0.05}}};
  std::array<GlassButton*, 4> presetButtons{};
  for (std::size_t i = 0; i < presets.size(); ++i) {
    auto* button = new GlassButton(presets[i].title, {}, {}, padding);
    button->setObjectName(QStringLiteral("paddingPreset%1").arg(i));
    presetButtons[i] = button;
    presetRow->addWidget(button);
    const double value = presets[i].value;
    connect(button, &QAbstractButton::clicked, this, [this, glide, value] {
      glide->jumpTo(studio_.settings().padding);
      if (glide->value() == value)
        writeSetting([value](EditSettings& s) { s.padding = value; });
      else
        glide->animateTo(value, kPaddingGlide);
    });
  }
  presetRow->addStretch(1);
  padding->card()->addLayout(presetRow);
  auto* hint = makeLabel(QL("铺满时录屏覆盖整个画面，比例不同的边缘会被裁掉，手机上看得更清楚。"),
                         10.5, Theme::secondary, padding);
  hint->setWordWrap(true);
  padding->card()->addWidget(hint);
  stack->addWidget(padding);

  followers_.push_back([=, this] {
    const auto& s = studio_.settings();
    for (std::size_t i = 0; i < swatches.size(); ++i) {
      swatches[i]->setChecked(s.background == static_cast<std::int64_t>(i));
      swatches[i]->update();
    }
    slider->follow(s.padding, paddingText(s.padding));
    for (std::size_t i = 0; i < presets.size(); ++i) {
      presetButtons[i]->setActive(paddingPresetMarked(s.padding, presets[i].value));
    }
  });
  return page;
}

QWidget* InspectorColumn::buildCursor() {
  auto* page = new QWidget;
  auto* stack = stackOf(page, 14);
  auto* cursor = new InspectorSection(QStringLiteral("cursorarrow"), QL("指针"), Theme::cyan, page);
  auto* showCursor = makeSwitch(QL("显示指针"), "showCursor", cursor);
  auto* showClicks = makeSwitch(QL("点击波纹"), "showClicks", cursor);
  cursor->card()->addWidget(showCursor);
  cursor->card()->addWidget(showClicks);
  stack->addWidget(cursor);
  connect(showCursor, &QAbstractButton::clicked, this,
          [this](bool on) { writeSetting([on](EditSettings& s) { s.showCursor = on; }); });
  connect(showClicks, &QAbstractButton::clicked, this,
          [this](bool on) { writeSetting([on](EditSettings& s) { s.showClicks = on; }); });
  followers_.push_back([=, this] {
    showCursor->setChecked(studio_.settings().showCursor);
    showClicks->setChecked(studio_.settings().showClicks);
  });
  return page;
}

QWidget* InspectorColumn::buildFooter() {
  auto* footer = new QWidget(this);
  footer->setObjectName(QStringLiteral("footer"));
  auto* stack = new QVBoxLayout(footer);
  stack->setContentsMargins(12, 10, 12, 10);
  stack->setSpacing(10);
  auto* progress = new QWidget(footer);
  progress->setObjectName(QStringLiteral("exportProgress"));
  auto* progressStack = stackOf(progress, 6);
  auto* progressRow = new QHBoxLayout;
  auto* title = makeLabel(QL("正在导出视频"), 11, Theme::text, progress);
  title->setFont(uiFont(11, QFont::Medium));
  auto* percent = new QLabel(progress);
  percent->setObjectName(QStringLiteral("exportPercent"));
  percent->setFont(Theme::mono());
  percent->setStyleSheet(QStringLiteral("color: %1;").arg(Theme::cyan.name()));
  progressRow->addWidget(title);
  progressRow->addStretch(1);
  progressRow->addWidget(percent);
  progressStack->addLayout(progressRow);
  auto* bar = new ProgressBar(progress);
  progressStack->addWidget(bar);
  stack->addWidget(progress);

  auto* row = new QHBoxLayout;
  row->setSpacing(4);
  auto* folder =
      new IconButton(QStringLiteral("folder.badge.gearshape"), QL("录制文件夹"), 30, footer);
  folder->setObjectName(QStringLiteral("revealRecordings"));
  auto* permission = new IconButton(QStringLiteral("lock.shield"), QL("屏幕录制权限"), 30, footer);
  permission->setObjectName(QStringLiteral("permission"));
  auto* privacy = new IconButton(QStringLiteral("hand.raised"), QL("隐私说明"), 30, footer);
  privacy->setObjectName(QStringLiteral("privacy"));
  connect(folder, &QAbstractButton::clicked, this, [this] { studio_.revealRecordings(); });
  connect(permission, &QAbstractButton::clicked, this,
          [this] { studio_.openScreenPermissionSettings(); });
  connect(privacy, &QAbstractButton::clicked, this, [this] {
    if (openPrivacy_) openPrivacy_();
  });
  row->addWidget(folder);
  row->addWidget(permission);
  row->addWidget(privacy);
  row->addStretch(1);
  QFont versionFont = uiFont(10, QFont::Normal);
  versionFont.setStyleHint(QFont::Monospace);
  versionFont.setFamily(Theme::mono().family());
  auto* version = new QLabel(QStringLiteral("v0.3"), footer);
  version->setFont(versionFont);
  version->setStyleSheet(QStringLiteral("color: %1;").arg(Theme::tertiary.name()));
  row->addWidget(version);
  stack->addLayout(row);

  followers_.push_back([=, this] {
    progress->setVisible(studio_.exporting());
    const double value = studio_.exportProgress();
    percent->setText(QString::asprintf("%.0f%%", std::isfinite(value) ? value * 100 : 0.0));
    bar->setProgress(value);
  });
  return footer;
}

void InspectorColumn::refresh() {
  for (auto& follow : followers_)
    follow();
}

void InspectorColumn::refreshNow() {
  refresh_->flush();
}

}  // namespace vantry
