#include "export_sheet/export_sheet.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "design/accessibility.h"
#include "design/buttons.h"
#include "design/chrome.h"
#include "design/coalesced_refresh.h"
#include "design/icons.h"
#include "design/motion.h"
#include "design/painting.h"
#include "design/pill_segment.h"
#include "design/shadow.h"
#include "design/theme.h"
#include "localization/platform_texts.h"
#include "localization/qt/qt_text.h"
#include "render/video_frames.h"
#include "studio/queued_task.h"
#include "studio/studio.h"

namespace vantry {

QString exportTime(double seconds) {
  // About 31 years: far beyond any movie, and safely inside the integer range.
  constexpr double cap = 1e9;
  if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
  const auto n = static_cast<long long>(std::min(seconds, cap));
  if (n < 3600) return QString::asprintf("%lld:%02lld", n / 60, n % 60);
  return QString::asprintf("%lld:%02lld:%02lld", n / 3600, (n / 60) % 60, n % 60);
}

QString exportPhaseText(double p, bool cancelling) {
  if (cancelling) return QL("正在取消，请稍候…");
  if (p >= 0.99) return QL("正在保存视频…");
  if (p >= 0.95) return QL("正在合成音频…");
  if (p >= 0.94) return QL("正在完成编码…");
  return QL("正在渲染与编码…");
}

int exportPercent(double p) {
  if (!std::isfinite(p) || p <= 0) return 0;
  return static_cast<int>(std::min(p * 100, 99.0));
}

QString exportRemainingText(double p, double elapsed, bool cancelling) {
  if (cancelling) return QL("正在取消…");
  if (std::isnan(p) || p >= 0.94) return QL("正在收尾…");
  if (elapsed < 3 || p <= 0.01) return QL("计算中…");
  return exportTime(elapsed * (1 - p) / p);
}

QString exportSizeText(std::int64_t bytes) {
  return qtLocale(currentLanguage()).formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

QString homeAbbreviated(const QString& path) {
  const QString home = QDir::homePath();
  if (path == home) return QStringLiteral("~");
  if (path.startsWith(home + QLatin1Char('/'))) return QStringLiteral("~") + path.mid(home.size());
  return path;
}

namespace {

constexpr QColor kInk = Color(0x111317);

template <typename Label>
Label* styled(Label* label, double size, QColor color, QFont::Weight weight = QFont::Normal) {
  label->setFont(uiFont(size, weight));
  QPalette colours = label->palette();
  colours.setColor(QPalette::WindowText, color);
  label->setPalette(colours);
  return label;
}

QLabel* text(const QString& value, double size, QColor color, QWidget* parent,
             QFont::Weight weight = QFont::Normal) {
  return styled(new QLabel(value, parent), size, color, weight);
}

QWidget* rule(QWidget* parent) {
  auto* line = new QWidget(parent);
  line->setFixedHeight(1);
  line->setAutoFillBackground(true);
  QPalette colours = line->palette();
  colours.setColor(QPalette::Window, Color(0xFFFFFF, 0.06));
  line->setPalette(colours);
  return line;
}

// The sheet's compact picker: equal items on a faint ground, the chosen one on a chip that
// slides to a clicked item (or one the arrow keys chose) in 0.16 s and jumps when the value
// changes from outside.
class QuietSegment final : public QWidget {
 public:
  using Item = std::pair<QVariant, QString>;

  QuietSegment(std::vector<Item> items, QWidget* parent)
      : QWidget(parent), items_(std::move(items)), chip_(new Animated(0, this)) {
    installDesignAccessibility();
    setFocusPolicy(Qt::TabFocus);  // a click does not take the keyboard focus
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(chip_, &Animated::changed, this, qOverload<>(&QWidget::update));
    handCursor(this);
  }

  std::function<void(const QVariant&)> onChoose;

  QVariant selection() const { return selection_; }
  void setSelection(const QVariant& value) {
    if (value == selection_) return;
    selection_ = value;
    chip_->jumpTo(std::max(selectedIndex(), 0));
    update();
  }
  // What a click on an item does: the chip slides there and the value is written.
  void choose(int index) {
    if (index < 0 || index >= static_cast<int>(items_.size())) return;
    if (selectedIndex() < 0) chip_->jumpTo(index);
    selection_ = items_[static_cast<std::size_t>(index)].first;
    chip_->animateTo(index, Curve::easeOut(0.16));
    update();
    if (onChoose) onChoose(selection_);
  }
  int selectedIndex() const {
    for (std::size_t i = 0; i < items_.size(); ++i)
      if (items_[i].first == selection_) return static_cast<int>(i);
    return -1;
  }
  // Equal shares of the width; but when a label would be cut in its share while the row has
  // room for every label, each item gets its label's width plus an equal part of the rest.
  QRectF itemRect(int index) const {
    const int n = static_cast<int>(items_.size());
    const double inner = width() - 4.0;
    std::vector<double> need(static_cast<std::size_t>(n));
    double total = 0;
    bool cramped = false;
    for (int i = 0; i < n; ++i) {
      need[i] = labelWidth(i) + 12;
      total += need[i];
      cramped = cramped || need[i] > inner / n;
    }
    double x = 2, w = inner / std::max(n, 1);
    if (cramped && total <= inner) {
      const double extra = (inner - total) / n;
      for (int i = 0; i < index; ++i)
        x += need[i] + extra;
      w = need[index] + extra;
    } else {
      x += index * w;
    }
    return QRectF(x, 2, w, height() - 4.0);
  }
  // Where the chip is drawn now, between the items it slides over; empty when no item is
  // chosen.
  QRectF chipRect() const {
    if (selectedIndex() < 0) return {};
    const double at = std::clamp(chip_->value(), 0.0, items_.size() - 1.0);
    const int below = static_cast<int>(std::floor(at));
    const QRectF a = itemRect(below);
    const QRectF b = itemRect(std::min(below + 1, static_cast<int>(items_.size()) - 1));
    const double t = at - below;
    return QRectF(a.x() + (b.x() - a.x()) * t, a.y(), a.width() + (b.width() - a.width()) * t,
                  a.height());
  }
  QSize sizeHint() const override {
    double widest = 0;
    for (int i = 0; i < static_cast<int>(items_.size()); ++i)
      widest = std::max(widest, labelWidth(i) + 20);
    return QSize(static_cast<int>(std::ceil(widest * items_.size() + 4)), 28);
  }
  QSize minimumSizeHint() const override { return QSize(0, 28); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Color(0xFFFFFF, 0.05));
    p.drawPath(continuousRoundedRect(rect(), 8));
    const QRectF chip = chipRect();
    if (!chip.isEmpty()) {
      p.setBrush(Color(0x000000, 0.25));
      p.drawPath(continuousRoundedRect(chip.translated(0, 1), 6));
      p.setBrush(Color(0xFFFFFF, 0.14));
      p.drawPath(continuousRoundedRect(chip, 6));
    }
    const bool any = selectedIndex() >= 0;
    for (int i = 0; i < static_cast<int>(items_.size()); ++i) {
      // The labels change with the chip as it slides over them.
      const double near = any ? std::max(0.0, 1 - std::abs(chip_->value() - i)) : 0.0;
      const QFont font = uiFont(11.5, near > 0.5 ? QFont::DemiBold : QFont::Normal);
      const QRectF box = itemRect(i).adjusted(4, 0, -4, 0);
      p.setFont(font);
      p.setPen(mixed(Theme::secondary, Color(0xFFFFFF), near));
      p.drawText(box, Qt::AlignCenter | Qt::TextSingleLine,
                 QFontMetricsF(font).elidedText(items_[static_cast<std::size_t>(i)].second,
                                                Qt::ElideRight, box.width()));
    }
    paintFocusRing(p, this, rect(), 8);
  }
  void keyPressEvent(QKeyEvent* event) override {
    const auto next = arrowChoice(*event, selectedIndex(), static_cast<int>(items_.size()));
    if (!next) return QWidget::keyPressEvent(event);
    event->accept();
    if (*next != selectedIndex()) choose(*next);
  }
  void mousePressEvent(QMouseEvent* event) override {
    pressed_ = event->button() == Qt::LeftButton ? itemAt(event->position()) : -1;
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    const int index = itemAt(event->position());
    if (event->button() == Qt::LeftButton && index >= 0 && index == pressed_) choose(index);
    pressed_ = -1;
  }

 private:
  double labelWidth(int index) const {
    return QFontMetricsF(uiFont(11.5, QFont::DemiBold))
        .horizontalAdvance(items_[static_cast<std::size_t>(index)].second);
  }
  int itemAt(QPointF at) const {
    for (int i = 0; i < static_cast<int>(items_.size()); ++i)
      if (itemRect(i).contains(at)) return i;
    return -1;
  }

  std::vector<Item> items_;
  QVariant selection_;
  Animated* chip_;  // the chip's position in items
  int pressed_ = -1;
};

// The sheet's two button styles: the light solid one of the main action and the faint
// quiet one of the others. Neither uses the accent.
class SheetButton final : public QAbstractButton {
 public:
  enum class Kind { solid, quiet };

  SheetButton(Kind kind, const QString& title, QWidget* parent)
      : QAbstractButton(parent), kind_(kind) {
    setText(title);
    setFont(uiFont(12, kind == Kind::solid ? QFont::DemiBold : QFont::Medium));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);  // a click does not take the keyboard focus
    connect(this, &QAbstractButton::pressed, this, qOverload<>(&QWidget::update));
    connect(this, &QAbstractButton::released, this, qOverload<>(&QWidget::update));
    handCursor(this);
  }

  // The ground's white opacity as painted now.
  double groundOpacity() const {
    if (kind_ == Kind::solid) return isDown() ? 0.78 : 0.94;
    if (isDown()) return 0.16;
    return hovering_ ? 0.11 : 0.07;
  }
  QColor labelColor() const {
    if (kind_ == Kind::solid) return kInk;
    return isEnabled() ? faded(Theme::text, 0.9) : Theme::tertiary;
  }

  QSize sizeHint() const override {
    const double padding = kind_ == Kind::solid ? 16 : 14;
    const double w = QFontMetricsF(font()).horizontalAdvance(text()) + 2 * padding;
    return QSize(static_cast<int>(std::ceil(w)), 30);
  }
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    // The solid style fades as a whole when disabled; the quiet one only greys its label.
    if (kind_ == Kind::solid && !isEnabled()) p.setOpacity(0.45);
    p.setPen(Qt::NoPen);
    p.setBrush(Color(0xFFFFFF, groundOpacity()));
    p.drawPath(continuousRoundedRect(rect(), 8));
    p.setPen(labelColor());
    p.setFont(font());
    p.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text());
    paintFocusRing(p, this, rect(), 8);
  }
  void enterEvent(QEnterEvent* event) override {
    hovering_ = true;
    update();
    QAbstractButton::enterEvent(event);
  }
  void leaveEvent(QEvent* event) override {
    hovering_ = false;
    update();
    QAbstractButton::leaveEvent(event);
  }
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }

 private:
  Kind kind_;
  bool hovering_ = false;
};

