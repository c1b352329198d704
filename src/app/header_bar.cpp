#include "app/header_bar.h"

#include <QHBoxLayout>
#include <QPainter>

#include "design/buttons.h"
#include "design/coalesced_refresh.h"
#include "design/icons.h"
#include "design/labels.h"
#include "design/painting.h"
#include "design/shadow.h"
#include "design/theme.h"
#include "design/view_parts.h"
#include "localization/qt/language_settings.h"
#include "localization/qt/qt_text.h"
#include "studio/studio.h"

namespace vantry {

namespace {

// The 28-point gradient tile with the viewfinder, glowing cyan.
class LogoTile final : public QWidget {
 public:
  explicit LogoTile(QWidget* parent) : QWidget(parent) {
    setFixedSize(28, 28);
    new ShadowCaster(
        this,
        [this](QPainter& p) {
          paintShadow(p, rect(), 8, Shadow{faded(Theme::cyan, 0.5), 8, {}});
        },
        shadowReach(Shadow{Theme::cyan, 8, {}}));
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    fillRounded(p, rect(), 8, Theme::accentDiagonal.over(rect()));
    paintSymbol(p, u"viewfinder", QRectF(7, 7, 14, 14), Color(0x05070C), 700);
  }
};

QFont tracked(QFont font, double spacing) {
  font.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
  return font;
}

}  // namespace

QString headerTitle(const Studio& studio) {
  if (studio.recording()) {
    return QL("正在录制 · ") + QString::fromStdString(studio.selectedScreenName());
  }
  if (studio.standby()) return QL("新建录屏");
  if (studio.clip().isDemo) return QL("把注意力，交给镜头。");
  return QString::fromStdString(studio.clip().title);
}

QColor statusDotColor(const Studio& studio) {
  if (studio.recording()) return Theme::rec;
  if (studio.exporting()) return Theme::amber;
  if (studio.live()) return Theme::mint;
  return Theme::cyan;
}

HeaderBar::HeaderBar(Studio& studio, std::function<void()> openSettings, QWidget* parent)
    : QWidget(parent), studio_(studio) {
  setFixedHeight(kHeight);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(kLeadingPadding, 0, 16, 0);
  row->setSpacing(12);

  // Product mark.
  auto* mark = new QHBoxLayout;
  mark->setSpacing(10);
  mark->addWidget(new LogoTile(this));
  auto* name = new ElidedText(uiFont(15, QFont::DemiBold), Theme::text, Qt::ElideNone, this);
  name->setText(QStringLiteral("Vantry"));
  mark->addWidget(name);
  auto* beta =
      new CapsuleBox({faded(Theme::cyan, 0.12), faded(Theme::cyan, 0.3), 0.8}, 6, 16, 0, this);
  auto* betaText =
      new ElidedText(tracked(uiFont(8, QFont::Bold), 1.4), Theme::cyan, Qt::ElideNone, beta);
  betaText->setText(QStringLiteral("BETA"));
  beta->row()->addWidget(betaText);
  mark->addWidget(beta);
  row->addLayout(mark);

  row->addWidget(new SymbolView(QStringLiteral("chevron.right"), 10, Theme::tertiary, 600, this));

  // Title group: it keeps its width before the pill gives way.
  auto* titleGroup = new QHBoxLayout;
  titleGroup->setSpacing(8);
  title_ = new ElidedText(uiFont(13.5, QFont::DemiBold), Theme::text, Qt::ElideMiddle, this);
  title_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  titleGroup->addWidget(title_);
  recChip_ = new CapsuleBox({faded(Theme::rec, 0.14), std::nullopt}, 9, 22, 6, this);
  recChip_->row()->addWidget(new StatusDot(Theme::rec, recChip_));
  recText_ = new ElidedText(Theme::mono(), Theme::rec, Qt::ElideNone, recChip_);
  recChip_->row()->addWidget(recText_);
  titleGroup->addWidget(recChip_);
  liveBadge_ = new CapsuleBox({faded(Theme::mint, 0.12), std::nullopt}, 8, 20, 0, this);
  liveText_ =
      new ElidedText(tracked(uiFont(10, QFont::DemiBold), 0.6), Theme::mint, Qt::ElideNone, this);
  liveBadge_->row()->addWidget(liveText_);
  titleGroup->addWidget(liveBadge_);
  row->addLayout(titleGroup);

  row->addSpacing(16 - 12);
  row->addStretch(1);

  // Status pill.
  pill_ = new CapsuleBox({Color(0x000000, 0.25), Theme::hairline, 1}, 12, 28, 8, this);
  // Wide enough for the English notice while recording a display, which at 380 points lost
  // its end ("Showing live prev…"); the window's default width still leaves the room.
  pill_->setMaximumWidth(kPillMaxWidth);
  pill_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  dot_ = new StatusDot(Theme::cyan, pill_);
  pill_->row()->addWidget(dot_);
  notice_ = new ElidedText(uiFont(11, QFont::Normal), Theme::secondary, Qt::ElideRight, pill_);
  notice_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  pill_->row()->addWidget(notice_, 1);
  row->addWidget(pill_, 0);

  row->addSpacing(16 - 12);

  // Tool buttons.
  auto* tools = new QHBoxLayout;
  tools->setSpacing(4);
  open_ = new IconButton(QStringLiteral("folder"), {}, 30, this);
  tools->addWidget(open_);
  settings_ = new GlassButton({}, QStringLiteral("gearshape"), {false, Theme::cyan, true}, this);
  settings_->setFont(uiFont(13, QFont::Medium));
  tools->addWidget(settings_);
  row->addLayout(tools);

  row->addWidget(makeRule(Theme::hairline, QSize(1, 20), this));

  record_ = new RecordButton({}, {}, this);
  row->addWidget(record_);
  export_ = new PrimaryButton({}, QStringLiteral("square.and.arrow.up"), {}, this);
  row->addWidget(export_);

  // Names by which tests and the end-to-end driver find the controls.
  title_->setObjectName(QStringLiteral("projectTitle"));
  recChip_->setObjectName(QStringLiteral("recordingChip"));
  recText_->setObjectName(QStringLiteral("recordingTime"));
  liveBadge_->setObjectName(QStringLiteral("liveBadge"));
  liveText_->setObjectName(QStringLiteral("liveText"));
  notice_->setObjectName(QStringLiteral("notice"));
  open_->setObjectName(QStringLiteral("openProject"));
  settings_->setObjectName(QStringLiteral("settings"));
  record_->setObjectName(QStringLiteral("record"));
  export_->setObjectName(QStringLiteral("export"));

  connect(open_, &QAbstractButton::clicked, this, [this] { studio_.openProject(); });
  connect(settings_, &QAbstractButton::clicked, this, [openSettings] {
    if (openSettings) openSettings();
  });
  connect(record_, &QAbstractButton::clicked, this, [this] { studio_.record(); });
  connect(export_, &QAbstractButton::clicked, this, [this] { studio_.exportMovie(); });

  refresh_ = new CoalescedRefresh(this, [this] { refresh(); });
  connect(&studio_, &Studio::changed, refresh_, &CoalescedRefresh::request);
  connect(&studio_, &Studio::timeChanged, this, &HeaderBar::refreshTime);
  connect(&LanguageSettings::shared(), &LanguageSettings::changed, refresh_,
          &CoalescedRefresh::request);
  refresh();
}

void HeaderBar::refreshNow() {
  refresh_->flush();
}

QString HeaderBar::title() const {
  return title_->text();
}

void HeaderBar::refresh() {
  const Studio& s = studio_;
  title_->setText(headerTitle(s));
  recChip_->setVisible(s.recording());
  liveBadge_->setVisible(!s.recording() && s.standby());
  liveText_->setText(QL("实时预览"));
  refreshTime();

  dot_->setColor(statusDotColor(s));
  const QString notice = QLM(s.notice());
  notice_->setText(notice);
  pill_->setToolTip(notice);

  open_->setToolTip(QL("打开已保存的 project.json"));
  // A project still opening may be overtaken by another.
  open_->setEnabled(!s.recording() && (!s.busy() || s.opening()) && !s.exporting());
  settings_->setToolTip(QL("设置"));
  settings_->setAccessibleName(QL("设置"));

  record_->setText(s.busy() ? QL("正在处理…") : s.recording() ? QL("停止录制") : QL("新建录屏"));
  record_->setRecording(s.recording());
  record_->setEnabled(!s.busy() && !s.exporting());
  record_->updateGeometry();

  export_->setText(QL("导出视频…"));
  export_->setEnabled(!s.live() && !s.busy() && !s.exporting());
  export_->updateGeometry();
}

void HeaderBar::refreshTime() {
  if (studio_.recording()) {
    recText_->setText(QStringLiteral("REC  ") + QString::fromStdString(clock(studio_.time())));
  }
}

}  // namespace vantry
