#include "app/studio_window.h"

#include <QAction>
#include <QCoreApplication>
#include <QDialog>
#include <QEvent>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include "app/app_commands.h"
#include "app/blocked_close.h"
#include "app/error_alert.h"
#include "app/header_bar.h"
#include "app/main_column.h"
#include "app/preview_stage.h"
#include "design/chrome.h"
#include "design/coalesced_refresh.h"
#include "design/menus.h"
#include "design/painting.h"
#include "design/space_key.h"
#include "design/theme.h"
#include "design/view_parts.h"
#include "export_sheet/export_sheet.h"
#include "inspector/inspector_column.h"
#include "localization/qt/language_settings.h"
#include "player/playback_controls.h"
#include "preview/preview_surface.h"
#include "setup/overlay_controller.h"
#include "setup/window_sheet.h"
#include "studio/studio.h"
#include "timeline/timeline_lanes.h"
#include "timeline/timeline_view.h"

namespace vantry {

StudioWindowParts StudioWindowParts::standard() {
  StudioWindowParts parts;
  parts.timeline = [](Studio& studio, QWidget* parent) { return new TimelineView(studio, parent); };
  parts.inspector = [](Studio& studio, QWidget* parent) -> QWidget* {
    return new InspectorColumn(
        studio, [&studio] { openPrivacyNotes(studio); }, parent);
  };
  parts.windowSheet = [](Studio& studio, QWidget* parent) -> QDialog* {
    return new WindowSheet(studio, parent);
  };
  parts.exportSheet = [](Studio& studio, QWidget* parent) -> QDialog* {
    return new ExportSheet(studio, parent);
  };
  parts.displayOverlay = [](Studio& studio, bool shown) {
    if (shown)
      RecordingOverlayController::shared().show(studio);
    else
      RecordingOverlayController::shared().hide();
  };
  return parts;
}

StudioWindow::StudioWindow(Studio& studio, StudioWindowParts parts, QWidget* parent)
    : QMainWindow(parent), studio_(studio), parts_(std::move(parts)) {
  setWindowTitle(QStringLiteral("Vantry"));
  resize(1250, 880);
  setMinimumSize(1080, 760);

  auto* ground = new AmbientBackground(this);
  ground->setObjectName(QStringLiteral("studioGround"));
  setCentralWidget(ground);
  QPalette palette = ground->palette();
  palette.setColor(QPalette::WindowText, Theme::text);
  ground->setPalette(palette);

  auto* stack = new QVBoxLayout(ground);
  stack->setContentsMargins(0, 0, 0, 0);
  stack->setSpacing(0);
  header_ = new HeaderBar(
      studio, [this] { settings_.open(this); }, ground);
  stack->addWidget(header_);

  auto* columns = new QHBoxLayout;
  columns->setContentsMargins(16, 0, 16, 16);
  columns->setSpacing(14);
  QWidget* picture = parts_.preview ? parts_.preview(studio, nullptr) : nullptr;
  QWidget* timeline = parts_.timeline ? parts_.timeline(studio, nullptr) : nullptr;
  column_ = new MainColumn(studio, picture, timeline, ground);
  columns->addWidget(column_, 1);

  inspector_ = new QWidget(ground);
  inspector_->setFixedWidth(kInspectorWidth);
  inspector_->setFont(uiFont(12, QFont::Normal));
  glass(inspector_, glassRadius(18));
  auto* inspectorStack = new QVBoxLayout(inspector_);
  inspectorStack->setContentsMargins(0, 0, 0, 0);
  inspectorStack->setSpacing(0);
  if (parts_.inspector) inspectorStack->addWidget(parts_.inspector(studio, inspector_));
  columns->addWidget(inspector_);
  stack->addLayout(columns, 1);

  menuBar()->setStyleSheet(menuStyleSheet());
  menuBar()->setObjectName(QStringLiteral("menuBar"));
  commands_ = new AppCommands(this, studio,
                              {[this] { settings_.open(this); }, [this] { emit quitRequested(); }});
  // The window starts with the keyboard itself: no control shows a focus ring before Tab,
  // and Space only plays and pauses.
  holdKeyboardFocus(ground);
  new SpaceKey(this, [this] {
    QAction* playPause = commands_->action(AppCommands::playPause);
    if (playPause->isEnabled()) playPause->trigger();
  });
  new ReturnKey(this);
  alert_ = new ErrorAlert(studio, this);
  chrome_ = new TransparentWindow(ground, [this] { emit quitRequested(); });
  // Under a sheet the window manager's close still asks to quit, so the flow can say why
  // it cannot quit now.
  new BlockedCloseWatcher(this, [this] { emit quitRequested(); });

  refresh_ = new CoalescedRefresh(this, [this] { refresh(); });
  connect(&studio_, &Studio::changed, refresh_, &CoalescedRefresh::request);
  if (auto* surface = qobject_cast<PreviewSurface*>(column_->stage()->picture()))
    connect(surface, &PreviewSurface::pictureReady, this, [this] {
      // In a turn of its own: the picture's arrival already took this one.
      QTimer::singleShot(1, Qt::PreciseTimer, this, &StudioWindow::requestPaint);
    });
}

StudioWindow::~StudioWindow() {
  if (overlayShown_ && parts_.displayOverlay) parts_.displayOverlay(studio_, false);
}

void StudioWindow::refreshNow() {
  refresh_->flush();
  header_->refreshNow();
  column_->refreshNow();
  commands_->refreshNow();
  alert_->refreshNow();
}

void StudioWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!viewsDrawnOnce_) {
    viewsDrawnOnce_ = true;
    QTimer::singleShot(50, this, &StudioWindow::drawHiddenViewsOnce);
  }
  if (launched_ || !parts_.launchPreview) return;
  launched_ = true;
  // After the window is on screen, so that the first frame never waits for capture.
  QTimer::singleShot(0, this, [this] { studio_.launchPreview(); });
}