SheetButton* solidButton(const QString& title, QWidget* parent) {
  return new SheetButton(SheetButton::Kind::solid, title, parent);
}
SheetButton* quietButton(const QString& title, QWidget* parent) {
  return new SheetButton(SheetButton::Kind::quiet, title, parent);
}

// The progress bar: a faint track and a fill at least 4 points wide, easing to a new value
// in 0.3 s.
class ExportBar final : public QWidget {
 public:
  explicit ExportBar(QWidget* parent) : QWidget(parent), fill_(new Animated(0, this)) {
    setFixedHeight(4);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(fill_, &Animated::changed, this, qOverload<>(&QWidget::update));
  }
  void setProgress(double progress) {
    const double p = std::isfinite(progress) ? std::clamp(progress, 0.0, 1.0) : 0.0;
    if (p != fill_->target()) fill_->animateTo(p, Curve::easeOut(0.3));
  }
  double fillWidth() const { return std::max(width() * fill_->value(), 4.0); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const double r = height() / 2.0;
    p.setBrush(Color(0xFFFFFF, 0.08));
    p.drawRoundedRect(QRectF(rect()), r, r);
    p.setBrush(Color(0xFFFFFF, 0.9));
    p.drawRoundedRect(QRectF(0, 0, fillWidth(), height()), r, r);
  }

