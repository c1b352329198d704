// The main window's views in each state: header title, chips, status dot and buttons; the
// stage's geometry, error panel and black full-screen state; the control bar with its
// picker and transport; the mode block under it.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPaintEvent>
#include <QThread>

#include <algorithm>
#include <string>
#include <vector>

#include "app/header_bar.h"
#include "app/main_column.h"
#include "app/preview_stage.h"
#include "design/buttons.h"
#include "design/labels.h"
#include "design/pill_segment.h"
#include "design/theme.h"
#include "design/view_parts.h"
#include "localization/qt/language_settings.h"
#include "localization/qt/qt_text.h"
#include "player/playback_controls.h"
#include "preview/preview_surface.h"
#include "render/movie_fixtures.h"
#include "studio/studio_services.h"
#include "timeline/timeline_lanes.h"
#include "timeline/timeline_view.h"
#include "window_fixture.h"

namespace vantry {
namespace {

using testing::WindowFixture;

class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override { LanguageSettings::shared().setSelected(AppLanguage::english); }
  HeaderBar* header() { return f.window->header(); }
  MainColumn* column() { return f.window->mainColumn(); }
  WindowFixture f;
};

TEST_F(MainWindow, HeaderInStandby) {
  EXPECT_EQ(header()->title(), "New Recording");
  EXPECT_TRUE(header()->liveBadge()->isVisible());
  EXPECT_FALSE(header()->recordingChip()->isVisible());
  EXPECT_EQ(header()->statusDot()->color(), Theme::mint);
  EXPECT_EQ(header()->recordButton()->text(), "New Recording");
  EXPECT_TRUE(header()->recordButton()->isEnabled());
  EXPECT_FALSE(header()->exportButton()->isEnabled());
  EXPECT_TRUE(header()->openButton()->isEnabled());
  EXPECT_EQ(column()->modeBlock(), column()->standbyCallout());
  EXPECT_TRUE(column()->standbyCallout()->isVisible());
}

TEST_F(MainWindow, HeaderWhileRecordingAndBusy) {
  f.s().setTime(65.7);
  f.recording();
  EXPECT_EQ(header()->title(), "Recording · " + QString::fromStdString(f.s().selectedScreenName()));
  EXPECT_TRUE(header()->recordingChip()->isVisible());
  EXPECT_FALSE(header()->liveBadge()->isVisible());
  EXPECT_EQ(header()->recordingChipText()->text(), "REC  01:05");
  f.s().setTime(66.2);  // the chip follows the clock without a full refresh
  EXPECT_EQ(header()->recordingChipText()->text(), "REC  01:06");
  EXPECT_EQ(header()->statusDot()->color(), Theme::rec);
  EXPECT_EQ(header()->recordButton()->text(), "Stop Recording");
  EXPECT_TRUE(header()->recordButton()->recording());
  EXPECT_FALSE(header()->openButton()->isEnabled());
  EXPECT_FALSE(header()->exportButton()->isEnabled());
  EXPECT_EQ(column()->modeBlock(), column()->recordingStrip());

  f.s().setBusy(true);
  f.settle();
  EXPECT_EQ(header()->recordButton()->text(), "Processing…");
  EXPECT_FALSE(header()->recordButton()->isEnabled());
  EXPECT_FALSE(column()->recordingStrip()->stopButton()->isEnabled());
}

TEST_F(MainWindow, HeaderWithDemoProjectAndWhileExporting) {
  f.demo();
  EXPECT_EQ(header()->title(), "Let the camera guide your focus.");
  EXPECT_FALSE(header()->recordingChip()->isVisible());
  EXPECT_FALSE(header()->liveBadge()->isVisible());
  EXPECT_EQ(header()->statusDot()->color(), Theme::cyan);
  EXPECT_TRUE(header()->exportButton()->isEnabled());

  f.s().setExporting(true);
  f.settle();
  EXPECT_EQ(header()->statusDot()->color(), Theme::amber);
  EXPECT_FALSE(header()->openButton()->isEnabled());
  EXPECT_FALSE(header()->recordButton()->isEnabled());
  EXPECT_FALSE(header()->exportButton()->isEnabled());
  EXPECT_TRUE(header()->settingsButton()->isEnabled());
  // The whole transport refuses while exporting.
  EXPECT_FALSE(column()->controlBar()->transport()->isEnabled());
}

TEST_F(MainWindow, ProjectTitleIsShownAsStoredAndNoticeIsTranslated) {
  f.project("演示 · Lesson");
  EXPECT_EQ(header()->title(), QString("演示 · Lesson"));
  f.s().setNotice("编辑未能保存：disk full");
  f.settle();
  EXPECT_EQ(header()->noticeView()->text(), "Could not save edits: disk full");
  LanguageSettings::shared().setSelected(AppLanguage::chinese);
  f.settle();
  EXPECT_EQ(header()->noticeView()->text(), QString("编辑未能保存：disk full"));
  LanguageSettings::shared().setSelected(AppLanguage::english);
}

// The notice while recording a display is read whole at the window's default width, in
// both languages (the English lost its end to "Showing live prev…").
TEST_F(MainWindow, TheRecordingNoticeFitsItsPill) {
  f.recording();
  for (AppLanguage language : AppLanguage::allCases) {
    LanguageSettings::shared().setSelected(language);
    f.s().setNotice(L("正在录制：") + f.s().selectedScreenName() +
                    L(" · 本窗口不会被录入 · 画面为实时预览"));
    f.settle();
    EXPECT_EQ(header()->noticeView()->shownText(), header()->noticeView()->text());
  }
  LanguageSettings::shared().setSelected(AppLanguage::english);
}

class NamedDisplay final : public ScreenNames {
 public:
  explicit NamedDisplay(std::string name) : name_(std::move(name)) {}
  std::optional<std::string> displayName(platform::DisplayId) const override { return name_; }
  platform::DisplayId primaryDisplay() const override { return 1; }

