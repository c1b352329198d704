#include "app/main_column.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "app/preview_stage.h"
#include "design/buttons.h"
#include "design/chrome.h"
#include "design/coalesced_refresh.h"
#include "design/painting.h"
#include "design/pill_segment.h"
#include "design/shadow.h"
#include "design/theme.h"
#include "localization/qt/language_settings.h"
#include "localization/qt/qt_text.h"
#include "player/playback_controls.h"
#include "studio/studio.h"

namespace vantry {

namespace {

void colour(QLabel* label, const QColor& color) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, color);
  label->setPalette(palette);
}

// The red disc of the standby callout.
class RecordDisc final : public QWidget {
 public:
  explicit RecordDisc(QWidget* parent) : QWidget(parent) {
    setFixedSize(40, 40);
    new ShadowCaster(
        this,
        [this](QPainter& p) {
          paintShadow(p, rect(), 20, Shadow{faded(Theme::rec, 0.5), 10, {}});
        },
        shadowReach(Shadow{Theme::rec, 10, {}}));
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = rect();
    p.setPen(Qt::NoPen);
    p.setBrush(Theme::recGradient.over(r));
    p.drawEllipse(r);
    p.setPen(QPen(Color(0xFFFFFF, 0.6), 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(r.adjusted(1, 1, -1, -1));
  }
};

}  // namespace

// --- PresenterPicker ---

PresenterPicker::PresenterPicker(Studio& studio, QWidget* parent)
    : QWidget(parent), studio_(studio) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  segment_ = new PillSegment({}, false, Theme::mint, this);
  row->addWidget(segment_);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  fade_ = new QGraphicsOpacityEffect(this);
  fade_->setOpacity(1.0);
  fade_->setEnabled(false);
  setGraphicsEffect(fade_);
  connect(segment_, &PillSegment::selectionChanged, this,
          [this](const QVariant& value) { studio_.setPresenter(value.toBool()); });
  refresh();
}

double PresenterPicker::opacity() const {
  return fade_->isEnabled() ? fade_->opacity() : 1.0;
}

void PresenterPicker::refresh() {
  std::vector<PillSegment::Item> items{
      {false, QL("屏幕＋人物"), QStringLiteral("rectangle.inset.bottomtrailing.filled")},
      {true, QL("人物全屏"), QStringLiteral("person.crop.rectangle.fill")}};
  if (segment_->items().size() != items.size() || segment_->items()[0].title != items[0].title ||
      segment_->items()[1].title != items[1].title) {
    segment_->setItems(std::move(items));
    updateGeometry();
  }
  segment_->setSelection(studio_.presenterFull());
  const bool camera = studio_.hasCamera();
  setEnabled(camera && !studio_.busy() && !studio_.exporting());
  // Only a missing camera dims it; busy or exporting just stop it reacting.
  fade_->setEnabled(!camera);
  fade_->setOpacity(camera ? 1.0 : 0.45);
}

// --- RecordingChip ---

RecordingChip::RecordingChip(QWidget* parent)
    : CapsuleBox({Color(0xFFFFFF, 0.04), Theme::hairline, 1}, 10, 26, 6, parent) {
  symbol_ = new SymbolView({}, 12, Theme::text, 500, this);
  label_ = new ElidedText(uiFont(11, QFont::Medium), Theme::text, Qt::ElideNone, this);
  row()->addWidget(symbol_);
  row()->addWidget(label_);
}

void RecordingChip::set(const QString& text, const QString& icon, bool on) {
  on_ = on;
  label_->setText(text);
  symbol_->setSymbol(icon);
  const QColor ink = on ? Theme::text : Theme::tertiary;
  label_->setColor(ink);
  symbol_->setColor(ink);
  setLook(on ? Look{faded(Theme::rec, 0.12), faded(Theme::rec, 0.35), 1}
             : Look{Color(0xFFFFFF, 0.04), Theme::hairline, 1});
}

QString RecordingChip::text() const {
  return label_->text();
}

// --- RecordingStrip ---

RecordingStrip::RecordingStrip(Studio& studio, QWidget* parent) : QWidget(parent), studio_(studio) {
  glass(this, glassRadius(14));
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(12, 12, 12, 12);
  row->setSpacing(10);
  screen_ = new RecordingChip(this);
  camera_ = new RecordingChip(this);
  microphone_ = new RecordingChip(this);
  stop_ = new RecordButton({}, {true}, this);
  row->addWidget(screen_);
  row->addWidget(camera_);
  row->addWidget(microphone_);
  row->addStretch(1);
  row->addWidget(stop_);
  stop_->setObjectName(QStringLiteral("stopRecording"));
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  connect(stop_, &QAbstractButton::clicked, this, [this] { studio_.record(); });
  refresh();
}

void RecordingStrip::refresh() {
  screen_->set(QL("屏幕录制中"), QStringLiteral("display"), true);
  const bool camera = studio_.useCamera();
  camera_->set(camera ? QL("摄像头录制中") : QL("摄像头关闭"),
               camera ? QStringLiteral("video.fill") : QStringLiteral("video.slash"), camera);
  const bool mic = studio_.useMicrophone();
  microphone_->set(mic ? QL("麦克风录音中") : QL("麦克风关闭"),
                   mic ? QStringLiteral("mic.fill") : QStringLiteral("mic.slash"), mic);
  stop_->setText(QL("停止录制"));
  stop_->updateGeometry();
  stop_->setEnabled(!studio_.busy());
}

// --- StandbyCallout ---