 private:
  Animated* fill_;
};

// The still of the finished movie, filling a rounded box; the film symbol while there is
// none. A double click plays the movie.
class ThumbnailBox final : public QWidget {
 public:
  explicit ThumbnailBox(QWidget* parent) : QWidget(parent) { setFixedSize(192, 108); }
  std::function<void()> onDoubleClick;
  void setImage(const QImage& image) {
    image_ = image;
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF box = rect();
    const QPainterPath shape = continuousRoundedRect(box, 8);
    p.setClipPath(shape);
    p.fillPath(shape, Color(0x000000, 0.5));
    if (!image_.isNull()) {
      // Fills the box; the overflow is cut off, never letterboxed.
      const QSizeF size = QSizeF(image_.size()).scaled(box.size(), Qt::KeepAspectRatioByExpanding);
      p.drawImage(
          QRectF(QPointF(box.center().x() - size.width() / 2, box.center().y() - size.height() / 2),
                 size),
          image_);
    } else {
      paintSymbol(p, u"film", QRectF(box.center() - QPointF(10, 10), QSizeF(20, 20)),
                  Theme::tertiary, QFont::Normal);
    }
    p.setClipping(false);
    strokeRoundedInside(p, box, 8, Color(0xFFFFFF, 0.1), 1);
  }
  void mouseDoubleClickEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && onDoubleClick) onDoubleClick();
  }

 private:
  QImage image_;
};