 private:
  std::string name_;
};

// Recording at the default window size, with display names as real ones are, or a window:
// the title stays whole where the header has room for it and the pill's key words, the pill
// always says what is recorded and that this window is left out, and a pill cut for room
// holds its whole text as a tooltip. (The title read "Recordi… screen" and the pill lost
// its end, up to "This window is exc…".)
TEST(HeaderFit, RecordingTitleWholeAndPillKeepsItsKeyWords) {
  struct Case {
    std::string display;  // empty: the terminal window of the listing
    AppLanguage language;
    bool titleWhole;
  };
  const Case cases[] = {
      {"screen", AppLanguage::english, true}, {"DisplayPort-0", AppLanguage::english, true},
      {"", AppLanguage::english, false},  // no room for both: the pill's words go first
      {"screen", AppLanguage::chinese, true}, {"DisplayPort-0", AppLanguage::chinese, true},
      {"", AppLanguage::chinese, false},
  };
  for (const Case& c : cases) {
    LanguageSettings::shared().setSelected(c.language);
    SCOPED_TRACE(c.display + " " + std::string(c.language.rawValue()));
    StudioServices services = offscreenStudioServices();
    if (!c.display.empty()) services.screens = std::make_shared<NamedDisplay>(c.display);
    WindowFixture f({}, false, std::move(services));
    if (c.display.empty()) {
      f.s().refreshCaptureSources();
      QDeadlineTimer listed(5000);
      while (f.s().loadingSources() && !listed.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      for (const platform::WindowInfo& window : f.s().captureWindows())
        if (window.application.name == "Terminal") f.s().setSelectedWindowID(window.id);
      ASSERT_TRUE(f.s().selectedWindowID().has_value());
    }
    const QString name = QString::fromStdString(f.s().selectedScreenName());
    f.s().setNotice(L("正在录制：") + f.s().selectedScreenName() +
                    L(" · 本窗口不会被录入 · 画面为实时预览"));
    f.recording();
    HeaderBar* header = f.window->header();
    ASSERT_EQ(header->width(), 1250);

    if (c.titleWhole) {
      EXPECT_EQ(header->titleView()->shownText(), header->title());
    }
    const bool english = c.language == AppLanguage::english;
    const QString shown = header->noticeView()->shownText();
    const QString head = english ? "Recording: " : "正在录制：";
    EXPECT_TRUE(shown.startsWith(head + (c.display.empty() ? name.first(4) : name)))
        << shown.toStdString();
    // Whole, or cut after the note that this window is left out.
    const QString excluded = english ? "This window is excluded" : "本窗口不会被录入";
    if (shown != header->noticeView()->text()) {
      EXPECT_TRUE(shown.endsWith(excluded)) << shown.toStdString();
      EXPECT_EQ(header->statusPill()->toolTip(), header->noticeView()->text());
    }
    if (english && c.display == "screen") {
      EXPECT_EQ(header->title(), "Recording · screen");
      EXPECT_EQ(shown, "Recording: screen · This window is excluded");
    }
  }
  LanguageSettings::shared().setSelected(AppLanguage::english);
}

TEST(StageGeometry, SixteenByNineInsideTheReader) {
  const QRectF wide = stageRect(QSizeF(1000, 400));
  EXPECT_NEAR(wide.width(), 711.1, 0.1);
  EXPECT_DOUBLE_EQ(wide.height(), 400);
  EXPECT_NEAR(wide.left(), (1000 - 711.1) / 2, 0.1);
  const QRectF tall = stageRect(QSizeF(800, 900));
  EXPECT_DOUBLE_EQ(tall.width(), 800);
  EXPECT_DOUBLE_EQ(tall.height(), 450);
  EXPECT_DOUBLE_EQ(tall.top(), 225);
  EXPECT_TRUE(stageRect(QSizeF(0, 0)).isEmpty());
}

TEST_F(MainWindow, StageNeverShorterThan260) {
  PreviewStage* stage = column()->stage();
  EXPECT_GE(stage->minimumHeight(), 260);
  f.window->resize(1080, 760);  // the window's own minimum
  f.settle();
  EXPECT_GE(stage->height(), 260);
  const QRectF r = stage->stage();
  EXPECT_NEAR(r.width() / r.height(), 16.0 / 9.0, 1e-6);
  EXPECT_EQ(stage->picture()->geometry(), r.toAlignedRect());
}

TEST_F(MainWindow, SetupErrorPanelOnlyInStandby) {
  PreviewStage* stage = column()->stage();
  f.s().setSetupError(
      std::string("未收到实时画面。请检查所选屏幕、摄像头和系统权限，再点击重新预览。"));
  f.settle();
  ASSERT_TRUE(stage->errorPanel()->isVisible());
  EXPECT_TRUE(stage->errorMessage()->text().startsWith("No live image received."));
  EXPECT_EQ(stage->retryButton()->text(), "Retry Preview");
  EXPECT_EQ(stage->permissionsButton()->text(), "Permissions");
  // A failure left over once a project is open is not shown.
  f.demo();
  EXPECT_FALSE(stage->errorPanel()->isVisible());
}

TEST_F(MainWindow, SetupErrorNeverSendsALinuxUserToMacSettings) {
  f.s().setSetupError(L("摄像头权限未开启。请在系统设置 → 隐私与安全性 → 摄像头中允许 Vantry。"));
  f.settle();
  const QString shown = column()->stage()->errorMessage()->text();
  EXPECT_TRUE(shown.contains("video group")) << shown.toStdString();
  EXPECT_FALSE(shown.contains("System Settings"));
}

TEST_F(MainWindow, StageIsBlackWhileTheFullScreenPlayerIsOpen) {
  f.demo();
  PreviewStage* stage = column()->stage();
  EXPECT_FALSE(stage->showsBlack());
  const QRect before = stage->frame()->geometry();
  f.s().setFullscreenPreview(true);
  f.settle();
  EXPECT_TRUE(stage->showsBlack());
  EXPECT_EQ(stage->frame()->geometry(), before);  // keeps its size and border
  const QImage shot = stage->grab().toImage();
  const QPoint centre = stage->stage().center().toPoint();
  EXPECT_EQ(QColor(shot.pixel(centre)), QColor(Qt::black));
  f.s().setFullscreenPreview(false);
  f.settle();
  EXPECT_FALSE(stage->showsBlack());
}

TEST_F(MainWindow, PresenterPickerEnablementAndDimming) {
  ControlBar* bar = column()->controlBar();
  PresenterPicker* live = bar->livePicker();
  EXPECT_TRUE(live->isEnabled());
  EXPECT_DOUBLE_EQ(live->opacity(), 1.0);
  f.s().setBusy(true);
  f.settle();
  EXPECT_FALSE(live->isEnabled());
  EXPECT_DOUBLE_EQ(live->opacity(), 1.0);  // busy alone does not dim
  f.s().setBusy(false);
  f.settle();
  live->segment()->choose(1);
  EXPECT_TRUE(f.s().fullPresenter());
  f.settle();
  EXPECT_EQ(live->segment()->selection().toBool(), true);

  // A project recorded without a camera: dimmed and inert.
  f.project();
  Clip clip = f.s().clip();
  clip.cameraPath.reset();
  f.s().setClip(clip);
  f.settle();
  PresenterPicker* project = bar->projectPicker();
  ASSERT_FALSE(f.s().hasCamera());
  EXPECT_FALSE(project->isEnabled());
  EXPECT_DOUBLE_EQ(project->opacity(), 0.45);
  f.s().setExporting(true);
  f.settle();
  EXPECT_FALSE(project->isEnabled());
}

TEST_F(MainWindow, ControlBarLiveLayoutAndElapsedTime) {
  ControlBar* bar = column()->controlBar();
  EXPECT_TRUE(bar->liveRow()->isVisible());
  EXPECT_FALSE(bar->transport()->isVisible());
  EXPECT_FALSE(bar->elapsed()->isVisible());  // not in standby
  f.s().setTime(5);
  f.recording();
  EXPECT_TRUE(bar->elapsed()->isVisible());
  EXPECT_EQ(bar->elapsed()->text(), "00:05");
  f.s().setRecording(false);
  f.s().setStandby(false);
  f.settle();
  EXPECT_FALSE(bar->liveRow()->isVisible());
  EXPECT_TRUE(bar->transport()->isVisible());
}

TEST_F(MainWindow, RecordingStripShowsAllChipsWithOffForms) {
  f.s().setUseMicrophone(false);
  f.recording();
  RecordingStrip* strip = column()->recordingStrip();
  EXPECT_TRUE(strip->screenChip()->on());
  EXPECT_EQ(strip->screenChip()->text(), "Recording Screen");
  EXPECT_TRUE(strip->cameraChip()->on());
  EXPECT_EQ(strip->cameraChip()->text(), "Recording Camera");
  EXPECT_FALSE(strip->microphoneChip()->on());
  EXPECT_EQ(strip->microphoneChip()->text(), "Microphone Off");
  EXPECT_TRUE(strip->cameraChip()->isVisible());
}

TEST_F(MainWindow, StandbyCalloutActions) {
  StandbyCallout* callout = column()->standbyCallout();
  EXPECT_EQ(callout->demoButton()->text(), "View Demo");
  EXPECT_EQ(callout->chooseButton()->text(), "Choose Display");
  f.s().setBusy(true);
  f.settle();
  EXPECT_FALSE(callout->chooseButton()->isEnabled());
  f.s().setBusy(false);
  f.settle();
  callout->demoButton()->click();
  f.settle();
  EXPECT_TRUE(f.s().clip().isDemo);
  EXPECT_FALSE(f.s().standby());
  EXPECT_NE(column()->modeBlock(), callout);
  EXPECT_FALSE(callout->isVisible());
}

TEST_F(MainWindow, TransportBar) {
  f.demo();
  PlaybackControls* bar = column()->controlBar()->transport();
  f.s().seek(5.3);
  f.settle();
  EXPECT_EQ(bar->clockReadout()->timeText(), "00:05");
  EXPECT_EQ(bar->clockReadout()->durationText(), QString::fromStdString(clock(f.s().duration())));
  ClockReadout readout;
  readout.setTimes(5, 75.4);
  EXPECT_EQ(readout.timeText() + " / " + readout.durationText(), "00:05 / 01:15");

  EXPECT_EQ(SpeedMenuButton::rateText(1.0), QString("1×"));
  EXPECT_EQ(SpeedMenuButton::rateText(0.75), QString("0.75×"));
  QMenu* menu = bar->speedButton()->buildMenu();
  ASSERT_EQ(menu->actions().size(), 6);
  // A checkmark beside the current rate only, no check boxes, on the app's dark ground.
  for (int i = 0; i < 6; ++i) {
    EXPECT_FALSE(menu->actions()[i]->isCheckable());
    EXPECT_EQ(!menu->actions()[i]->icon().isNull(), i == 2) << i;
  }
  menu->adjustSize();
  const QImage look = menu->grab().toImage();
  EXPECT_LT(look.pixelColor(3, look.height() / 2).lightness(), 50);
  menu->actions()[4]->trigger();
  EXPECT_DOUBLE_EQ(f.s().playbackRate(), 1.5);
  f.settle();
  EXPECT_EQ(bar->speedButton()->rate(), 1.5);
  delete menu;
  // A rate from elsewhere that the list lacks checks nothing.
  f.s().setPlaybackRate(1.1);
  menu = bar->speedButton()->buildMenu();
  for (QAction* a : menu->actions())
    EXPECT_TRUE(a->icon().isNull());
  delete menu;

  bar->playButton()->click();
  f.settle();
  EXPECT_TRUE(f.s().playing());
  EXPECT_TRUE(bar->playButton()->playing());
  EXPECT_EQ(bar->playButton()->accessibleName(), "Pause");
  bar->playButton()->click();
  f.settle();
  bar->backButton()->click();
  f.settle();
  EXPECT_DOUBLE_EQ(f.s().time(), 0);
  EXPECT_FALSE(f.s().playing());  // back to start does not start playing
  EXPECT_EQ(bar->fullScreenButton()->toolTip(), "Full Screen Preview");

  // While exporting the play button cannot be pressed, and no longer looks as if it could.
  auto fill = [&] { return bar->playButton()->grab().toImage().pixelColor(9, 19).lightness(); };
  const int pressable = fill();
  f.s().setExporting(true);
  f.settle();
  EXPECT_FALSE(bar->playButton()->isEnabled());
  EXPECT_LT(fill(), pressable - 60);
}

TEST_F(MainWindow, DeselectButtonOnlyWithASelectedPresenterBlock) {
  f.demo();
  ControlBar* bar = column()->controlBar();
  EXPECT_FALSE(bar->deselectButton()->isVisible());
  const auto blocks = f.s().clip().presenterBlocks();
  if (blocks.empty()) GTEST_SKIP() << "the demonstration has no presenter blocks";
  f.s().selectPresenterBlock(blocks.front().id);
  f.settle();
  ASSERT_TRUE(bar->deselectButton()->isVisible());
  EXPECT_EQ(bar->deselectButton()->accessibleName(), QL("取消区块选择"));
  const bool layout = f.s().presenterFull();
  bar->deselectButton()->click();
  f.settle();
  EXPECT_FALSE(f.s().selectedPresenterID().has_value());
  EXPECT_FALSE(bar->deselectButton()->isVisible());
  EXPECT_EQ(f.s().presenterFull(), layout);
}

// Every paint of a window's widgets: the region painted (in window coordinates) and how
// often each widget painted.
class RepaintProbe : public QObject {
 public:
  explicit RepaintProbe(QWidget* window) : window_(window) { qApp->installEventFilter(this); }
  ~RepaintProbe() override { qApp->removeEventFilter(this); }

  const QRegion& painted() const { return painted_; }
  qint64 paintedArea() const {
    qint64 area = 0;
    for (const QRect& r : painted_)
      area += qint64(r.width()) * r.height();
    return area;
  }
  int paints(const QWidget* widget) const { return counts_.value(widget); }
  // The widgets painted more than once, by class and name.
  std::vector<std::string> repainted() const {
    std::vector<std::string> names;
    for (auto it = counts_.begin(); it != counts_.end(); ++it)
      if (it.value() > 1)
        names.push_back(std::string(it.key()->metaObject()->className()) + " " +
                        it.key()->objectName().toStdString());
    return names;
  }

  // Runs the event loop long enough for the window to paint what a change asked for.
  static void settle() {
    for (int i = 0; i < 25; ++i) {
      QApplication::processEvents();
      QThread::msleep(2);
    }
  }
  // Until `widget` has painted (a few seconds at most), then a little longer, so that a
  // paint following that one is seen too.
  void waitForPaintOf(const QWidget* widget) {
    const QDeadlineTimer deadline(5000);
    while (!paints(widget) && !deadline.hasExpired()) {
      QApplication::processEvents();
      QThread::msleep(2);
    }
    settle();
  }

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() != QEvent::Paint) return false;
    auto* widget = qobject_cast<QWidget*>(object);
    // Hidden views drawn offscreen are not the window's paint.
    if (!widget || widget->window() != window_ || !widget->isVisible()) return false;
    painted_ +=
        static_cast<QPaintEvent*>(event)->region().translated(widget->mapTo(window_, QPoint(0, 0)));
    ++counts_[widget];
    return false;
  }