StandbyCallout::StandbyCallout(Studio& studio, QWidget* parent) : QWidget(parent), studio_(studio) {
  glass(this, glassRadius(16));
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(16, 16, 16, 16);
  row->setSpacing(16);
  row->addWidget(new RecordDisc(this));
  auto* texts = new QVBoxLayout;
  texts->setSpacing(4);
  heading_ = new QLabel(this);
  heading_->setFont(uiFont(14, QFont::DemiBold));
  colour(heading_, Theme::text);
  caption_ = new QLabel(this);
  caption_->setFont(uiFont(11.5, QFont::Normal));
  colour(caption_, Theme::secondary);
  texts->addWidget(heading_);
  texts->addWidget(caption_);
  row->addLayout(texts);
  row->addStretch(1);
  demo_ = new GlassButton({}, QStringLiteral("sparkles"), {}, this);
  choose_ = new PrimaryButton({}, QStringLiteral("rectangle.on.rectangle"), {}, this);
  row->addWidget(demo_);
  row->addWidget(choose_);
  demo_->setObjectName(QStringLiteral("viewDemo"));
  choose_->setObjectName(QStringLiteral("chooseDisplay"));
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  connect(demo_, &QAbstractButton::clicked, this, [this] { studio_.demo(); });
  connect(choose_, &QAbstractButton::clicked, this, [this] { studio_.record(); });
  refresh();
}

void StandbyCallout::refresh() {
  heading_->setText(QL("选择一块屏幕开始录制"));
  caption_->setText(QL("每块显示器上都会出现开始按钮，点击即可录制那块屏幕。"));
  demo_->setText(QL("查看演示"));
  demo_->updateGeometry();
  choose_->setText(QL("选择屏幕"));
  choose_->updateGeometry();
  choose_->setEnabled(!studio_.busy() && !studio_.exporting());
}

// --- ControlBar ---

ControlBar::ControlBar(Studio& studio, QWidget* parent) : QWidget(parent), studio_(studio) {
  glass(this, glassRadius(14));
  setFixedHeight(kHeight);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(12, 0, 12, 0);
  row->setSpacing(14);

  live_ = new QWidget(this);
  auto* liveRow = new QHBoxLayout(live_);
  liveRow->setContentsMargins(0, 0, 0, 0);
  liveRow->setSpacing(14);
  livePicker_ = new PresenterPicker(studio, live_);
  liveRow->addWidget(livePicker_);
  liveRow->addStretch(1);
  elapsed_ = new ElidedText(Theme::mono(13, QFont::DemiBold), Theme::rec, Qt::ElideNone, live_);
  liveRow->addWidget(elapsed_);
  row->addWidget(live_);

  auto* accessory = new QWidget;
  auto* accessoryRow = new QHBoxLayout(accessory);
  accessoryRow->setContentsMargins(0, 0, 0, 0);
  accessoryRow->setSpacing(6);
  projectPicker_ = new PresenterPicker(studio, accessory);
  accessoryRow->addWidget(projectPicker_);
  deselect_ = new IconButton(QStringLiteral("xmark.circle.fill"), {}, 26, accessory);
  accessoryRow->addWidget(deselect_);
  transport_ = new PlaybackControls(studio, false, accessory, this);
  row->addWidget(transport_);

  connect(deselect_, &QAbstractButton::clicked, this,
          [this] { studio_.setSelectedPresenterID(std::nullopt); });
  refresh();
}

void ControlBar::refresh() {
  const bool live = studio_.live();
  live_->setVisible(live);
  transport_->setVisible(!live);
  if (live) {
    livePicker_->refresh();
  } else {
    projectPicker_->refresh();
    deselect_->setToolTip(QL("取消区块选择"));
    deselect_->setVisible(studio_.selectedPresenterBlock().has_value());
  }
  elapsed_->setVisible(studio_.recording());
  refreshTime();
}

void ControlBar::refreshTime() {
  if (studio_.recording()) elapsed_->setText(QString::fromStdString(clock(studio_.time())));
}

// --- MainColumn ---

MainColumn::MainColumn(Studio& studio, QWidget* picture, QWidget* timeline, QWidget* parent)
    : QWidget(parent), studio_(studio), timeline_(timeline) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(12);
  stage_ = new PreviewStage(studio, picture, this);
  bar_ = new ControlBar(studio, this);
  strip_ = new RecordingStrip(studio, this);
  callout_ = new StandbyCallout(studio, this);
  column->addWidget(stage_, 1);
  column->addWidget(bar_);
  column->addWidget(strip_);
  column->addWidget(callout_);
  if (timeline_) {
    timeline_->setParent(this);
    column->addWidget(timeline_);
  }
  setMinimumWidth(640);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

  refresh_ = new CoalescedRefresh(this, [this] { refresh(); });
  connect(&studio_, &Studio::changed, refresh_, &CoalescedRefresh::request);
  connect(&studio_, &Studio::timeChanged, bar_, &ControlBar::refreshTime);
  connect(&LanguageSettings::shared(), &LanguageSettings::changed, refresh_,
          &CoalescedRefresh::request);
  refresh();
}

QWidget* MainColumn::modeBlock() const {
  if (studio_.recording()) return strip_;
  if (studio_.standby()) return callout_;
  return timeline_;
}

void MainColumn::refreshNow() {
  refresh_->flush();
  stage_->refreshNow();
  bar_->transport()->refreshNow();
}

void MainColumn::refresh() {
  QWidget* shown = modeBlock();
  strip_->setVisible(shown == strip_);
  callout_->setVisible(shown == callout_);
  if (timeline_) timeline_->setVisible(shown == timeline_);
  if (shown == strip_) strip_->refresh();
  if (shown == callout_) callout_->refresh();
  bar_->refresh();
}

}  // namespace vantry