// A label that keeps its whole text but shows it cut to fit its width, on at most `lines`
// lines (the last one cut): it asks for the whole text's width and takes less.
class ElidedLabel final : public QLabel {
 public:
  ElidedLabel(int lines, Qt::TextElideMode mode, QWidget* parent)
      : QLabel(parent), lines_(lines), mode_(mode) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
  }
  QSize sizeHint() const override {
    const int whole = static_cast<int>(std::ceil(QFontMetricsF(font()).horizontalAdvance(full_)));
    return QSize(whole + 1, QLabel::sizeHint().height());
  }
  QSize minimumSizeHint() const override { return QSize(0, QLabel::sizeHint().height()); }
  void setFullText(const QString& value) {
    full_ = value;
    relayout();
  }
  QString fullText() const { return full_; }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QLabel::resizeEvent(event);
    relayout();
  }

 private:
  void relayout() {
    const QFontMetricsF fm(font());
    const double room = std::max(1, width());
    QString rest = full_;
    QStringList shown;
    for (int line = 1; line < lines_ && fm.horizontalAdvance(rest) > room; ++line) {
      int fits = 1;
      while (fits < rest.size() && fm.horizontalAdvance(rest.left(fits + 1)) <= room)
        ++fits;
      shown << rest.left(fits);
      rest = rest.mid(fits);
    }
    shown << fm.elidedText(rest, mode_, room);
    const QString joined = shown.join(QLatin1Char('\n'));
    if (joined != QLabel::text()) {
      setText(joined);
      updateGeometry();
    }
  }

  int lines_;
  Qt::TextElideMode mode_;
  QString full_;
};

}  // namespace

struct ExportSheet::Parts {
  QLabel* title;
  ElidedLabel* subtitle;
  IconButton* close;
  std::vector<QWidget*> contents;  // in the order of Content
  std::vector<std::function<void()>> followers;
  QLabel* estimate;
  QLabel* hint;
  QLabel* phase;
  QLabel* percent;
  ExportBar* bar;
  QLabel* summary;
  // The timing row: each value after its label.
  QLabel* elapsedTitle;
  QLabel* elapsed;
  QLabel* remainingTitle;
  QLabel* remaining;
  SheetButton* cancel;
  ThumbnailBox* thumbnailBox;
  ElidedLabel* fileName;
  QLabel* details;
  ElidedLabel* folder;
  QLabel* taken;
  SheetButton* reveal;
  QLabel* failure;
};

namespace {

QVBoxLayout* contentStack(QWidget* content, int spacing) {
  auto* stack = new QVBoxLayout(content);
  stack->setContentsMargins(24, 24, 24, 24);
  stack->setSpacing(spacing);
  return stack;
}

}  // namespace