 private:
  QWidget* window_;
  QRegion painted_;
  QHash<const QWidget*, int> counts_;
};

// The offscreen services with the frame clock running, so that a project plays.
StudioServices runningClock() {
  StudioServices services = offscreenStudioServices();
  services.startClock = true;
  return services;
}

struct PaintedWindow : ::testing::Test {
  void SetUp() override {
    LanguageSettings::shared().setSelected(AppLanguage::english);
    RepaintProbe::settle();
  }
  Studio& s() { return f.s(); }
  QWidget* picture() { return f.window->mainColumn()->stage()->picture(); }
  PreviewSurface* surface() { return static_cast<PreviewSurface*>(picture()); }
  QWidget* lanes() {
    return static_cast<TimelineView*>(f.window->mainColumn()->timeline())->lanes()->viewport();
  }
  // A recording of 1280 x 720 at 60 frames a second, every frame a new picture, with its
  // sound or without, and a pointer that moves all the time: every tick moves the moment.
  Clip recording(bool sound) {
    static testing::TempDir media;
    static const bool made = [] {
      testing::makeIndexedMovie(media.file("screen.mp4"), 150, 60, 1280, 720);
      testing::makeToneSound(media.file("voice.m4a"), 2.5, {0.5, 1.5});
      return true;
    }();
    EXPECT_TRUE(made);
    Clip clip;
    clip.title = "Lesson";
    clip.duration = 2.5;
    clip.width = 1280;
    clip.height = 720;
    clip.screenPath = media.file("screen.mp4");
    if (sound) clip.audioPath = media.file("voice.m4a");
    for (int i = 0; i <= 150; ++i)
      clip.samples.edit().push_back({i / 60.0, 0.2 + 0.004 * i, 0.3 + 0.002 * i, false});
    return clip;
  }
  // Plays `clip` from its start to its end; the stage's compositions and paints, and how
  // many of those compositions the paints made themselves.
  struct Played {
    int compositions = 0;
    int paints = 0;
    int composedByPaints = 0;
  };
  Played play(const Clip& clip) {
    EXPECT_TRUE(s().load(clip)) << s().error().value_or("");
    RepaintProbe::settle();
    RepaintProbe probe(f.window.get());
    const int before = surface()->compositions();
    const int paintsBefore = surface()->paintCompositions();
    s().togglePlayback();
    const QDeadlineTimer deadline(20000);
    while (s().playing() && !deadline.hasExpired()) {
      QApplication::processEvents();
      QThread::msleep(1);
    }
    Played played{surface()->compositions() - before, probe.paints(picture()),
                  surface()->paintCompositions() - paintsBefore};
    if (s().playing()) s().togglePlayback();
    return played;
  }
  testing::WindowFixture f{StudioWindowParts::standard(), true, runningClock()};
};

