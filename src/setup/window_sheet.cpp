#include "setup/window_sheet.h"

#include <QElapsedTimer>
#include <QGraphicsOpacityEffect>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

#include "design/buttons.h"
#include "design/chrome.h"
#include "design/coalesced_refresh.h"
#include "design/icons.h"
#include "design/motion.h"
#include "design/painting.h"
#include "design/pill_segment.h"
#include "design/theme.h"
#include "design/view_parts.h"
#include "localization/qt/language_settings.h"
#include "localization/qt/qt_text.h"
#include "platform/x11/x11_connection.h"
#include "studio/studio.h"

namespace vantry {

QString windowOwnerName(const platform::WindowInfo& window) {
  if (window.application.name.empty()) return QL("窗口");
  return QString::fromStdString(window.application.name);
}

std::vector<platform::WindowInfo> filterWindows(const std::vector<platform::WindowInfo>& windows,
                                                const QString& query) {
  if (query.isEmpty()) return windows;
  std::vector<platform::WindowInfo> kept;
  for (const auto& w : windows) {
    const QString text = QString::fromStdString(w.application.name) + QLatin1Char(' ') +
                         QString::fromStdString(w.title);
    if (text.contains(query, Qt::CaseInsensitive)) kept.push_back(w);
  }
  return kept;
}

namespace {

// An EWMH window manager names its check window on the root. Without one the list holds
// only what other clients map themselves, and a person should hear why it may be empty.
bool windowManagerRunning() {
  try {
    platform::x11::Connection& c = platform::x11::threadConnection();
    return !c.windowListProperty(c.root(), "_NET_SUPPORTING_WM_CHECK").empty();
  } catch (...) {
    return true;  // no X at all: the source list's own error says so
  }
}

constexpr double kRowHeight = 44;

// The live picture of the chosen window, or a placeholder without one.
class LivePicture : public QWidget {
 public:
  explicit LivePicture(QWidget* parent) : QWidget(parent) {}

  void show(const QImage& image, const QString& placeholder) {
    image_ = image;
    placeholder_ = placeholder;
    update();
  }
  const QImage& image() const { return image_; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF box = QRectF(rect());
    p.save();
    p.setClipPath(continuousRoundedRect(box, 12));
    fillRounded(p, box, 12, QColor(0, 0, 0, int(255 * 0.45)));
    if (!image_.isNull()) {
      const QSizeF fitted = QSizeF(image_.size()).scaled(box.size(), Qt::KeepAspectRatio);
      const QRectF target(box.center() - QPointF(fitted.width() / 2, fitted.height() / 2), fitted);
      p.drawImage(target, image_);
    } else {
      const QFont font = uiFont(12, QFont::Normal);
      const double textHeight = QFontMetricsF(font).height();
      const double top = box.center().y() - (26 + 8 + textHeight) / 2;
      paintSymbol(p, u"macwindow.on.rectangle", QRectF(box.center().x() - 13, top, 26, 26),
                  Theme::tertiary);
      p.setFont(font);
      p.setPen(Theme::secondary);
      p.drawText(QRectF(box.left(), top + 26 + 8, box.width(), textHeight), Qt::AlignCenter,
                 placeholder_);
    }
    p.restore();
    strokeRoundedInside(p, box, 12, Theme::glassStroke.over(box), 1);
  }

 private:
  QImage image_;
  QString placeholder_;
};

// An indeterminate progress indicator: an arc turning with the clock (still when frozen).
class Spinner : public QWidget {
 public:
  Spinner(int side, QWidget* parent) : QWidget(parent) {
    setFixedSize(side, side);
    timer_.setInterval(16);
    connect(&timer_, &QTimer::timeout, this, [this] { update(); });
    clock_.start();
  }