ExportSheet::ExportSheet(Studio& studio, QWidget* parent)
    : Sheet(parent), studio_(studio), parts_(std::make_unique<Parts>()) {
  setFixedWidth(600);
  setWindowTitle(QL("导出视频"));
  setAttribute(Qt::WA_OpaquePaintEvent);
  QPalette colours = palette();
  colours.setColor(QPalette::WindowText, Theme::text);
  setPalette(colours);
  setFont(uiFont(12, QFont::Normal));
  refresh_ = new CoalescedRefresh(this, [this] { refresh(); });
  // The picture behind is taken once the sheet settled after a show, move or resize.
  sample_ = new QTimer(this);
  sample_->setSingleShot(true);
  sample_->setInterval(0);
  connect(sample_, &QTimer::timeout, this, [this] { sampleBehind(); });
  markShadowHost(this);
  timer_ = new QTimer(this);
  timer_->setInterval(1000);
  connect(timer_, &QTimer::timeout, this, [this] { tickTiming(); });
  auto& p = *parts_;

  auto* frame = new QVBoxLayout(this);
  frame->setContentsMargins(0, 0, 0, 0);
  frame->setSpacing(0);
  auto* header = new QHBoxLayout;
  header->setContentsMargins(24, 20, 24, 18);
  header->setSpacing(10);
  p.title = text({}, 15, Theme::text, this, QFont::DemiBold);
  p.title->setObjectName(QStringLiteral("title"));
  p.subtitle = styled(new ElidedLabel(1, Qt::ElideRight, this), 12, Theme::secondary);
  p.subtitle->setObjectName(QStringLiteral("subtitle"));
  p.close = new IconButton(QStringLiteral("xmark"), QL("关闭导出窗口"), 30, this);
  p.close->setObjectName(QStringLiteral("close"));
  connect(p.close, &QAbstractButton::clicked, this, [this] { studio_.dismissExport(); });
  header->addWidget(p.title, 0, Qt::AlignBaseline);
  header->addWidget(p.subtitle, 0, Qt::AlignBaseline);
  header->addStretch(1);
  header->addWidget(p.close);
  frame->addLayout(header);
  frame->addWidget(rule(this));

  // Settings.
  auto* settings = new QWidget;
  auto* settingsStack = contentStack(settings, 0);
  auto addRow = [&](const QString& label, std::vector<QuietSegment::Item> items, const char* name,
                    std::function<QVariant(const ExportOptions&)> read,
                    std::function<void(ExportOptions&, const QVariant&)> write) {
    if (settingsStack->count() > 0) settingsStack->addWidget(rule(settings));
    auto* row = new QWidget(settings);
    row->setFixedHeight(40);
    auto* rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    rowLayout->setSpacing(16);
    auto* title = text(label, 12, Theme::secondary, row);
    title->setFixedWidth(64);
    rowLayout->addWidget(title);
    auto* segment = new QuietSegment(std::move(items), row);
    segment->setObjectName(QString::fromLatin1(name));
    segment->setSelection(read(studio_.exportOptions()));
    rowLayout->addWidget(segment, 1);
    segment->onChoose = [this, write](const QVariant& v) {
      ExportOptions options = studio_.exportOptions();
      write(options, v);
      studio_.setExportOptions(options);
    };
    parts_->followers.push_back(
        [this, segment, read] { segment->setSelection(read(studio_.exportOptions())); });
    settingsStack->addWidget(row);
  };
  using O = ExportOptions;
  addRow(
      QL("格式"),
      {{int(O::Format::mp4), QStringLiteral("MP4")}, {int(O::Format::mov), QStringLiteral("MOV")}},
      "format", [](const O& o) { return QVariant(int(o.format)); },
      [](O& o, const QVariant& v) { o.format = O::Format(v.toInt()); });
  addRow(
      QL("编码"),
      {{int(O::Encoding::h264), QL("H.264 · 兼容性优先")},
       {int(O::Encoding::hevc), QL("HEVC · 文件更小")}},
      "encoding", [](const O& o) { return QVariant(int(o.encoding)); },
      [](O& o, const QVariant& v) { o.encoding = O::Encoding(v.toInt()); });
  std::vector<QuietSegment::Item> resolutions;
  for (auto r :
       {O::Resolution::p720, O::Resolution::p1080, O::Resolution::p1440, O::Resolution::p2160})
    resolutions.emplace_back(int(r), QString::fromStdString(label(r)));
  addRow(
      QL("分辨率"), resolutions, "resolution",
      [](const O& o) { return QVariant(int(o.resolution)); },
      [](O& o, const QVariant& v) { o.resolution = O::Resolution(v.toInt()); });
  addRow(
      QL("帧率"), {{30, QStringLiteral("30 fps")}, {60, QStringLiteral("60 fps")}}, "frameRate",
      [](const O& o) { return QVariant(int(o.framesPerSecond)); },
      [](O& o, const QVariant& v) { o.framesPerSecond = O::FrameRate(v.toInt()); });
  addRow(
      QL("质量"),
      {{int(O::Quality::compact), QL("体积优先")},
       {int(O::Quality::balanced), QL("均衡（推荐）")},
       {int(O::Quality::high), QL("画质优先")}},
      "quality", [](const O& o) { return QVariant(int(o.quality)); },
      [](O& o, const QVariant& v) { o.quality = O::Quality(v.toInt()); });
  settingsStack->addSpacing(12);
  p.hint = text({}, 11, Theme::tertiary, settings);
  p.hint->setObjectName(QStringLiteral("hint"));
  p.hint->setWordWrap(true);
  settingsStack->addWidget(p.hint);
  settingsStack->addSpacing(22);
  auto* actions = new QHBoxLayout;
  actions->setSpacing(10);
  auto* estimateStack = new QVBoxLayout;
  estimateStack->setSpacing(2);
  estimateStack->addWidget(text(QL("预计大小"), 11, Theme::secondary, settings));
  p.estimate = text({}, 14, Theme::text, settings, QFont::DemiBold);
  p.estimate->setObjectName(QStringLiteral("estimate"));
  estimateStack->addWidget(p.estimate);
  actions->addLayout(estimateStack);
  actions->addStretch(1);
  auto* dismiss = quietButton(QL("取消"), settings);
  dismiss->setObjectName(QStringLiteral("dismiss"));
  connect(dismiss, &QAbstractButton::clicked, this, [this] { studio_.dismissExport(); });
  auto* start = solidButton(QL("导出…"), settings);
  start->setObjectName(QStringLiteral("start"));
  connect(start, &QAbstractButton::clicked, this, [this] { studio_.beginExport(); });
  actions->addWidget(dismiss);
  actions->addWidget(start);
  settingsStack->addLayout(actions);
  p.contents.push_back(settings);

  // Progress.
  auto* progress = new QWidget;
  auto* progressStack = contentStack(progress, 14);
  auto* phaseRow = new QHBoxLayout;
  p.phase = text({}, 13, Theme::text, progress, QFont::Medium);
  p.phase->setObjectName(QStringLiteral("phase"));
  p.percent = text({}, 13, Theme::text, progress, QFont::DemiBold);
  p.percent->setObjectName(QStringLiteral("percent"));
  phaseRow->addWidget(p.phase, 0, Qt::AlignBaseline);
  phaseRow->addStretch(1);
  phaseRow->addWidget(p.percent, 0, Qt::AlignBaseline);
  progressStack->addLayout(phaseRow);
  p.bar = new ExportBar(progress);
  p.bar->setObjectName(QStringLiteral("bar"));
  progressStack->addWidget(p.bar);
  auto* timingRow = new QHBoxLayout;
  timingRow->setSpacing(0);
  p.summary = text({}, 11, Theme::secondary, progress);
  timingRow->addWidget(p.summary);
  timingRow->addStretch(1);
  // A value that is words ("Calculating…") would run into its label in one colour: the
  // values are brighter and stand a little apart.
  p.elapsedTitle = text({}, 11, Theme::secondary, progress);
  p.elapsedTitle->setObjectName(QStringLiteral("elapsedTitle"));
  p.elapsed = text({}, 11, Theme::text, progress);
  p.elapsed->setObjectName(QStringLiteral("elapsed"));
  p.remainingTitle = text({}, 11, Theme::secondary, progress);
  p.remainingTitle->setObjectName(QStringLiteral("remainingTitle"));
  p.remaining = text({}, 11, Theme::text, progress);
  p.remaining->setObjectName(QStringLiteral("remaining"));
  timingRow->addWidget(p.elapsedTitle);
  timingRow->addSpacing(5);
  timingRow->addWidget(p.elapsed);
  timingRow->addSpacing(16);
  timingRow->addWidget(p.remainingTitle);
  timingRow->addSpacing(5);
  timingRow->addWidget(p.remaining);
  progressStack->addLayout(timingRow);
  progressStack->addSpacing(10);
  auto* cancelRow = new QHBoxLayout;
  cancelRow->addWidget(text(QL("取消导出不会删除项目或原始录屏。"), 11, Theme::tertiary, progress));
  cancelRow->addStretch(1);
  p.cancel = quietButton(QL("取消导出"), progress);
  p.cancel->setObjectName(QStringLiteral("cancel"));
  connect(p.cancel, &QAbstractButton::clicked, this, [this] { studio_.cancelExport(); });
  cancelRow->addWidget(p.cancel);
  progressStack->addLayout(cancelRow);
  p.contents.push_back(progress);

  // Success.
  auto* success = new QWidget;
  auto* successStack = contentStack(success, 22);
  auto* resultRow = new QHBoxLayout;
  resultRow->setSpacing(18);
  p.thumbnailBox = new ThumbnailBox(success);
  p.thumbnailBox->setObjectName(QStringLiteral("thumbnail"));
  p.thumbnailBox->setToolTip(QL("双击播放"));
  p.thumbnailBox->onDoubleClick = [this] { studio_.openExportResult(); };
  resultRow->addWidget(p.thumbnailBox, 0, Qt::AlignTop);
  auto* detailStack = new QVBoxLayout;
  detailStack->setSpacing(7);
  p.fileName =
      styled(new ElidedLabel(2, Qt::ElideMiddle, success), 13, Theme::text, QFont::DemiBold);
  p.fileName->setObjectName(QStringLiteral("fileName"));
  p.fileName->setTextInteractionFlags(Qt::TextSelectableByMouse);
  p.details = text({}, 11, Theme::secondary, success);
  p.details->setObjectName(QStringLiteral("details"));
  p.folder = styled(new ElidedLabel(1, Qt::ElideMiddle, success), 11, Theme::tertiary);
  p.folder->setObjectName(QStringLiteral("folder"));
  p.taken = text({}, 11, Theme::tertiary, success);
  for (QLabel* label : std::initializer_list<QLabel*>{p.fileName, p.details, p.folder, p.taken})
    detailStack->addWidget(label);
  detailStack->addStretch(1);
  resultRow->addLayout(detailStack, 1);
  successStack->addLayout(resultRow);
  auto* successButtons = new QHBoxLayout;
  successButtons->setSpacing(8);
  auto* again = quietButton(QL("再次导出"), success);
  again->setObjectName(QStringLiteral("again"));
  connect(again, &QAbstractButton::clicked, this, [this] { studio_.resetExportResult(); });
  p.reveal = quietButton(QString::fromStdString(L(platformKey("在访达中显示"))), success);
  p.reveal->setObjectName(QStringLiteral("reveal"));
  connect(p.reveal, &QAbstractButton::clicked, this, [this] { studio_.revealExportResult(); });
  auto* done = solidButton(QL("完成"), success);
  done->setObjectName(QStringLiteral("done"));
  connect(done, &QAbstractButton::clicked, this, [this] { studio_.dismissExport(); });
  successButtons->addWidget(again);
  successButtons->addStretch(1);
  successButtons->addWidget(p.reveal);
  successButtons->addWidget(done);
  successStack->addLayout(successButtons);
  p.contents.push_back(success);

  // Failure.
  auto* failed = new QWidget;
  auto* failedStack = contentStack(failed, 20);
  p.failure = text({}, 12, Theme::secondary, failed);
  p.failure->setObjectName(QStringLiteral("failure"));
  p.failure->setWordWrap(true);
  p.failure->setTextInteractionFlags(Qt::TextSelectableByMouse);
  failedStack->addWidget(p.failure);
  auto* failedButtons = new QHBoxLayout;
  failedButtons->setSpacing(8);
  failedButtons->addStretch(1);
  auto* closeFailed = quietButton(QL("关闭"), failed);
  connect(closeFailed, &QAbstractButton::clicked, this, [this] { studio_.dismissExport(); });
  auto* retry = solidButton(QL("调整设置并重试"), failed);
  connect(retry, &QAbstractButton::clicked, this, [this] { studio_.resetExportResult(); });
  failedButtons->addWidget(closeFailed);
  failedButtons->addWidget(retry);
  failedStack->addLayout(failedButtons);
  p.contents.push_back(failed);

  // Only the content shown takes room, so the sheet is as tall as that one.
  for (QWidget* content : p.contents) {
    content->setParent(this);
    content->hide();
    frame->addWidget(content);
  }
  // The sheet holds the keyboard itself, so that no control opens with a focus ring; Tab
  // still reaches the controls.
  setFocusPolicy(Qt::StrongFocus);
  setFocus();

  connect(&studio_, &Studio::changed, refresh_, &CoalescedRefresh::request);
  refresh();
}

