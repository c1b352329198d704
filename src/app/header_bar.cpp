#include "app/header_bar.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QPainter>

#include <algorithm>
#include <optional>
#include <vector>

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

// A recording notice in the parts it is shortened by: what is recorded sits between the
// prefix and the note that this window is left out; the live-preview note after them may go.
struct RecordingNotice {
  QString head, name, excluded;
};

std::optional<RecordingNotice> recordingNotice(const QString& shown) {
  const QString head = QL("正在录制：");
  const QString suffix = QL(" · 本窗口不会被录入 · 画面为实时预览");
  const qsizetype lastPart = suffix.lastIndexOf(QStringLiteral(" · "));
  if (lastPart <= 0 || shown.size() <= head.size() + suffix.size() || !shown.startsWith(head) ||
      !shown.endsWith(suffix))
    return std::nullopt;
  return RecordingNotice{head,
                         shown.sliced(head.size(), shown.size() - head.size() - suffix.size()),
                         suffix.first(lastPart)};
}

// The status pill's text. Cut for room, a recording notice still says what is recorded and
// that this window is left out: its live-preview note goes first, then the middle of the
// name. Any other notice loses its end.
class NoticeText final : public ElidedText {
 public:
  using ElidedText::ElidedText;

  QString shownText() const override {
    const QFontMetrics m = fontMetrics();
    // As the size hint reckons: one point more than the advance.
    const auto fits = [&](const QString& shown) { return m.horizontalAdvance(shown) < width(); };
    if (fits(text())) return text();
    const auto parts = recordingNotice(text());
    if (!parts) return ElidedText::shownText();
    const QString kept = parts->head + parts->name + parts->excluded;
    if (fits(kept)) return kept;
    const int nameRoom = width() - 1 - m.horizontalAdvance(parts->head + parts->excluded);
    if (nameRoom < shortestName(m)) return ElidedText::shownText();
    return parts->head + m.elidedText(parts->name, Qt::ElideMiddle, nameRoom) + parts->excluded;
  }

  // The width of the words the pill keeps while it gives way, with the recorded name whole or
  // at its shortest.
  int keptWidth(bool nameAtShortest) const {
    const QFontMetrics m = fontMetrics();
    const auto parts = recordingNotice(text());
    if (!parts) return minimumSizeHint().width();
    return 1 + (nameAtShortest
                    ? m.horizontalAdvance(parts->head + parts->excluded) + shortestName(m)
                    : m.horizontalAdvance(parts->head + parts->name + parts->excluded));
  }

 private:
  static int shortestName(const QFontMetrics& m) {
    return m.horizontalAdvance(QStringLiteral("…")) * 3;
  }
};

}  // namespace

// The title with its chip or badge, and the status pill, in what the header leaves them. The
// title keeps its width while the pill gives way down to the words it keeps; only then is the
// title cut. The pill stays at the right, next to the tools.
class TitleAndPill final : public QWidget {
 public:
  static constexpr int kGap = 16;