 protected:
  void showEvent(QShowEvent*) override {
    if (!animationsFrozen()) timer_.start();
  }
  void hideEvent(QHideEvent*) override { timer_.stop(); }
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double line = std::max(2.0, width() / 10.0);
    const QRectF ring = QRectF(rect()).adjusted(line, line, -line, -line);
    p.setPen(QPen(faded(Qt::white, 0.15), line));
    p.drawEllipse(ring);
    const double turn = animationsFrozen() ? 0 : std::fmod(clock_.elapsed() / 1000.0, 1.0);
    p.setPen(QPen(Theme::text, line, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(ring, int((90 - 360 * turn) * 16), -100 * 16);
  }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
};

}  // namespace

// --- One row ---

WindowRow::WindowRow(platform::WindowInfo window, QImage icon, QWidget* parent)
    : QAbstractButton(parent), window_(std::move(window)), icon_(std::move(icon)) {
  setFixedHeight(int(kRowHeight));
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setFocusPolicy(Qt::NoFocus);
  handCursor(this);
  retranslate();
}

void WindowRow::setSelected(bool selected) {
  if (selected == selected_) return;
  selected_ = selected;
  retranslate();
  update();
}

void WindowRow::retranslate() {
  // Setting announces a change to screen readers: only when there is one.
  const QString name =
      windowOwnerName(window_) + QLatin1Char(' ') + QString::fromStdString(window_.title);
  const QString state = selected_ ? QL("已选中") : QL("未选中");
  if (accessibleName() != name) setAccessibleName(name);
  if (accessibleDescription() != state) setAccessibleDescription(state);
}

QSize WindowRow::sizeHint() const {
  return QSize(300, int(kRowHeight));
}

void WindowRow::enterEvent(QEnterEvent* event) {
  hovering_ = true;
  update();
  QAbstractButton::enterEvent(event);
}

void WindowRow::leaveEvent(QEvent* event) {
  hovering_ = false;
  update();
  QAbstractButton::leaveEvent(event);
}

void WindowRow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  const QRectF box = QRectF(rect());
  const double wash = hovering_ && isEnabled() ? 0.06 : 0.03;
  fillRounded(p, box, 10, selected_ ? faded(Theme::cyan, 0.12) : faded(Qt::white, wash));
  if (selected_) strokeRoundedInside(p, box, 10, faded(Theme::cyan, 0.6), 1);

  double x = box.left() + 10;
  const QRectF iconBox(x, box.center().y() - 12, 24, 24);
  if (!icon_.isNull()) {
    const QSizeF fitted = QSizeF(icon_.size()).scaled(iconBox.size(), Qt::KeepAspectRatio);
    p.drawImage(QRectF(iconBox.center() - QPointF(fitted.width() / 2, fitted.height() / 2), fitted),
                icon_);
  } else {
    paintSymbol(p, u"macwindow", iconBox, Theme::secondary);
  }
  x = iconBox.right() + 10;

  double right = box.right() - 10;
  if (selected_) {
    paintSymbol(p, u"checkmark.circle.fill", QRectF(right - 16, box.center().y() - 8, 16, 16),
                Theme::cyan);
    right -= 16 + 10;
  }
  const QString size = QString::asprintf("%lld×%lld", static_cast<long long>(window_.frame.width),
                                         static_cast<long long>(window_.frame.height));
  const QFont sizeFont = Theme::mono(10, QFont::Normal);
  const double sizeWidth = QFontMetricsF(sizeFont).horizontalAdvance(size);
  p.setFont(sizeFont);
  p.setPen(Theme::tertiary);
  p.drawText(QRectF(right - sizeWidth, box.top(), sizeWidth, box.height()), Qt::AlignVCenter, size);
  right -= sizeWidth + 10;

