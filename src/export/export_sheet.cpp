#include "export/export_sheet.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "design/buttons.h"
#include "design/coalesced_refresh.h"
#include "design/painting.h"
#include "design/pill_segment.h"
#include "design/theme.h"
#include "localization/qt/qt_text.h"
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

namespace {

QLabel* text(const QString& value, double size, QColor color, QWidget* parent,
             QFont::Weight weight = QFont::Normal) {
  auto* label = new QLabel(value, parent);
  label->setFont(uiFont(size, weight));
  label->setStyleSheet(QStringLiteral("color: %1;").arg(color.name()));
  return label;
}

QString sizeText(std::int64_t bytes) {
  const QLocale locale = currentLanguage() == AppLanguage::chinese
                             ? QLocale(QLocale::Chinese, QLocale::China)
                             : QLocale(QLocale::English, QLocale::UnitedStates);
  return locale.formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

QString homeAbbreviated(const QString& path) {
  const QString home = QDir::homePath();
  if (path == home) return QStringLiteral("~");
  if (path.startsWith(home + QLatin1Char('/'))) return QStringLiteral("~") + path.mid(home.size());
  return path;
}

}  // namespace

struct ExportSheet::Parts {
  QLabel* title;
  QLabel* subtitle;
  IconButton* close;
  QStackedWidget* stack;
  std::vector<std::function<void()>> followers;
  QLabel* estimate;
  QLabel* hint;
  QLabel* phase;
  QLabel* percent;
  QLabel* timing;
  GlassButton* cancel;
  QLabel* fileName;
  QLabel* details;
  QLabel* folder;
  QLabel* taken;
  QLabel* failure;
};

ExportSheet::ExportSheet(Studio& studio, QWidget* parent)
    : QDialog(parent), studio_(studio), parts_(new Parts) {
  setFixedWidth(600);
  setWindowTitle(QL("导出视频"));
  setStyleSheet(QStringLiteral("ExportSheet { background: #111317; }"));
  refresh_ = new CoalescedRefresh(this, [this] { refresh(); });
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
  p.subtitle = text({}, 12, Theme::secondary, this);
  p.subtitle->setObjectName(QStringLiteral("subtitle"));
  p.close = new IconButton(QStringLiteral("xmark"), QL("关闭导出窗口"), 30, this);
  p.close->setObjectName(QStringLiteral("close"));
  connect(p.close, &QAbstractButton::clicked, this, [this] { studio_.dismissExport(); });
  header->addWidget(p.title);
  header->addWidget(p.subtitle);
  header->addStretch(1);
  header->addWidget(p.close);
  frame->addLayout(header);
  auto* divider = new QWidget(this);
  divider->setFixedHeight(1);
  divider->setStyleSheet(QStringLiteral("background: rgba(255,255,255,0.06);"));
  frame->addWidget(divider);
  p.stack = new QStackedWidget(this);
  frame->addWidget(p.stack);

  // Settings.
  auto* settings = new QWidget;
  auto* settingsStack = new QVBoxLayout(settings);
  settingsStack->setContentsMargins(24, 24, 24, 24);
  settingsStack->setSpacing(0);
  auto addRow = [&](const QString& label, std::vector<PillSegment::Item> items, const char* name,
                    std::function<QVariant(const ExportOptions&)> read,
                    std::function<void(ExportOptions&, const QVariant&)> write) {
    if (settingsStack->count() > 0) {
      auto* rule = new QWidget(settings);
      rule->setFixedHeight(1);
      rule->setStyleSheet(QStringLiteral("background: rgba(255,255,255,0.06);"));
      settingsStack->addWidget(rule);
    }
    auto* row = new QWidget(settings);
    row->setFixedHeight(40);
    auto* rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    rowLayout->setSpacing(16);
    auto* title = text(label, 12, Theme::secondary, row);
    title->setFixedWidth(64);
    rowLayout->addWidget(title);
    auto* segment =
        new PillSegment(std::move(items), read(studio_.exportOptions()), Theme::cyan, row);
    segment->setObjectName(QString::fromLatin1(name));
    rowLayout->addWidget(segment);
    rowLayout->addStretch(1);
    connect(segment, &PillSegment::selectionChanged, this, [this, write](const QVariant& v) {
      ExportOptions options = studio_.exportOptions();
      write(options, v);
      studio_.setExportOptions(options);
    });
    parts_->followers.push_back(
        [this, segment, read] { segment->setSelection(read(studio_.exportOptions())); });
    settingsStack->addWidget(row);
  };
  using O = ExportOptions;
  addRow(
      QL("格式"),
      {{int(O::Format::mp4), QStringLiteral("MP4"), {}},
       {int(O::Format::mov), QStringLiteral("MOV"), {}}},
      "format", [](const O& o) { return QVariant(int(o.format)); },
      [](O& o, const QVariant& v) { o.format = O::Format(v.toInt()); });
  addRow(
      QL("编码"),
      {{int(O::Encoding::h264), QL("H.264 · 兼容性优先"), {}},
       {int(O::Encoding::hevc), QL("HEVC · 文件更小"), {}}},
      "encoding", [](const O& o) { return QVariant(int(o.encoding)); },
      [](O& o, const QVariant& v) { o.encoding = O::Encoding(v.toInt()); });
  std::vector<PillSegment::Item> resolutions;
  for (auto r :
       {O::Resolution::p720, O::Resolution::p1080, O::Resolution::p1440, O::Resolution::p2160}) {
    resolutions.push_back({int(r), QString::fromStdString(label(r)), {}});
  }
  addRow(
      QL("分辨率"), resolutions, "resolution",
      [](const O& o) { return QVariant(int(o.resolution)); },
      [](O& o, const QVariant& v) { o.resolution = O::Resolution(v.toInt()); });
  addRow(
      QL("帧率"), {{30, QStringLiteral("30 fps"), {}}, {60, QStringLiteral("60 fps"), {}}},
      "frameRate", [](const O& o) { return QVariant(int(o.framesPerSecond)); },
      [](O& o, const QVariant& v) { o.framesPerSecond = O::FrameRate(v.toInt()); });
  addRow(
      QL("质量"),
      {{int(O::Quality::compact), QL("体积优先"), {}},
       {int(O::Quality::balanced), QL("均衡（推荐）"), {}},
       {int(O::Quality::high), QL("画质优先"), {}}},
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
  auto* dismiss = new GlassButton(QL("取消"), {}, {}, settings);
  connect(dismiss, &QAbstractButton::clicked, this, [this] { studio_.dismissExport(); });
  auto* start = new PrimaryButton(QL("导出…"), {}, {}, settings);
  start->setObjectName(QStringLiteral("start"));
  connect(start, &QAbstractButton::clicked, this, [this] { studio_.beginExport(); });
  actions->addWidget(dismiss);
  actions->addWidget(start);
  settingsStack->addLayout(actions);
  p.stack->addWidget(settings);

  // Progress.
  auto* progress = new QWidget;
  auto* progressStack = new QVBoxLayout(progress);
  progressStack->setContentsMargins(24, 24, 24, 24);
  progressStack->setSpacing(14);
  auto* phaseRow = new QHBoxLayout;
  p.phase = text({}, 13, Theme::text, progress, QFont::Medium);
  p.phase->setObjectName(QStringLiteral("phase"));
  p.percent = text({}, 13, Theme::text, progress, QFont::DemiBold);
  p.percent->setObjectName(QStringLiteral("percent"));
  phaseRow->addWidget(p.phase);
  phaseRow->addStretch(1);
  phaseRow->addWidget(p.percent);
  progressStack->addLayout(phaseRow);
  p.timing = text({}, 11, Theme::secondary, progress);
  p.timing->setObjectName(QStringLiteral("timing"));
  progressStack->addWidget(p.timing);
  auto* cancelRow = new QHBoxLayout;
  cancelRow->addWidget(text(QL("取消导出不会删除项目或原始录屏。"), 11, Theme::tertiary, progress));
  cancelRow->addStretch(1);
  p.cancel = new GlassButton(QL("取消导出"), {}, {}, progress);
  p.cancel->setObjectName(QStringLiteral("cancel"));
  connect(p.cancel, &QAbstractButton::clicked, this, [this] { studio_.cancelExport(); });
  cancelRow->addWidget(p.cancel);
  progressStack->addLayout(cancelRow);
  p.stack->addWidget(progress);

  // Success.
  auto* success = new QWidget;
  auto* successStack = new QVBoxLayout(success);
  successStack->setContentsMargins(24, 24, 24, 24);
  successStack->setSpacing(7);
  p.fileName = text({}, 13, Theme::text, success, QFont::DemiBold);
  p.fileName->setObjectName(QStringLiteral("fileName"));
  p.fileName->setTextInteractionFlags(Qt::TextSelectableByMouse);
  p.details = text({}, 11, Theme::secondary, success);
  p.folder = text({}, 11, Theme::tertiary, success);
  p.folder->setObjectName(QStringLiteral("folder"));
  p.taken = text({}, 11, Theme::tertiary, success);
  for (auto* label : {p.fileName, p.details, p.folder, p.taken})
    successStack->addWidget(label);
  successStack->addSpacing(15);
  auto* successButtons = new QHBoxLayout;
  auto* again = new GlassButton(QL("再次导出"), {}, {}, success);
  connect(again, &QAbstractButton::clicked, this, [this] { studio_.resetExportResult(); });
  auto* done = new PrimaryButton(QL("完成"), {}, {}, success);
  connect(done, &QAbstractButton::clicked, this, [this] { studio_.dismissExport(); });
  successButtons->addWidget(again);
  successButtons->addStretch(1);
  successButtons->addWidget(done);
  successStack->addLayout(successButtons);
  p.stack->addWidget(success);

  // Failure.
  auto* failed = new QWidget;
  auto* failedStack = new QVBoxLayout(failed);
  failedStack->setContentsMargins(24, 24, 24, 24);
  failedStack->setSpacing(20);
  p.failure = text({}, 12, Theme::secondary, failed);
  p.failure->setObjectName(QStringLiteral("failure"));
  p.failure->setWordWrap(true);
  p.failure->setTextInteractionFlags(Qt::TextSelectableByMouse);
  failedStack->addWidget(p.failure);
  auto* failedButtons = new QHBoxLayout;
  failedButtons->setSpacing(8);
  failedButtons->addStretch(1);
  auto* closeFailed = new GlassButton(QL("关闭"), {}, {}, failed);
  connect(closeFailed, &QAbstractButton::clicked, this, [this] { studio_.dismissExport(); });
  auto* retry = new PrimaryButton(QL("调整设置并重试"), {}, {}, failed);
  connect(retry, &QAbstractButton::clicked, this, [this] { studio_.resetExportResult(); });
  failedButtons->addWidget(closeFailed);
  failedButtons->addWidget(retry);
  failedStack->addLayout(failedButtons);
  p.stack->addWidget(failed);

  connect(&studio_, &Studio::changed, refresh_, &CoalescedRefresh::request);
  refresh();
}

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

void ExportSheet::refresh() {
  auto& p = *parts_;
  const Content shown = content();
  p.stack->setCurrentIndex(static_cast<int>(shown));
  p.title->setText(title());
  p.subtitle->setText(QString::fromStdString(studio_.clip().title) + QStringLiteral(" · ") +
                      exportTime(studio_.duration()));
  p.close->setEnabled(!studio_.exporting());
  for (auto& follow : p.followers)
    follow();
  const ExportOptions& options = studio_.exportOptions();
  p.hint->setText(options.encoding == ExportOptions::Encoding::hevc
                      ? QL("HEVC 通常能用更小的文件保持清晰度，但部分旧设备和网站可能不支持。")
                      : QL("H.264 兼容性最好，适合分享和上传。60 fps 画面更顺滑，文件也会更大。"));
  p.estimate->setText(QStringLiteral("≈ ") + sizeText(options.estimatedBytes(studio_.duration())));
  // The clock runs only while the progress shows.
  if (shown == Content::progress) {
    if (!timer_->isActive()) timer_->start();
  } else {
    timer_->stop();
  }
  const bool cancelling = studio_.exportCancelling();
  p.phase->setText(exportPhaseText(studio_.exportProgress(), cancelling));
  p.percent->setText(QString::number(exportPercent(studio_.exportProgress())) + QLatin1Char('%'));
  p.cancel->setText(cancelling ? QL("正在取消…") : QL("取消导出"));
  p.cancel->setEnabled(!cancelling);
  tickTiming();
  if (const auto& url = studio_.exportResultURL()) {
    const QFileInfo file(QString::fromStdString(*url));
    p.fileName->setText(file.fileName());
    QString details = QString::fromStdString(options.summary());
    if (file.exists()) details += QStringLiteral(" · ") + sizeText(file.size());
    p.details->setText(details);
    p.folder->setText(homeAbbreviated(file.absolutePath()));
    const auto& started = studio_.exportStartedAt();
    const auto& finished = studio_.exportFinishedAt();
    p.taken->setVisible(started && finished);
    if (started && finished) {
      p.taken->setText(QL("用时 ").trimmed() + QLatin1Char(' ') +
                       exportTime(started->msecsTo(*finished) / 1000.0));
    }
  }
  p.failure->setText(studio_.exportFailure()
                         ? QLM(*studio_.exportFailure())
                         : QL("项目与原始录屏已保留，可以调整设置后重新导出。"));
}

void ExportSheet::tickTiming() {
  const auto& started = studio_.exportStartedAt();
  const double elapsed =
      started ? std::max<qint64>(0, started->msecsTo(QDateTime::currentDateTime())) / 1000.0 : 0;
  parts_->timing->setText(
      QString::fromStdString(studio_.exportOptions().summary()) + QStringLiteral("    ") +
      QL("已用时间") + QLatin1Char(' ') + exportTime(elapsed) + QStringLiteral("   ") +
      QL("预计剩余") + QLatin1Char(' ') +
      exportRemainingText(studio_.exportProgress(), elapsed, studio_.exportCancelling()));
}

void ExportSheet::reject() {
  // Escape and the window's close: never while exporting, and through the controller.
  if (studio_.exporting()) return;
  if (property("closedForStudio").toBool()) {
    QDialog::reject();
    return;
  }
  studio_.dismissExport();
}

void ExportSheet::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  const bool escape = event->key() == Qt::Key_Escape;
  if (!enter && !escape) return QDialog::keyPressEvent(event);
  event->accept();
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