void StudioWindow::drawHiddenViewsOnce() {
  // The views of an open project are hidden at first. Drawn once offscreen, soon after the
  // window came up, they find what their first paint needs (glyphs, symbols, shadows)
  // ready when the first project opens, instead of making that moment stand still.
  if (!windowHandle() || !windowHandle()->isExposed()) return;
  for (QWidget* view :
       {column_->timeline(), static_cast<QWidget*>(column_->controlBar()->transport())}) {
    if (!view || view->isVisible()) continue;
    QImage scratch(view->size().expandedTo(view->sizeHint()), QImage::Format_ARGB32_Premultiplied);
    view->render(&scratch);
  }
}

bool StudioWindow::event(QEvent* event) {
  if (event->type() == QEvent::UpdateRequest) {
    switch (prepareToPaint()) {
      case Paint::now:
        break;
      case Paint::nextTurn:
        // This turn of the event loop did its part; the rest waits for a later turn, after
        // timers and input (which a posted event, or a timer of no delay, would not let by),
        // so that no single turn does all of it.
        QTimer::singleShot(1, Qt::PreciseTimer, this, &StudioWindow::requestPaint);
        return true;
      case Paint::whenPictureReady:
        // The stage's worker answers whatever becomes of the picture: then the window paints.
        return true;
    }
  }
  return QMainWindow::event(event);
}

void StudioWindow::requestPaint() {
  QEvent request(QEvent::UpdateRequest);
  QCoreApplication::sendEvent(this, &request);
}