ExportSheet::~ExportSheet() = default;

ExportSheet::Content ExportSheet::content() const {
  if (studio_.exporting()) return Content::progress;
  if (studio_.exportResultURL()) return Content::success;
  if (studio_.exportFailure() || studio_.exportCancelled()) return Content::failure;
  return Content::settings;
}

QString ExportSheet::title() const {
  switch (content()) {
    case Content::progress:
      return QL("正在导出");
    case Content::success:
      return QL("导出完成");
    case Content::failure:
      return studio_.exportCancelled() ? QL("已取消导出") : QL("导出未完成");
    case Content::settings:
      break;
  }
  return QL("导出视频");
}

void ExportSheet::refreshNow() {
  refresh_->flush();
}

bool ExportSheet::timingRuns() const {
  return timer_->isActive();
}

void ExportSheet::refresh() {
  auto& p = *parts_;
  const Content shown = content();
  for (std::size_t i = 0; i < p.contents.size(); ++i)
    p.contents[i]->setVisible(i == static_cast<std::size_t>(shown));
  p.title->setText(title());
  p.subtitle->setFullText(QString::fromStdString(studio_.clip().title) + QStringLiteral(" · ") +
                          exportTime(studio_.duration()));
  p.close->setEnabled(!studio_.exporting());
  for (auto& follow : p.followers)
    follow();
  const ExportOptions& options = studio_.exportOptions();
  p.hint->setText(options.encoding == ExportOptions::Encoding::hevc
                      ? QL("HEVC 通常能用更小的文件保持清晰度，但部分旧设备和网站可能不支持。")
                      : QL("H.264 兼容性最好，适合分享和上传。60 fps 画面更顺滑，文件也会更大。"));
  p.estimate->setText(QStringLiteral("≈ ") +
                      exportSizeText(options.estimatedBytes(studio_.duration())));
  // The clock runs only while the progress shows.
  if (shown == Content::progress) {
    if (!timer_->isActive()) timer_->start();
  } else {
    timer_->stop();
  }
  const bool cancelling = studio_.exportCancelling();
  p.phase->setText(exportPhaseText(studio_.exportProgress(), cancelling));
  p.percent->setText(QString::number(exportPercent(studio_.exportProgress())) + QLatin1Char('%'));
  p.bar->setProgress(studio_.exportProgress());
  p.summary->setText(QString::fromStdString(options.summary()));
  p.cancel->setText(cancelling ? QL("正在取消…") : QL("取消导出"));
  p.cancel->setEnabled(!cancelling);
  p.cancel->updateGeometry();
  tickTiming();
  const auto& url = studio_.exportResultURL();
  if (url) {
    const QFileInfo file(QString::fromStdString(*url));
    p.fileName->setFullText(file.fileName());
    QString details = QString::fromStdString(options.summary());
    if (file.isFile()) details += QStringLiteral(" · ") + exportSizeText(file.size());
    p.details->setText(details);
    p.folder->setFullText(homeAbbreviated(file.absolutePath()));
    const auto& started = studio_.exportStartedAt();
    const auto& finished = studio_.exportFinishedAt();
    p.taken->setVisible(started && finished);
    if (started && finished) {
      p.taken->setText(QL("用时 ").trimmed() + QLatin1Char(' ') +
                       exportTime(started->msecsTo(*finished) / 1000.0));
    }
  }
  followThumbnail(shown == Content::success ? url : std::nullopt);
  p.failure->setText(studio_.exportFailure()
                         ? QString::fromStdString(shownMessage(*studio_.exportFailure()))
                         : QL("项目与原始录屏已保留，可以调整设置后重新导出。"));
  // 600 wide, as tall as the content shown. Its texts just changed: its cached size in the
  // sheet's layout is stale until it says so.
  p.contents[static_cast<std::size_t>(shown)]->updateGeometry();
  layout()->activate();
  setFixedHeight(layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width())
                                               : layout()->totalSizeHint().height());
}

