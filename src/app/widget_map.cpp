#include "app/widget_map.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QWidget>

#include "design/neon_slider.h"
#include "design/view_parts.h"
#include "platform/durable_file.h"
#include "player/playback_controls.h"
#include "setup/overlay_controller.h"
#include "studio/studio.h"
#include "timeline/timeline_lanes.h"

namespace vantry {

namespace {

QJsonArray rect(const QRect& r) {
  return QJsonArray{r.x(), r.y(), r.width(), r.height()};
}

// Without the namespace: "StudioWindow", "QPushButton".
QString className(const QWidget* w) {
  const QString full = QString::fromLatin1(w->metaObject()->className());
  return full.mid(full.lastIndexOf(QLatin1Char(':')) + 1);
}

QJsonArray actionTexts(const QWidget* w) {
  QJsonArray texts;
  for (const QAction* a : w->actions())
    if (!a->isSeparator() && a->isVisible()) texts.append(a->text());
  return texts;
}

// The timeline's rows and blocks in global coordinates: "rows" holds the middle y of each
// row, "segments" and "zooms" the [left, right] of each block.
void describeLanes(const timeline::TimelineLanes& lanes, QJsonObject& o) {
  using timeline::Row;
  const QWidget* viewport = lanes.viewport();
  auto global = [&](double contentX, Row row) {
    return viewport->mapToGlobal(lanes.pointAt(contentX, row).toPoint());
  };
  QJsonObject rows;
  rows[QStringLiteral("video")] = global(0, Row::video).y();
  rows[QStringLiteral("zoom")] = global(0, Row::zoom).y();
  rows[QStringLiteral("presenter")] = global(0, Row::presenter).y();
  rows[QStringLiteral("left")] = global(0, Row::video).x();
  rows[QStringLiteral("right")] = global(lanes.contentWidth(), Row::video).x();
  o[QStringLiteral("rows")] = rows;
  auto spans = [&](const auto& shapes, Row row) {
    QJsonArray list;
    for (const auto& shape : shapes)
      list.append(QJsonArray{global(shape.rect.x, row).x(), global(shape.rect.right(), row).x()});
    return list;
  };
  o[QStringLiteral("segments")] = spans(lanes.shapes().segments, Row::video);
  o[QStringLiteral("zooms")] = spans(lanes.shapes().zooms, Row::zoom);
}

QJsonObject describe(QWidget* w, const QString& path) {
  QJsonObject o;
  o[QStringLiteral("name")] = w->objectName();
  o[QStringLiteral("path")] = path;
  o[QStringLiteral("class")] = className(w);
  const QPoint origin = w->mapToGlobal(QPoint(0, 0));
  o[QStringLiteral("rect")] = rect(QRect(origin, w->size()));
  // The part not clipped by ancestors (a scrolled-away control has none).
  const QRect shown = w->visibleRegion().boundingRect();
  o[QStringLiteral("shown")] = rect(shown.translated(origin));
  o[QStringLiteral("enabled")] = w->isEnabled();
  if (auto* label = qobject_cast<QLabel*>(w)) o[QStringLiteral("text")] = label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(w)) {
    o[QStringLiteral("text")] = button->text();
    o[QStringLiteral("checked")] = button->isChecked();
  }
  if (auto* edit = qobject_cast<QLineEdit*>(w)) o[QStringLiteral("text")] = edit->text();
  if (auto* combo = qobject_cast<QComboBox*>(w)) o[QStringLiteral("text")] = combo->currentText();
  if (auto* slider = qobject_cast<QAbstractSlider*>(w))
    o[QStringLiteral("value")] = slider->value();
  if (auto* text = qobject_cast<ElidedText*>(w)) o[QStringLiteral("text")] = text->text();
  if (auto* slider = qobject_cast<NeonSlider*>(w)) o[QStringLiteral("value")] = slider->value();
  if (auto* lanes = qobject_cast<timeline::TimelineLanes*>(w)) describeLanes(*lanes, o);
  if (auto* clock = qobject_cast<ClockReadout*>(w)) o[QStringLiteral("text")] = clock->timeText();
  if (!w->accessibleName().isEmpty()) o[QStringLiteral("accessible")] = w->accessibleName();
  if (qobject_cast<QMenuBar*>(w) || qobject_cast<QMenu*>(w))
    o[QStringLiteral("items")] = actionTexts(w);
  // Qt's own dialogs leave their buttons unnamed.
  if (auto* box = qobject_cast<QDialogButtonBox*>(w)) {
    QJsonArray texts;
    for (const QAbstractButton* button : box->buttons())
      if (button->isVisible()) texts.append(button->text());
    o[QStringLiteral("items")] = texts;
  }
  return o;
}

void collect(QWidget* w, const QString& path, QJsonArray& out) {
  for (QObject* child : w->children()) {
    auto* cw = qobject_cast<QWidget*>(child);
    if (!cw || cw->isWindow() || !cw->isVisible()) continue;
    const QString childPath =
        cw->objectName().isEmpty() ? path : path + QLatin1Char('/') + cw->objectName();
    if (!cw->objectName().isEmpty()) out.append(describe(cw, childPath));
    collect(cw, childPath, out);
  }
}

class WidgetMap final : public QObject {
 public:
  WidgetMap(QString file, QObject* parent) : QObject(parent), file_(std::move(file)) {
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &WidgetMap::write);
    timer->start(100);
  }

 private:
  void write() {
    const QByteArray json = widgetMapJson().toUtf8();
    if (json == last_) return;
    // Written as the app's other files are: a link at that name is replaced, not followed.
    if (platform::writeFileAtomically(QFile::encodeName(file_).toStdString(),
                                      std::string_view(json.constData(), json.size()))
            .empty())
      last_ = json;
  }

  QString file_;
  QByteArray last_;
};

}  // namespace

QString widgetMapJson() {
  QJsonArray windows;
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (!top->isVisible()) continue;
    QJsonObject window = describe(top, top->objectName());
    window[QStringLiteral("title")] = top->windowTitle();
    window[QStringLiteral("active")] = top->isActiveWindow();
    window[QStringLiteral("modal")] = top->isModal();
    // The X11 window, for what only a window manager would send it.
    window[QStringLiteral("xid")] = static_cast<qint64>(top->effectiveWinId());
    // The window it belongs to (kept above it by the window manager), "" for none.
    QWidget* owner = top->parentWidget() ? top->parentWidget()->window() : nullptr;
    window[QStringLiteral("owner")] = owner ? className(owner) : QString();
    // The overlays paint their countdown.
    if (qobject_cast<OverlayWindow*>(top)) {
      if (const auto n = RecordingOverlayController::shared().countdown())
        window[QStringLiteral("countdown")] = *n;
    }
    QJsonArray widgets;
    collect(top, top->objectName(), widgets);
    window[QStringLiteral("widgets")] = widgets;
    windows.append(window);
  }
  QJsonObject root;
  root[QStringLiteral("windows")] = windows;
  QWidget* focus = QApplication::focusWidget();
  root[QStringLiteral("focus")] = focus ? focus->objectName() : QString();
  QWidget* modal = QApplication::activeModalWidget();
  root[QStringLiteral("modal")] = modal ? className(modal) : QString();
  return QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Compact));
}

void startWidgetMapFromEnvironment(QObject* parent) {
  const QString file = qEnvironmentVariable("VANTRY_WIDGET_MAP");
  if (!file.isEmpty()) new WidgetMap(file, parent);
}

}  // namespace vantry