StudioWindow::Paint StudioWindow::prepareToPaint() {
  // The views follow the controller and are laid out before the window paints, not after:
  // a change that moves them (a project opens: the timeline comes, the stage shrinks)
  // would otherwise paint the window twice, first as it was.
  const bool refreshed = CoalescedRefresh::flushPending();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
  // Views just shown ask for their first paint this way.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateLater);
  // A window out of sight paints nothing: nothing to prepare either.
  if (!windowHandle() || !windowHandle()->isExposed()) {
    prepared_ = 0;
    return Paint::now;
  }
  // Following a change, composing the stage's new picture (not while it moves on its own:
  // the paint composes it), and drawing ahead the shadows that moved, and the timeline's
  // lanes each take a turn of their own before the paint, once per paint: a stream of changes
  // (a window being resized) never holds it back long.
  const auto step = [this](int done) {
    const bool first = !(prepared_ & done);
    prepared_ |= done;
    return first;
  };
  if (refreshed && step(kFollowed)) return Paint::nextTurn;
  if (auto* surface = qobject_cast<PreviewSurface*>(column_->stage()->picture())) {
    if (!(prepared_ & kComposed)) {
      switch (surface->prepare()) {
        case PreviewSurface::Preparation::none:
          break;
        case PreviewSurface::Preparation::composed:
          step(kComposed);
          return Paint::nextTurn;
        case PreviewSurface::Preparation::building:
          step(kComposed);
          return Paint::whenPictureReady;
      }
    }
  }
  if (!(prepared_ & kGroundDrawn)) {
    auto* ground = qobject_cast<AmbientBackground*>(centralWidget());
    if (ground && ground->shadows()->prepare() && step(kGroundDrawn)) return Paint::nextTurn;
  }
  if (!(prepared_ & kLanesDrawn)) {
    auto* timeline = qobject_cast<TimelineView*>(column_->timeline());
    if (timeline && timeline->lanes()->prepare() && step(kLanesDrawn)) return Paint::nextTurn;
  }
  prepared_ = 0;
  return Paint::now;
}

void StudioWindow::refresh() {
  followSheets();
  // The full-screen player held the keyboard; without a window manager nothing else gives
  // it back once the player closes.
  const bool player = studio_.fullscreenPreview();
  if (playerShown_ && !player && isVisible()) activateWindow();
  playerShown_ = player;
}

void StudioWindow::followSheets() {
  const bool setup = studio_.showingRecordingSetup();
  const bool displayMode = studio_.setupMode() == RecordingSource::display;

  // The display overlays: only on a change of the condition. They go before a sheet opens
  // and come after a sheet has closed, so that their picture of the screen never holds it.
  const bool overlay = setup && displayMode;
  if (!overlay && overlayShown_) {
    overlayShown_ = false;
    if (parts_.displayOverlay) parts_.displayOverlay(studio_, false);
    // The overlays held the keyboard; without this nothing would have it once they go, and
    // the window's shortcuts (stop the recording) would not reach it.
    if (isVisible()) activateWindow();
  }

  auto follow = [this](QPointer<QDialog>& sheet, bool shown,
                       const StudioWindowParts::MakeSheet& make, std::function<void()> dismissed) {
    if (shown && !sheet && make) {
      sheet = make(studio_, this);
      if (!sheet) return;
      sheet->setAttribute(Qt::WA_DeleteOnClose);
      sheet->setWindowModality(Qt::WindowModal);
      // The sheet takes the keyboard from the window: its quit keys come along.
      sheet->addAction(commands_->action(AppCommands::quit));
      sheet->addAction(commands_->action(AppCommands::closeWindow));
      connect(sheet, &QDialog::finished, this, [this, dismissed, raw = sheet.data()] {
        // Closed by the window system or by its own buttons, not because the flag fell.
        if (raw->property("closedForStudio").toBool()) return;
        dismissed();
        refresh_->request();  // a refused dismissal shows the sheet again
      });
      sheet->open();
    } else if (!shown && sheet) {
      sheet->setProperty("closedForStudio", true);
      sheet->close();
      sheet = nullptr;
    }
  };
  follow(windowSheet_, setup && !displayMode, parts_.windowSheet, [this] {
    windowSheet_ = nullptr;
    if (studio_.setupMode() == RecordingSource::window) studio_.dismissRecordingSetup();
  });
  follow(exportSheet_, studio_.showingExport(), parts_.exportSheet, [this] {
    exportSheet_ = nullptr;
    studio_.dismissExport();
  });
  if (overlay && !overlayShown_) {
    overlayShown_ = true;
    if (parts_.displayOverlay) parts_.displayOverlay(studio_, true);
  }
}

}  // namespace vantry