void ExportSheet::followThumbnail(const std::optional<std::string>& url) {
  if (url == thumbnailFor_) return;
  thumbnailFor_ = url;
  // A newer request (or none) makes every earlier answer stale.
  const quint64 request = ++thumbnailRequest_;
  if (!url) return;
  QPointer<ExportSheet> sheet(this);
  QThreadPool::globalInstance()->start([sheet, request, path = *url] {
    std::optional<QImage> still = movieThumbnail(path);
    postTask(qApp, [sheet, request, still = std::move(still)] {
      if (!sheet || sheet->thumbnailRequest_ != request) return;
      sheet->thumbnail_ = still.value_or(QImage());
      sheet->parts_->thumbnailBox->setImage(sheet->thumbnail_);
    });
  });
}

void ExportSheet::tickTiming() {
  const auto& started = studio_.exportStartedAt();
  const double elapsed =
      started ? std::max<qint64>(0, started->msecsTo(QDateTime::currentDateTime())) / 1000.0 : 0;
  parts_->elapsedTitle->setText(QL("已用时间"));
  parts_->elapsed->setText(exportTime(elapsed));
  parts_->remainingTitle->setText(QL("预计剩余"));
  parts_->remaining->setText(
      exportRemainingText(studio_.exportProgress(), elapsed, studio_.exportCancelling()));
}