// A published value assigned again, or the busy state at the start of an open, repaints
// only the controls that show something new: not the window (57 rectangles over header,
// stage, transport, timeline and inspector for the busy state).
TEST_F(PaintedWindow, ChangesRepaintOnlyWhatTheyShow) {
  {
    RepaintProbe opened(f.window.get());
    f.project();
    opened.waitForPaintOf(lanes());
  }
  RepaintProbe probe(f.window.get());
  s().setNotice(s().notice());
  s().setSettings(s().settings());
  s().setClip(s().clip());
  s().setTime(s().time());
  s().setSelectedPresenterID(std::nullopt);
  s().setError(std::nullopt);
  s().setBusy(false);
  RepaintProbe::settle();
  EXPECT_TRUE(probe.painted().isEmpty())
      << probe.painted().boundingRect().width() << " x " << probe.painted().boundingRect().height();

  RecordButton* record = f.window->header()->recordButton();
  s().setBusy(true);
  probe.waitForPaintOf(record);
  EXPECT_EQ(record->text(), "Processing…");
  EXPECT_EQ(probe.paints(picture()), 0);
  EXPECT_EQ(probe.paints(lanes()), 0);
  const QSize window = f.window->size();
  EXPECT_LT(probe.paintedArea(), qint64(window.width()) * window.height() / 10);
}

