#include "app/shot_states.h"

#include "app/error_alert.h"
#include "app/main_column.h"
#include "app/studio_window.h"
#include "design/language_settings_view.h"
#include "inspector/inspector_column.h"
#include "player/fullscreen_player.h"
#include "player/playback_controls.h"
#include "setup/window_sheet.h"
#include "timeline/timeline_lanes.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QImage>
#include <QLinearGradient>
#include <QMenu>
#include <QPainter>
#include <QTemporaryDir>
#include <QThreadPool>

#include <cerrno>
#include <condition_variable>
#include <mutex>

#include "localization/qt/qt_text.h"
#include "localization/user_message.h"
#include "studio/studio.h"

namespace vantry {

namespace {

constexpr platform::DisplayId kLongNamedDisplay = 2;
constexpr platform::WindowId kTerminalWindow = 0x3400007;

class QuietPreview final : public LivePreview {
 public:
  void start(platform::DisplayId, std::optional<platform::WindowId>) override {}
  void stop() override {}
};

class QuietCamera final : public LiveCamera {
 public:
  void setOnFrame(std::function<void(const QImage&)>) override {}
  void preparePreview() override {}
  void stopPreview() override {}
};

class StillPointer final : public platform::PointerSource {
 protected:
  std::optional<Raw> query() override { return Raw{{960, 540}, false, 0}; }
};

// The desktop's windows as the window sheet lists them.
std::vector<platform::WindowInfo> shotWindows() {
  auto window = [](platform::WindowId id, const char* app, const char* title, double w, double h) {
    platform::WindowInfo info;
    info.id = id;
    info.application = {app, app, 0};
    info.title = title;
    info.frame = {120, 80, w, h};
    return info;
  };
  return {window(0x2a00004, "Firefox", "Vantry — Release notes", 1440, 900),
          window(kTerminalWindow, "Terminal", "~/projects/vantry — build", 1100, 720),
          window(0x1e00003, "Slides", "Quarterly review.odp", 1600, 1000),
          window(0x2200009, "Inkscape", "logo-draft.svg", 1280, 800),
          window(0x4c00002, "", "Untitled document", 900, 640)};
}

// Holds the window listing of the capture while a state shows the list loading.
struct ListingGate {
  std::mutex mutex;
  std::condition_variable opened;
  bool held = false;