  const double width = std::max(0.0, right - x);
  const QFont nameFont = uiFont(12, QFont::DemiBold);
  const QFont titleFont = uiFont(11, QFont::Normal);
  const QFontMetricsF nameMetrics(nameFont);
  const QFontMetricsF titleMetrics(titleFont);
  const double top = box.center().y() - (nameMetrics.height() + 2 + titleMetrics.height()) / 2;
  p.setFont(nameFont);
  p.setPen(Theme::text);
  p.drawText(QRectF(x, top, width, nameMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
             nameMetrics.elidedText(windowOwnerName(window_), Qt::ElideRight, width));
  p.setFont(titleFont);
  p.setPen(Theme::secondary);
  p.drawText(QRectF(x, top + nameMetrics.height() + 2, width, titleMetrics.height()),
             Qt::AlignLeft | Qt::AlignVCenter,
             titleMetrics.elidedText(QString::fromStdString(window_.title), Qt::ElideRight, width));
}

// --- The sheet ---

struct WindowSheet::Parts {
  GlassButton* back;
  QLabel* title;
  IconButton* close;
  LivePicture* picture;
  GlassButton* camera;
  GlassButton* microphone;
  PillSegment* presenter;
  QLineEdit* search;
  GlassButton* refresh;
  QScrollArea* scroll;
  QWidget* list;
  QVBoxLayout* rows;
  Spinner* loading;
  QLabel* empty;
  QWidget* errorRow;
  QLabel* errorText;
  GlassButton* retry;
  GlassButton* permissions;
  Spinner* progress;
  QLabel* progressText;
  GlassButton* cancel;
  PrimaryButton* start;
  std::vector<WindowRow*> shown;
};

WindowSheet::WindowSheet(Studio& studio, QWidget* parent)
    : Sheet(parent), studio_(studio), parts_(new Parts) {
  setFixedWidth(kWidth);
  setFont(uiFont(12, QFont::Normal));
  refresh_ = new CoalescedRefresh(this, [this] { refresh(); });
  auto& p = *parts_;

  auto* frame = new QVBoxLayout(this);
  frame->setContentsMargins(0, 0, 0, 0);
  auto* ground = new AmbientBackground(this);
  QPalette palette = ground->palette();
  palette.setColor(QPalette::WindowText, Theme::text);
  palette.setColor(QPalette::Text, Theme::text);
  palette.setColor(QPalette::PlaceholderText, Theme::tertiary);
  ground->setPalette(palette);
  frame->addWidget(ground);
  auto* stack = new QVBoxLayout(ground);
  stack->setContentsMargins(24, 24, 24, 24);
  stack->setSpacing(18);

  // Header.
  auto* header = new QHBoxLayout;
  header->setSpacing(12);
  p.back = new GlassButton({}, QStringLiteral("chevron.left"), {}, ground);
  p.back->setObjectName(QStringLiteral("back"));
  connect(p.back, &QAbstractButton::clicked, this,
          [this] { studio_.setSetupMode(RecordingSource::display); });
  p.title = makeLabel({}, 18, Theme::text, ground, QFont::DemiBold);
  p.close = new IconButton(QStringLiteral("xmark"), {}, 30, ground);
  p.close->setObjectName(QStringLiteral("close"));
  connect(p.close, &QAbstractButton::clicked, this, [this] { studio_.dismissRecordingSetup(); });
  header->addWidget(p.back);
  header->addWidget(p.title);
  header->addStretch(1);
  header->addWidget(p.close);
  stack->addLayout(header);

  // Columns.
  auto* columnsHolder = new QWidget(ground);
  columnsHolder->setFixedHeight(300);
  auto* columns = new QHBoxLayout(columnsHolder);
  columns->setContentsMargins(0, 0, 0, 0);
  columns->setSpacing(16);
  auto* left = new QWidget(columnsHolder);
  left->setFixedWidth(320);
  auto* leftStack = new QVBoxLayout(left);
  leftStack->setContentsMargins(0, 0, 0, 0);
  leftStack->setSpacing(12);
  p.picture = new LivePicture(left);
  p.picture->setObjectName(QStringLiteral("picture"));
  p.picture->setFixedSize(320, 200);  // 1.6 : 1, the column's width
  leftStack->addWidget(p.picture);
  auto* toggles = new QHBoxLayout;
  toggles->setSpacing(8);
  p.camera = new GlassButton({}, {}, {false, Theme::mint, false}, left);
  p.camera->setObjectName(QStringLiteral("camera"));
  connect(p.camera, &QAbstractButton::clicked, this,
          [this] { studio_.setUseCamera(!studio_.useCamera()); });
  p.microphone = new GlassButton({}, {}, {false, Theme::cyan, false}, left);
  p.microphone->setObjectName(QStringLiteral("microphone"));
  connect(p.microphone, &QAbstractButton::clicked, this,
          [this] { studio_.setUseMicrophone(!studio_.useMicrophone()); });
  toggles->addWidget(p.camera);
  toggles->addWidget(p.microphone);
  toggles->addStretch(1);
  leftStack->addLayout(toggles);
  p.presenter = new PillSegment({}, QVariant(false), Theme::mint, left);
  p.presenter->setObjectName(QStringLiteral("presenter"));
  connect(p.presenter, &PillSegment::selectionChanged, this,
          [this](const QVariant& value) { studio_.setFullPresenter(value.toBool()); });
  leftStack->addWidget(p.presenter, 0, Qt::AlignLeft);
  leftStack->addStretch(1);
  columns->addWidget(left, 0, Qt::AlignTop);

  auto* right = new QWidget(columnsHolder);
  auto* rightStack = new QVBoxLayout(right);
  rightStack->setContentsMargins(0, 0, 0, 0);
  rightStack->setSpacing(10);
  auto* searchBox =
      new CapsuleBox({QColor(0, 0, 0, int(255 * 0.3)), Theme::hairline, 1, 9}, 10, 34, 8, right);
  searchBox->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  searchBox->row()->addWidget(
      new SymbolView(QStringLiteral("magnifyingglass"), 14, Theme::tertiary, 500, searchBox));
  p.search = new QLineEdit(searchBox);
  p.search->setObjectName(QStringLiteral("search"));
  p.search->setFrame(false);
  p.search->setFont(uiFont(12, QFont::Normal));
  p.search->setStyleSheet(
      QStringLiteral("QLineEdit { background: transparent; border: none; color: #EEF2FA; "
                     "selection-background-color: rgba(79,216,255,90); }"));
  p.search->setPalette(palette);
  connect(p.search, &QLineEdit::textChanged, this, [this] { refresh(); });
  searchBox->row()->addWidget(p.search, 1);
  p.refresh =
      new GlassButton({}, QStringLiteral("arrow.clockwise"), {false, Theme::cyan, true}, searchBox);
  p.refresh->setObjectName(QStringLiteral("refresh"));
  connect(p.refresh, &QAbstractButton::clicked, this, [this] { studio_.refreshCaptureSources(); });
  searchBox->row()->addWidget(p.refresh);
  rightStack->addWidget(searchBox);

  p.scroll = new QScrollArea(right);
  p.scroll->setObjectName(QStringLiteral("list"));
  p.scroll->setFrameShape(QFrame::NoFrame);
  p.scroll->setWidgetResizable(true);
  p.scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  p.scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  p.scroll->setStyleSheet(QStringLiteral(
      "QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; }"
      "QScrollBar:vertical { background: transparent; width: 8px; margin: 0; }"
      "QScrollBar::handle:vertical { background: rgba(255,255,255,40); border-radius: 4px; "
      "min-height: 24px; }"
      "QScrollBar::add-line, QScrollBar::sub-line { height: 0; }"
      "QScrollBar::add-page, QScrollBar::sub-page { background: transparent; }"));
  p.scroll->viewport()->setAutoFillBackground(false);
  p.list = new QWidget;
  p.list->setAutoFillBackground(false);
  p.rows = new QVBoxLayout(p.list);
  p.rows->setContentsMargins(0, 0, 6, 0);
  p.rows->setSpacing(4);
  p.rows->addStretch(1);
  p.scroll->setWidget(p.list);
  // The progress indicator sits centred over the list.
  auto* listArea = new QGridLayout;
  listArea->setContentsMargins(0, 0, 0, 0);
  listArea->addWidget(p.scroll, 0, 0);
  p.loading = new Spinner(24, right);
  p.loading->setObjectName(QStringLiteral("loading"));
  p.loading->hide();
  listArea->addWidget(p.loading, 0, 0, Qt::AlignCenter);
  // Why the list is empty, in its place.
  p.empty = makeLabel({}, 12, Theme::secondary, right);
  p.empty->setObjectName(QStringLiteral("emptyList"));
  p.empty->setWordWrap(true);
  p.empty->setAlignment(Qt::AlignCenter);
  p.empty->setFixedWidth(300);
  p.empty->hide();
  listArea->addWidget(p.empty, 0, 0, Qt::AlignCenter);
  rightStack->addLayout(listArea, 1);
  columns->addWidget(right, 1);
  stack->addWidget(columnsHolder);

  // Error row.
  p.errorRow = new QWidget(ground);
  p.errorRow->setObjectName(QStringLiteral("errorRow"));
  auto* errorLayout = new QHBoxLayout(p.errorRow);
  errorLayout->setContentsMargins(0, 0, 0, 0);
  errorLayout->setSpacing(8);
  errorLayout->addWidget(new SymbolView(QStringLiteral("exclamationmark.triangle.fill"), 14,
                                        Theme::amber, 500, p.errorRow),
                         0, Qt::AlignVCenter);
  p.errorText = makeLabel({}, 11, Theme::amber, p.errorRow);
  p.errorText->setObjectName(QStringLiteral("errorText"));
  p.errorText->setWordWrap(true);
  p.errorText->setMaximumHeight(
      int(std::ceil(QFontMetricsF(p.errorText->font()).lineSpacing() * 3)));
  errorLayout->addWidget(p.errorText, 1);
  p.retry = new GlassButton({}, {}, {}, p.errorRow);
  p.retry->setObjectName(QStringLiteral("retry"));
  connect(p.retry, &QAbstractButton::clicked, this, [this] { studio_.prepareRecording(); });
  p.permissions = new GlassButton({}, {}, {}, p.errorRow);
  p.permissions->setObjectName(QStringLiteral("permissions"));
  connect(p.permissions, &QAbstractButton::clicked, this,
          [this] { studio_.openScreenPermissionSettings(); });
  errorLayout->addWidget(p.retry);
  errorLayout->addWidget(p.permissions);
  stack->addWidget(p.errorRow);

  // Footer.
  auto* footer = new QHBoxLayout;
  footer->setSpacing(8);
  p.progress = new Spinner(14, ground);
  p.progressText = makeLabel({}, 12, Theme::secondary, ground);
  p.progressText->setObjectName(QStringLiteral("progressText"));
  p.cancel = new GlassButton({}, {}, {}, ground);
  p.cancel->setObjectName(QStringLiteral("cancel"));
  connect(p.cancel, &QAbstractButton::clicked, this, [this] { studio_.dismissRecordingSetup(); });
  p.start = new PrimaryButton({}, QStringLiteral("record.circle"), {Theme::recGradient, Theme::rec},
                              ground);
  p.start->setObjectName(QStringLiteral("start"));
  connect(p.start, &QAbstractButton::clicked, this, [this] { studio_.startPreparedRecording(); });
  footer->addWidget(p.progress);
  footer->addWidget(p.progressText);
  footer->addStretch(1);
  footer->addWidget(p.cancel);
  footer->addWidget(p.start);
  stack->addLayout(footer);

  connect(&studio_, &Studio::changed, refresh_, &CoalescedRefresh::request);
  // The chosen window's live picture.
  connect(&studio_, &Studio::liveFrame, refresh_, &CoalescedRefresh::request);
  connect(&LanguageSettings::shared(), &LanguageSettings::changed, refresh_,
          &CoalescedRefresh::request);
  rebuildRows();
  refresh();
}

WindowSheet::~WindowSheet() {
  delete parts_;
}

QString WindowSheet::query() const {
  return parts_->search->text();
}

void WindowSheet::setQuery(const QString& query) {
  parts_->search->setText(query);
}

std::vector<WindowRow*> WindowSheet::rows() const {
  return parts_->shown;
}

bool WindowSheet::pictureShown() const {
  return !parts_->picture->image().isNull();
}

bool WindowSheet::loadingShown() const {
  return !parts_->loading->isHidden();
}

void WindowSheet::refreshNow() {
  refresh_->flush();
}

void WindowSheet::showEvent(QShowEvent* event) {
  Sheet::showEvent(event);
  // Typing searches at once.
  parts_->search->setFocus(Qt::OtherFocusReason);
  if (listed_) return;
  listed_ = true;
  studio_.refreshCaptureSources();
}

void WindowSheet::choose(platform::WindowId id) {
  if (studio_.busy()) return;
  studio_.setSelectedWindowID(id);
  studio_.prepareRecording();
}

void WindowSheet::rebuildRows() {
  auto& p = *parts_;
  const auto windows = filterWindows(studio_.captureWindows(), p.search->text());
  // Rebuilt only when what the rows show changed, so that hover and scrolling survive
  // the controller's frequent other changes.
  bool same = windows.size() == p.shown.size();
  for (std::size_t i = 0; same && i < windows.size(); ++i) {
    const auto& shown = p.shown[i]->window();
    same = shown.id == windows[i].id && shown.title == windows[i].title &&
           shown.application.name == windows[i].application.name &&
           shown.frame == windows[i].frame &&
           p.shown[i]->icon().cacheKey() == studio_.captureWindowIcon(windows[i].id).cacheKey();
  }
  if (!same) {
    for (WindowRow* row : p.shown)
      delete row;
    p.shown.clear();
    for (const auto& w : windows) {
      auto* row = new WindowRow(w, studio_.captureWindowIcon(w.id), p.list);
      connect(row, &QAbstractButton::clicked, this, [this, id = w.id] { choose(id); });
      p.rows->insertWidget(p.rows->count() - 1, row);
      p.shown.push_back(row);
    }
  }
  const auto selected = studio_.selectedWindowID();
  for (WindowRow* row : p.shown) {
    row->setSelected(selected && *selected == row->window().id);
    row->retranslate();
  }
}

void WindowSheet::refresh() {
  auto& p = *parts_;
  const Studio& s = studio_;
  const bool busy = s.busy();
  setWindowTitle(QL("录制窗口"));
  p.back->setText(QL("选择屏幕"));
  p.back->setEnabled(!busy);
  p.title->setText(QL("录制窗口"));
  p.close->setToolTip(QL("取消"));
  p.close->setEnabled(!busy);

  const bool chosen = s.selectedWindowID().has_value();
  p.picture->show(chosen ? s.liveScreenImage() : QImage(), QL("选择窗口"));
  // Refreshes come with every live picture: only what changed is set again, so that the
  // layout stays still and the pill's slide is not cut short.
  auto setSymbol = [](GlassButton* button, const QString& symbol) {
    if (button->symbol() != symbol) button->setSymbol(symbol);
  };
  p.camera->setText(QL("摄像头"));
  setSymbol(p.camera,
            s.useCamera() ? QStringLiteral("video.fill") : QStringLiteral("video.slash.fill"));
  p.camera->setActive(s.useCamera());
  p.microphone->setText(QL("麦克风"));
  setSymbol(p.microphone,
            s.useMicrophone() ? QStringLiteral("mic.fill") : QStringLiteral("mic.slash.fill"));
  p.microphone->setActive(s.useMicrophone());
  const QString overlayTitle = QL("人物小窗");
  if (p.presenter->items().empty() || p.presenter->items().front().title != overlayTitle) {
    p.presenter->setItems(
        {{QVariant(false), overlayTitle, QStringLiteral("rectangle.inset.bottomtrailing.filled")},
         {QVariant(true), QL("人物全屏"), QStringLiteral("person.crop.rectangle.fill")}});
  }
  p.presenter->setSelection(QVariant(s.fullPresenter()));
  p.presenter->setEnabled(s.useCamera());
  // Dimmed to 0.4 while the camera is off.
  if (s.useCamera()) {
    p.presenter->setGraphicsEffect(nullptr);
  } else if (!p.presenter->graphicsEffect()) {
    auto* dim = new QGraphicsOpacityEffect(p.presenter);
    dim->setOpacity(0.4);
    p.presenter->setGraphicsEffect(dim);
  }

  p.search->setPlaceholderText(QL("搜索窗口"));
  p.refresh->setToolTip(QL("刷新窗口"));
  p.refresh->setEnabled(!s.loadingSources());
  rebuildRows();
  const bool loading = s.loadingSources() && s.captureWindows().empty();
  p.loading->setVisible(loading);
  if (loading) p.loading->raise();
  // Asked once per listing: the controller publishes far more often than it lists.
  if (s.loadingSources()) windowManager_.reset();
  const bool empty = p.shown.empty() && !s.loadingSources() && !s.sourceListError();
  if (empty) {
    if (!s.captureWindows().empty()) {
      p.empty->setText(QL("没有符合搜索的窗口。"));
    } else {
      if (!windowManager_) windowManager_ = windowManagerRunning();
      p.empty->setText(*windowManager_
                           ? QL("没有可以录制的窗口。请先打开要录制的窗口，再刷新列表。")
                           : QL("没有运行窗口管理器，也没有其他应用的窗口。请打开要录制的窗口"
                                "后刷新列表，或改为录制整块屏幕。"));
    }
  }
  p.empty->setVisible(empty);

  const auto& error = s.setupError() ? s.setupError() : s.sourceListError();
  const bool grows = p.errorRow->isHidden() == error.has_value();
  p.errorRow->setVisible(error.has_value());
  if (error) p.errorText->setText(QLM(*error));
  p.retry->setText(QL("重新预览"));
  p.permissions->setText(QL("权限设置"));

  const bool working = s.preparing() || busy;
  p.progress->setVisible(working);
  p.progressText->setVisible(working);
  p.progressText->setText(busy ? QL("正在开始…") : QL("正在连接…"));
  p.cancel->setText(QL("取消"));
  p.cancel->setEnabled(!busy);
  p.start->setText(QL("开始录制"));
  p.start->setEnabled(s.canStartRecording() && chosen);
  if (grows) adjustSize();
}

void WindowSheet::askToDismiss() {
  studio_.dismissRecordingSetup();  // refused while starting
}

void WindowSheet::pressed(Key key) {
  refresh_->flush();
  if (key == Key::enter && parts_->start->isEnabled()) studio_.startPreparedRecording();
  if (key == Key::escape && parts_->cancel->isEnabled()) studio_.dismissRecordingSetup();
}

}  // namespace vantry