// Opening a project moves the views (the timeline comes, the stage shrinks): they are laid
// out before the window paints, so each paints once, not first where it was.
TEST_F(PaintedWindow, AProjectOpeningPaintsEachViewOnce) {
  RepaintProbe probe(f.window.get());
  s().demo();
  s().setPlaying(false);
  probe.waitForPaintOf(lanes());
  EXPECT_EQ(probe.paints(picture()), 1);
  EXPECT_EQ(probe.repainted(), std::vector<std::string>());
}

// Playing composes the stage's picture once for each paint of it, with the sound as the
// clock and without. The picture composed a turn ahead of the paint was composed again by the
// paint whenever a new frame or the clock moved the moment in between (1.57 and 2.27
// compositions a paint).
// The paints themselves compose nothing while it plays: the stage's worker composes each new
// moment (every one of the 1.0 a paint was composed on the main thread, which then spent most
// of its time on it), so at most the picture where it stopped is the paint's.
TEST_F(PaintedWindow, PlayingComposesOncePerPaintWithoutSound) {
  const Played played = play(recording(false));
  EXPECT_GE(played.paints, 10);
  EXPECT_LE(played.compositions, played.paints);
  EXPECT_LE(played.composedByPaints, 1);
}

TEST_F(PaintedWindow, PlayingComposesOncePerPaintWithSound) {
  const Played played = play(recording(true));
  EXPECT_GE(played.paints, 10);
  EXPECT_LE(played.compositions, played.paints);
  EXPECT_LE(played.composedByPaints, 1);
}