void ExportSheet::paintEvent(QPaintEvent* event) {
  // What lies behind, blurred, under the sheet material and the dark tint. X11 blurs
  // nothing behind a window, so the sheet blurs a picture of the window it covers.
  QPainter p(this);
  const QColor material =
      VisualEffectBackground::toneOf(VisualEffectBackground::Material::hudWindow);
  if (behind_.isNull()) {
    p.fillRect(event->rect(), material);
  } else {
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(QRectF(rect()), behind_);
    p.fillRect(event->rect(), faded(material, 0.6));
  }
  p.fillRect(event->rect(), Color(0x111317, 0.78));
  paintHostedShadows(this, p, event->rect());
}

void ExportSheet::sampleBehind() {
  QWidget* under = parentWidget() ? parentWidget()->window() : nullptr;
  if (!under || !under->isVisible() || !isVisible()) return;
  // Where the sheet stands over the window; centred on it while the window system has not
  // placed the sheet over it.
  QRect area(under->mapFromGlobal(mapToGlobal(QPoint(0, 0))), size());
  if (!under->rect().contains(area)) {
    area.moveCenter(under->rect().center());
  }
  const QImage shot = under->grab(area).toImage();
  if (shot.isNull()) return;
  // A soft blur: down to a sixteenth and smoothly back up.
  const QSize small = (QSizeF(shot.size()) / 16).toSize().expandedTo(QSize(1, 1));
  behind_ = shot.scaled(small, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                .scaled(shot.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  update();
}

void ExportSheet::showEvent(QShowEvent* event) {
  Sheet::showEvent(event);
  sample_->start();
}

void ExportSheet::moveEvent(QMoveEvent* event) {
  Sheet::moveEvent(event);
  sample_->start();
}

void ExportSheet::resizeEvent(QResizeEvent* event) {
  Sheet::resizeEvent(event);
  sample_->start();
}

void ExportSheet::askToDismiss() {
  studio_.dismissExport();  // refused while exporting
}

void ExportSheet::pressed(Key key) {
  const bool enter = key == Key::enter;
  switch (content()) {
    case Content::progress:
      return;  // no key works while exporting
    case Content::settings:
      enter ? studio_.beginExport() : studio_.dismissExport();
      return;
    case Content::success:
      if (enter) studio_.dismissExport();
      return;
    case Content::failure:
      if (enter) studio_.resetExportResult();
      return;
  }
}

}  // namespace vantry