  TitleAndPill(ElidedText* title, std::initializer_list<CapsuleBox*> badges, CapsuleBox* pill,
               NoticeText* notice, QWidget* parent)
      : QWidget(parent), title_(title), badges_(badges), pill_(pill), notice_(notice) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    title->setParent(this);
    pill->setParent(this);
    for (QWidget* badge : badges_)
      badge->setParent(this);
  }

  QSize sizeHint() const override {
    return QSize(titleWidth(false) + kGap + pillWant(), HeaderBar::kHeight);
  }
  // The order in which the two give way is kept here: the header's row only needs room for
  // the title at its least and the pill's dot with a few letters.
  QSize minimumSizeHint() const override {
    return QSize(titleWidth(true) + kGap + kPillLeast, HeaderBar::kHeight);
  }

  void place() {
    const int room = width() - kGap;
    const int titleLeast = titleWidth(true);
    const int titleWant = std::max(titleWidth(false), titleLeast);
    const int want = pillWant();
    // Words too long for the pill at its widest are cut there anyway: it then claims no more
    // than half the room, unless the title leaves it more.
    const int keyWords = chrome() + notice_->keptWidth(false);
    const int pillKeep =
        keyWords <= want ? keyWords
                         : std::clamp(std::max(room / 2, room - titleWant),
                                      std::min(want, chrome() + notice_->keptWidth(true)), want);
    const int titleShown = std::clamp(room - pillKeep, titleLeast, titleWant);
    const int pillShown = std::clamp(room - titleShown, 0, want);

    // The badge keeps its size; the title's text has the rest of their share.
    const int textWidth =
        std::max(0, titleShown - (titleWidth(false) - title_->sizeHint().width()));
    const int textHeight = title_->sizeHint().height();
    title_->setGeometry(0, (height() - textHeight) / 2, textWidth, textHeight);
    int x = textWidth;
    for (QWidget* badge : badges_) {
      if (badge->isHidden()) continue;
      x += kBadgeSpacing;
      const QSize size = badge->sizeHint();
      badge->setGeometry(x, (height() - size.height()) / 2, size.width(), size.height());
      x += size.width();
    }
    pill_->setGeometry(width() - pillShown, (height() - pill_->height()) / 2, pillShown,
                       pill_->height());
    // Cut for room, the pill holds its whole text as its tooltip.
    pill_->setToolTip(notice_->shownText() == notice_->text() ? QString() : notice_->text());
  }

 protected:
  void resizeEvent(QResizeEvent*) override { place(); }
  bool event(QEvent* event) override {
    if (event->type() == QEvent::LayoutRequest) {
      updateGeometry();
      place();
    }
    return QWidget::event(event);
  }

 private:
  static constexpr int kBadgeSpacing = 8;
  static constexpr int kPillLeast = 80;

  // The title with its shown badge, whole or at its least.
  int titleWidth(bool least) const {
    int width = least ? title_->minimumSizeHint().width() : title_->sizeHint().width();
    for (QWidget* badge : badges_)
      if (!badge->isHidden()) width += kBadgeSpacing + badge->sizeHint().width();
    return width;
  }
  // The pill around its text: padding, dot and spacing.
  int chrome() const { return pill_->sizeHint().width() - notice_->sizeHint().width(); }
  int pillWant() const { return std::min(pill_->sizeHint().width(), pill_->maximumWidth()); }

  ElidedText* title_;
  std::vector<CapsuleBox*> badges_;
  CapsuleBox* pill_;
  NoticeText* notice_;
};

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

  // Title group and status pill: the title keeps its width before the pill gives way.
  title_ = new ElidedText(uiFont(13.5, QFont::DemiBold), Theme::text, Qt::ElideMiddle, this);
  title_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  recChip_ = new CapsuleBox({faded(Theme::rec, 0.14), std::nullopt}, 9, 22, 6, this);
  recChip_->row()->addWidget(new StatusDot(Theme::rec, recChip_));
  recText_ = new ElidedText(Theme::mono(), Theme::rec, Qt::ElideNone, recChip_);
  recChip_->row()->addWidget(recText_);
  liveBadge_ = new CapsuleBox({faded(Theme::mint, 0.12), std::nullopt}, 8, 20, 0, this);
  liveText_ =
      new ElidedText(tracked(uiFont(10, QFont::DemiBold), 0.6), Theme::mint, Qt::ElideNone, this);
  liveBadge_->row()->addWidget(liveText_);

  pill_ = new CapsuleBox({Color(0x000000, 0.25), Theme::hairline, 1}, 12, 28, 8, this);
  // Wide enough for the English notice while recording a display, which at 380 points lost
  // its end ("Showing live prev…").
  pill_->setMaximumWidth(kPillMaxWidth);
  pill_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  dot_ = new StatusDot(Theme::cyan, pill_);
  pill_->row()->addWidget(dot_);
  auto* notice = new NoticeText(uiFont(11, QFont::Normal), Theme::secondary, Qt::ElideRight, pill_);
  notice->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  pill_->row()->addWidget(notice, 1);
  notice_ = notice;
  titleAndPill_ = new TitleAndPill(title_, {recChip_, liveBadge_}, pill_, notice, this);
  row->addWidget(titleAndPill_, 1);

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
  notice_->setText(QLM(s.notice()));

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
  // Laid out for the new texts at once, not on the next turn of the event loop.
  titleAndPill_->updateGeometry();
  layout()->activate();
  titleAndPill_->place();
}

void HeaderBar::refreshTime() {
  if (studio_.recording()) {
    recText_->setText(QStringLiteral("REC  ") + QString::fromStdString(clock(studio_.time())));
  }
}

}  // namespace vantry