// A composition that fails, on the worker that makes the first picture of a new size and then
// in the paint, leaves the window painting: the stage keeps its last picture, the failure is
// logged once, and the picture comes back once compositions work again. The window used to
// wait for the worker's picture for ever, and painted nothing more.
TEST_F(PaintedWindow, AFailedCompositionLeavesTheWindowPainting) {
  const QImage last = surface()->composed();
  ASSERT_FALSE(last.isNull());
  surface()->failCompositionsForTesting(true);
  ::testing::internal::CaptureStderr();
  RepaintProbe probe(f.window.get());
  f.project();  // the timeline comes and the stage shrinks: a new size, first made on the worker
  probe.waitForPaintOf(lanes());
  s().setNotice("Still painting");
  probe.waitForPaintOf(f.window->header()->noticeView());
  const std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_GE(probe.paints(lanes()), 1);
  EXPECT_GE(probe.paints(picture()), 1);
  EXPECT_GE(probe.paints(f.window->header()->noticeView()), 1);
  EXPECT_EQ(surface()->composed().cacheKey(), last.cacheKey());
  const std::string sentence = L("预览画面未能合成，舞台上先保留上一幅画面。");
  const auto logged = log.find(sentence);
  EXPECT_NE(logged, std::string::npos) << log;
  EXPECT_EQ(log.find(sentence, logged + 1), std::string::npos) << log;

  surface()->failCompositionsForTesting(false);
  s().setTime(0.5);
  RepaintProbe::settle();
  EXPECT_EQ(surface()->composed().size(), picture()->size() * picture()->devicePixelRatioF());
}

}  // namespace
}  // namespace vantry