  void hold(bool on) {
    {
      std::lock_guard lock(mutex);
      held = on;
    }
    opened.notify_all();
  }
  void pass() {
    std::unique_lock lock(mutex);
    opened.wait(lock, [this] { return !held; });
  }
};

ListingGate& listingGate() {
  static ListingGate gate;
  return gate;
}

// A rounded square in the application's colour with its initial.
QImage applicationIcon(QColor colour, QChar initial) {
  QImage icon(48, 48, QImage::Format_ARGB32_Premultiplied);
  icon.fill(Qt::transparent);
  QPainter p(&icon);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient fill(0, 0, 0, 48);
  fill.setColorAt(0, colour.lighter(125));
  fill.setColorAt(1, colour.darker(130));
  p.setPen(Qt::NoPen);
  p.setBrush(fill);
  p.drawRoundedRect(QRectF(3, 3, 42, 42), 11, 11);
  p.setPen(Qt::white);
  QFont font = p.font();
  font.setPixelSize(24);
  font.setBold(true);
  p.setFont(font);
  p.drawText(QRectF(3, 3, 42, 42), Qt::AlignCenter, QString(initial));
  return icon;
}

class QuietCapture final : public StudioCapture {
 public:
  platform::ShareableContent shareableContent() override {
    listingGate().pass();
    platform::ShareableContent content;
    content.displays.push_back({1, "DP-1", {0, 0, 1920, 1080}, true, 1.0});
    content.windows = shotWindows();
    return content;
  }
  QImage windowIcon(platform::WindowId id, int) override {
    switch (id) {
      case 0x2a00004:
        return applicationIcon(QColor(0x3B82F6), QLatin1Char('F'));
      case kTerminalWindow:
        return applicationIcon(QColor(0x16A34A), QLatin1Char('T'));
      case 0x1e00003:
        return applicationIcon(QColor(0xE11D48), QLatin1Char('S'));
      default:
        return {};  // drawn with the generic window symbol
    }
  }
  platform::ApplicationInfo ownApplication() override { return {"Vantry", "Vantry", 0, true}; }
  std::unique_ptr<LivePreview> makePreview() override { return std::make_unique<QuietPreview>(); }
  std::shared_ptr<LiveCamera> makeCamera() override { return std::make_shared<QuietCamera>(); }
  std::unique_ptr<Recording> makeRecording() override { return nullptr; }
  std::unique_ptr<platform::PointerSource> makePointer() override {
    return std::make_unique<StillPointer>();
  }
};

class FixedScreens final : public ScreenNames {
 public:
  std::optional<std::string> displayName(platform::DisplayId id) const override {
    if (id == 1) return std::string("DP-1");
    // A name as long as real ones get, for the header's fit.
    if (id == kLongNamedDisplay) return std::string("DisplayPort-0");
    return std::nullopt;
  }
  platform::DisplayId primaryDisplay() const override { return 1; }
};

class CancelledDialogs final : public StudioDialogs {
 public:
  std::optional<std::string> chooseProject() override { return std::nullopt; }
  std::optional<std::string> chooseExportDestination(const std::string&,
                                                     const ExportOptions&) override {
    return std::nullopt;
  }
};

class QuietDesktop final : public StudioDesktop {
 public:
  void openFolder(const std::string&, DesktopDone) override {}
  void revealFile(const std::string&, DesktopDone) override {}
  void openFile(const std::string&, DesktopDone) override {}
  void openPermissionHelp() override {}
};

// Runs the event loop until `done` holds, for at most five seconds.
void settle(const std::function<bool()>& done) {
  QElapsedTimer waited;
  waited.start();
  while (!done() && waited.elapsed() < 5000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// The window sheet over a listing that has arrived (or, `loading`, not yet): the listing
// runs on the capture worker, so it is waited for unless held. The display's live picture
// comes at once, as it does in the application, so that the sheet is not left connecting.
void showWindowSheet(Studio& s, StudioWindow& w, bool loading) {
  listingGate().hold(loading);
  s.setUseCamera(false);
  s.setSetupMode(RecordingSource::window);
  s.setShowingRecordingSetup(true);
  w.refreshNow();
  s.setLiveScreenImage(syntheticDesktop(1920, 1080));
  settle([&] { return w.windowSheet() && !s.preparing() && (loading || !s.loadingSources()); });
}
void applyRecording(Studio& s, bool busy) {
  s.setLiveScreenImage(syntheticDesktop(1920, 1080));
  s.setStandby(false);
  s.setRecording(true);
  s.setBusy(busy);
  s.setTime(83.4);
  s.setNotice(L("正在录制：") + s.selectedScreenName() + L(" · 本窗口不会被录入 · 画面为实时预览"));
}

// Recording the terminal of the window listing, whose name the title and the pill both show.
void applyWindowRecording(Studio& s) {
  s.refreshCaptureSources();
  settle([&] { return !s.loadingSources(); });
  s.setSelectedWindowID(kTerminalWindow);
  applyRecording(s, false);
  s.setLiveScreenImage(syntheticDesktop(1920, 1080).copy(180, 150, 980, 640));
}

// The demonstration project with the inspector on that tab.
void applyInspector(Studio& s, StudioWindow& window, InspectorTab tab, bool selectZoom,
                    bool camera) {
  s.demo();
  s.setPlaying(false);
  s.seek(4.2);
  if (selectZoom && !s.clip().zoomEvents().empty()) s.selectZoom(s.clip().zoomEvents().front().id);
  if (!camera) {
    Clip clip = s.clip();
    clip.cameraPath.reset();
    s.setClip(clip);
  } else if (!s.clip().cameraPath) {
    Clip clip = s.clip();
    clip.cameraPath = "camera.mov";
    clip.cameraSyncAdjustment = -0.25;
    s.setClip(clip);
  }
  if (auto* inspector = window.findChild<InspectorColumn*>()) {
    inspector->setTab(tab);
    inspector->refreshNow();
  }
}

// The demonstration project with the export sheet open in its settings.
void applyExportSheet(Studio& s) {
  s.demo();
  s.setPlaying(false);
  s.seek(4.2);
  s.exportMovie();
}

// A real export of the demonstration's first second, to `destination`; returns once it
// ended (also when it failed). `cancel` cancels it as soon as it started.
void runShortExport(Studio& s, StudioWindow& window, const std::string& destination,
                    bool cancel = false) {
  applyExportSheet(s);
  Clip clip = s.clip();
  clip.duration = 1;
  s.setClip(clip);
  s.seek(0.5);
  ExportOptions options = s.exportOptions();
  options.resolution = ExportOptions::Resolution::p720;
  options.framesPerSecond = ExportOptions::FrameRate::fps30;
  s.setExportOptions(options);
  s.beginExportTo(destination);
  if (cancel) s.cancelExport();
  const QDeadlineTimer deadline(120000);
  while (s.exporting() && !deadline.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  // The sheet reads the still of the result on a worker.
  window.refreshNow();
  QThreadPool::globalInstance()->waitForDone();
  QCoreApplication::processEvents();
}

// Where the shots' movies go: a folder of their own in the temporary folder.
std::string shotMoviePath() {
  const QString folder = QDir::temp().filePath(QStringLiteral("vantry-shots"));
  QDir().mkpath(folder);
  return QDir(folder)
      .filePath(QString::fromStdString(Studio::exportFileName(QDateTime::currentDateTime(), true)) +
                QStringLiteral(".mp4"))
      .toStdString();
}

std::vector<ShotState> inspectorStates() {
  std::vector<ShotState> states;
  const std::pair<InspectorTab, const char*> tabs[] = {{InspectorTab::motion, "motion"},
                                                       {InspectorTab::presenter, "presenter"},
                                                       {InspectorTab::canvas, "canvas"},
                                                       {InspectorTab::cursor, "cursor"}};
  for (const auto& [tab, name] : tabs) {
    states.push_back({std::string("inspector-") + name, [tab](Studio& s, StudioWindow& w) {
                        applyInspector(s, w, tab, false, false);
                      }});
    states.push_back(
        {std::string("inspector-") + name + "-zoom-camera",
         [tab](Studio& s, StudioWindow& w) { applyInspector(s, w, tab, true, true); }});
  }
  return states;
}

// The demonstration project in the full-screen player, on a 1440 x 900 screen so that the
// crop shows; playing with the controls hidden, or paused with them shown.
void applyFullscreen(Studio& s, bool hidden) {
  s.demo();
  s.seek(1.2);
  s.setPlaying(hidden);
  s.showFullscreenPreview();
}

QImage fullscreenPicture(Studio& s, bool hidden) {
  auto* player = qobject_cast<FullscreenPlayer*>(s.fullscreenController());
  if (!player || !player->window()) return {};
  FullscreenWindow* window = player->window();
  window->setAttribute(Qt::WA_DontShowOnScreen);
  window->resize(1440, 900);
  for (int turn = 0; turn < 4; ++turn)
    QApplication::processEvents();
  // Hidden last: a pointer over the new window (a real display's) shows the controls again.
  if (hidden) window->hideControlsNow();
  return window->grab().toImage();
}

// The project dialog of Ctrl+O as the application opens it, over a made-up folder of
// recordings instead of the home folder of whoever renders the shots.
QImage projectDialogPicture(StudioWindow& window) {
  const std::unique_ptr<QFileDialog> dialog = projectFileDialog(&window);
  dialog->setAttribute(Qt::WA_DontShowOnScreen);
  QTemporaryDir folder;
  for (const char* name :
       {"Recording 2025-03-14 09.30", "Recording 2025-03-14 16.05", "Recording 2025-03-18 11.12"}) {
    QDir(folder.path()).mkpath(QString::fromLatin1(name));
  }
  QFile(QDir(folder.path()).filePath(QStringLiteral("edit.json"))).open(QIODevice::WriteOnly);
  dialog->setDirectory(folder.path());
  dialog->show();
  auto* listing = dialog->findChild<QFileSystemModel*>();
  bool loaded = false;
  if (listing) {
    QObject::connect(listing, &QFileSystemModel::directoryLoaded, dialog.get(),
                     [&loaded] { loaded = true; });
  }
  settle([&] { return loaded; });
  for (int turn = 0; turn < 4; ++turn)
    QApplication::processEvents();
  QPixmap picture = window.grab();
  drawDialogOver(picture, window, dialog.get());
  return picture.toImage();
}

// The main window with a menu open at `at` (window coordinates; its bottom left corner
// when `above`), as a person sees it.
QImage withMenu(StudioWindow& window, QMenu* menu, QPoint at, bool above = false) {
  QImage picture = window.grab().toImage();
  menu->setAttribute(Qt::WA_DontShowOnScreen);
  menu->adjustSize();
  if (above) at.ry() -= menu->height();
  menu->show();
  QCoreApplication::processEvents();
  QPainter p(&picture);
  p.drawImage(at, menu->grab().toImage().scaled(menu->size() * picture.devicePixelRatio()));
  p.end();
  delete menu;
  return picture;
}

void applyDemo(Studio& s) {
  s.demo();
  s.setPlaying(false);
  s.seek(4.2);
}

std::vector<ShotState> builtIn() {
  return {
      {"standby",
       [](Studio& s, StudioWindow&) { s.setLiveScreenImage(syntheticDesktop(1920, 1080)); }},
      {"demo",
       [](Studio& s, StudioWindow&) {
         s.demo();
         s.setPlaying(false);
         s.seek(4.2);
       }},
      {"recording", [](Studio& s, StudioWindow&) { applyRecording(s, false); }},
      {"busy", [](Studio& s, StudioWindow&) { applyRecording(s, true); }},
      {"recording-long-name",
       [](Studio& s, StudioWindow&) {
         s.setSelectedDisplay(kLongNamedDisplay);
         applyRecording(s, false);
       }},
      {"recording-window", [](Studio& s, StudioWindow&) { applyWindowRecording(s); }},
      {"exporting",
       [](Studio& s, StudioWindow&) {
         s.demo();
         s.setPlaying(false);
         s.seek(9.0);
         s.setExporting(true);
         s.setExportProgress(0.42);
       }},
      {"export-settings", [](Studio& s, StudioWindow&) { applyExportSheet(s); }},
      {"export-progress",
       [](Studio& s, StudioWindow&) {
         applyExportSheet(s);
         s.setExporting(true);
         s.setExportProgress(0.42);
       }},
      {"export-cancelling",
       [](Studio& s, StudioWindow&) {
         applyExportSheet(s);
         s.setExporting(true);
         s.setExportProgress(0.57);
         s.cancelExport();
       }},
      {"export-success", [](Studio& s, StudioWindow& w) { runShortExport(s, w, shotMoviePath()); }},
      {"export-failure",
       [](Studio& s, StudioWindow& w) {
         // A destination whose folder does not exist.
         runShortExport(
             s, w,
             QDir::temp().filePath(QStringLiteral("vantry-shots/missing/out.mp4")).toStdString());
       }},
      {"export-cancelled",
       [](Studio& s, StudioWindow& w) { runShortExport(s, w, shotMoviePath(), true); }},
      {"fullscreen", [](Studio& s, StudioWindow&) { applyFullscreen(s, false); },
       [](Studio& s, StudioWindow&) { return fullscreenPicture(s, false); }},
      {"fullscreen-hidden", [](Studio& s, StudioWindow&) { applyFullscreen(s, true); },
       [](Studio& s, StudioWindow&) { return fullscreenPicture(s, true); }},
      {"window-sheet-loading", [](Studio& s, StudioWindow& w) { showWindowSheet(s, w, true); }},
      {"window-sheet-list", [](Studio& s, StudioWindow& w) { showWindowSheet(s, w, false); }},
      {"window-sheet-selected",
       [](Studio& s, StudioWindow& w) {
         showWindowSheet(s, w, false);
         s.setSelectedWindowID(0x2a00004);
         s.setLiveScreenImage(syntheticDesktop(1920, 1080).copy(180, 150, 980, 640));
       }},
      {"window-sheet-no-match",
       [](Studio& s, StudioWindow& w) {
         showWindowSheet(s, w, false);
         if (auto* sheet = qobject_cast<WindowSheet*>(w.windowSheet())) {
           sheet->setQuery(QStringLiteral("spreadsheet"));
           sheet->refreshNow();
         }
       }},
      {"speed-menu", [](Studio& s, StudioWindow&) { applyDemo(s); },
       [](Studio&, StudioWindow& w) {
         SpeedMenuButton* speed = w.mainColumn()->controlBar()->transport()->speedButton();
         return withMenu(w, speed->buildMenu(), speed->mapTo(&w, QPoint(0, speed->height() + 4)));
       }},
      {"zoom-menu", [](Studio& s, StudioWindow&) { applyDemo(s); },
       [](Studio&, StudioWindow& w) {
         auto* lanes = w.findChild<timeline::TimelineLanes*>();
         if (!lanes || lanes->shapes().zooms.empty()) return w.grab().toImage();
         const auto& zoom = lanes->shapes().zooms.front();
         const QPointF spot =
             lanes->pointAt(zoom.rect.x + zoom.rect.width / 2, timeline::Row::zoom);
         return withMenu(w, lanes->zoomMenu(0), lanes->viewport()->mapTo(&w, spot.toPoint()), true);
       }},
      {"settings", [](Studio&, StudioWindow&) {},
       [](Studio&, StudioWindow&) {
         LanguageSettingsView view;
         view.setAttribute(Qt::WA_DontShowOnScreen);
         view.show();
         view.adjustSize();
         QCoreApplication::processEvents();
         return view.grab().toImage();
       }},
      {"alert",
       [](Studio& s, StudioWindow&) {
         s.setLiveScreenImage(syntheticDesktop(1920, 1080));
         s.setError(withReason(L("无法打开项目 {0}。", "~/Videos/Lesson/edit.json"),
                               systemReason(ENOENT)));
       }},
      {"file-dialog",
       [](Studio& s, StudioWindow&) { s.setLiveScreenImage(syntheticDesktop(1920, 1080)); },
       [](Studio&, StudioWindow& w) { return projectDialogPicture(w); }},
      {"window-sheet-error",
       [](Studio& s, StudioWindow& w) {
         showWindowSheet(s, w, false);
         s.setSelectedWindowID(kTerminalWindow);
         s.setSetupError(L("所选窗口已关闭，请重新选择。"));
       }},
  };
}

}  // namespace

void drawDialogOver(QPixmap& picture, StudioWindow& window, QDialog* dialog) {
  if (!dialog || !dialog->isVisible()) return;
  const QPoint at((window.width() - dialog->width()) / 2, (window.height() - dialog->height()) / 2);
  dialog->move(window.mapToGlobal(at));
  QApplication::processEvents();
  QPainter painter(&picture);
  painter.drawPixmap(at, dialog->grab());
}

void finishShot() {
  listingGate().hold(false);
}

RenderedShot::RenderedShot() = default;
RenderedShot::RenderedShot(RenderedShot&&) noexcept = default;
RenderedShot::~RenderedShot() {
  window.reset();
  // What the window closed (the display overlays) goes before the controller it shows.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  studio.reset();
}

RenderedShot renderShot(const ShotState& state) {
  // A fresh controller and window per state, so that no state leaks into the next.
  RenderedShot shot;
  shot.studio = std::make_unique<Studio>(offscreenStudioServices());
  StudioWindowParts parts = StudioWindowParts::standard();
  parts.launchPreview = false;
  shot.window = std::make_unique<StudioWindow>(*shot.studio, parts);
  Studio& studio = *shot.studio;
  StudioWindow& window = *shot.window;
  window.setAttribute(Qt::WA_DontShowOnScreen);
  window.resize(1250, 880);
  window.show();
  state.apply(studio, window);
  for (int turn = 0; turn < 4; ++turn)
    QApplication::processEvents();
  window.refreshNow();
  QApplication::processEvents();
  if (state.render) {
    shot.picture = state.render(studio, window);
  } else {
    QPixmap picture = window.grab();
    // The sheets and the alert are windows of their own.
    for (QDialog* dialog :
         {window.exportSheet(), window.windowSheet(), static_cast<QDialog*>(window.alert()->box())})
      drawDialogOver(picture, window, dialog);
    shot.picture = picture.toImage();
  }
  finishShot();
  return shot;
}

StudioServices offscreenStudioServices() {
  StudioServices services = defaultStudioServices();
  services.capture = std::make_shared<QuietCapture>();
  services.screens = std::make_shared<FixedScreens>();
  services.dialogs = std::make_shared<CancelledDialogs>();
  services.desktop = std::make_shared<QuietDesktop>();
  services.startClock = false;
  services.makeFullscreen = [](Studio& s) -> FullscreenPreviewController* {
    return new FullscreenPlayer(s);
  };
  return services;
}

std::vector<ShotState>& shotStates() {
  static std::vector<ShotState> states = [] {
    std::vector<ShotState> all = builtIn();
    for (ShotState& state : inspectorStates())
      all.push_back(std::move(state));
    for (ShotState& state : overlayShotStates())
      all.push_back(std::move(state));
    return all;
  }();
  return states;
}

void registerShotState(ShotState state) {
  auto& states = shotStates();
  for (ShotState& existing : states) {
    if (existing.name == state.name) {
      existing = std::move(state);
      return;
    }
  }
  states.push_back(std::move(state));
}

QImage syntheticDesktop(int width, int height) {
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient wallpaper(0, 0, width, height);
  wallpaper.setColorAt(0, QColor(0x23, 0x4D, 0x69));
  wallpaper.setColorAt(0.55, QColor(0x81, 0x79, 0xB6));
  wallpaper.setColorAt(1, QColor(0xD5, 0xAB, 0xBE));
  p.fillRect(image.rect(), wallpaper);
  // A top panel and two windows, drawn in proportion to the picture.
  const double u = width / 1920.0;
  p.fillRect(QRectF(0, 0, width, 32 * u), QColor(20, 22, 30, 230));
  auto window = [&](QRectF r, QColor title, QColor body) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 60));
    p.drawRoundedRect(r.translated(0, 12 * u), 12 * u, 12 * u);
    p.setBrush(body);
    p.drawRoundedRect(r, 10 * u, 10 * u);
    p.setBrush(title);
    p.drawRoundedRect(QRectF(r.left(), r.top(), r.width(), 40 * u), 10 * u, 10 * u);
    p.setBrush(QColor(255, 255, 255, 40));
    for (int line = 0; line < 9; ++line) {
      const double w = r.width() * (0.45 + 0.4 * ((line * 37) % 10) / 10.0);
      p.drawRoundedRect(QRectF(r.left() + 32 * u, r.top() + (80 + line * 46) * u, w, 18 * u), 6 * u,
                        6 * u);
    }
  };
  window(QRectF(180 * u, 150 * u, 980 * u, 640 * u), QColor(46, 52, 70), QColor(30, 34, 46));
  window(QRectF(1040 * u, 330 * u, 700 * u, 560 * u), QColor(58, 64, 84), QColor(38, 42, 56));
  return image;
}

}  // namespace vantry
