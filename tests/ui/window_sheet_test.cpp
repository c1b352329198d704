// The window sheet: its search over the controller's window list, the rows and what a click
// does, the list's progress indicator, what is refused while a start runs, a failed start.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

#include <memory>

#include "design/buttons.h"
#include "localization/app_language.h"
#include "localization/language_scope.h"
#include "setup/window_sheet.h"
#include "studio/capture_fakes.h"
#include "studio/fakes.h"

namespace vantry {
namespace {

using testing::FakeCapture;
using testing::Gate;
using testing::Harness;
using testing::waitUntil;

platform::WindowInfo window(platform::WindowId id, const char* app, const char* title) {
  platform::WindowInfo w;
  w.id = id;
  w.application = {app, app, 0};
  w.title = title;
  w.frame = {0, 0, 800.7, 600.2};
  return w;
}

std::vector<platform::WindowId> ids(const std::vector<platform::WindowInfo>& windows) {
  std::vector<platform::WindowId> out;
  for (const auto& w : windows)
    out.push_back(w.id);
  return out;
}

TEST(WindowSheetFilter, MatchesTheJoinedNameAndTitleIgnoringCaseAsTyped) {
  const std::vector<platform::WindowInfo> windows = {
      window(1, "Firefox", "Release Notes"), window(2, "Terminal", "build log"),
      window(3, "", "Untitled"), window(4, "Files", "")};
  EXPECT_EQ(ids(filterWindows(windows, QString())), ids(windows));
  // The separating space is always there, so one space matches every window; two do not.
  EXPECT_EQ(ids(filterWindows(windows, QStringLiteral(" "))), ids(windows));
  EXPECT_TRUE(filterWindows(windows, QStringLiteral("  ")).empty());
  // Across the end of the name and the start of the title, in any case, untrimmed.
  EXPECT_EQ(ids(filterWindows(windows, QStringLiteral("FOX rel"))),
            (std::vector<platform::WindowId>{1}));
  EXPECT_EQ(ids(filterWindows(windows, QStringLiteral("l b"))),
            (std::vector<platform::WindowId>{2}));
  EXPECT_EQ(ids(filterWindows(windows, QStringLiteral("files "))),
            (std::vector<platform::WindowId>{4}));
  EXPECT_TRUE(filterWindows(windows, QStringLiteral(" firefox")).empty());
  // A window without an application is found by its title only, not by its shown name.
  EXPECT_EQ(ids(filterWindows(windows, QStringLiteral(" untitled"))),
            (std::vector<platform::WindowId>{3}));
  EXPECT_TRUE(filterWindows(windows, QStringLiteral("窗口")).empty());
  EXPECT_TRUE(filterWindows(windows, QStringLiteral("window")).empty());
  {
    LanguageScope chinese(AppLanguage::chinese);
    EXPECT_EQ(windowOwnerName(windows[2]), QStringLiteral("窗口"));
    EXPECT_EQ(windowOwnerName(windows[0]), QStringLiteral("Firefox"));
  }
  LanguageScope english(AppLanguage::english);
  EXPECT_EQ(windowOwnerName(windows[2]), QStringLiteral("Window"));
}

// A capture whose window listing can be held at a gate.
class ListingCapture : public FakeCapture {
 public:
  Gate listing;
  platform::ShareableContent shareableContent() override {
    listing.pass();
    return FakeCapture::shareableContent();
  }
};

struct SheetFixture : ::testing::Test {
  Harness h;
  std::shared_ptr<ListingCapture> capture = std::make_shared<ListingCapture>();
  std::unique_ptr<Studio> studio;
  std::unique_ptr<WindowSheet> sheet;

  void SetUp() override {
    capture->content.windows = {window(11, "Firefox", "Release Notes"),
                                window(12, "Terminal", "build log"), window(13, "", "Untitled")};
    capture->windowIcons[11] = QImage(24, 24, QImage::Format_ARGB32);
    auto services = h.services();
    services.capture = capture;
    studio = std::make_unique<Studio>(std::move(services));
    studio->setUseCamera(false);
    studio->setSetupMode(RecordingSource::window);
    studio->setShowingRecordingSetup(true);
  }
  void TearDown() override {
    capture->listing.open();
    sheet.reset();
    studio.reset();
  }
  void open() {
    sheet = std::make_unique<WindowSheet>(*studio);
    sheet->setAttribute(Qt::WA_DontShowOnScreen);
    sheet->show();
  }
  bool listed() {
    return waitUntil([this] {
      sheet->refreshNow();
      return !studio->loadingSources() && !sheet->rows().empty();
    });
  }
  void key(int code) {
    QKeyEvent event(QEvent::KeyPress, code, Qt::NoModifier);
    QCoreApplication::sendEvent(sheet.get(), &event);
  }
  // Selects the row of `id` and delivers the live picture of it.
  bool choose(platform::WindowId id) {
    const std::string suffix = " window " + std::to_string(id);
    for (WindowRow* row : sheet->rows())
      if (row->window().id == id) row->click();
    const bool started = waitUntil([&] {
      for (const std::string& c : capture->log.snapshot())
        if (c.rfind("preview", 0) == 0 && c.find(".start ") != std::string::npos &&
            c.size() > suffix.size() &&
            c.compare(c.size() - suffix.size(), suffix.size(), suffix) == 0)
          return true;
      return false;
    });
    if (!started) return false;
    capture->previews.back()->frame();
    const bool ready = waitUntil([this] { return studio->canStartRecording(); });
    sheet->refreshNow();  // the buttons follow the controller
    return ready;
  }
};

TEST_F(SheetFixture, ListsTheWindowsWithIconsAndNarrowsAsTheSearchIsTyped) {
  open();
  ASSERT_TRUE(listed());
  auto rows = sheet->rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_FALSE(rows[0]->icon().isNull());
  EXPECT_TRUE(rows[1]->icon().isNull()) << "drawn with the generic window symbol";
  sheet->control<QLineEdit>("search")->setText(QStringLiteral("minal B"));
  ASSERT_EQ(sheet->rows().size(), 1u);
  EXPECT_EQ(sheet->rows()[0]->window().id, 12u);
  sheet->setQuery(QString());
  EXPECT_EQ(sheet->rows().size(), 3u);
  EXPECT_TRUE(sheet->control<GlassButton>("refresh")->isEnabled());
}

TEST_F(SheetFixture, ProgressShowsOnlyWhileLoadingAnEmptyList) {
  capture->listing.close();
  open();
  capture->listing.awaitArrival();
  sheet->refreshNow();
  EXPECT_TRUE(sheet->loadingShown());
  EXPECT_FALSE(sheet->control<GlassButton>("refresh")->isEnabled());
  capture->listing.open();
  ASSERT_TRUE(listed());
  EXPECT_FALSE(sheet->loadingShown());
  // A later refresh keeps the known windows and shows no indicator.
  capture->listing.close();
  studio->refreshCaptureSources();
  sheet->refreshNow();
  EXPECT_TRUE(studio->loadingSources());
  EXPECT_FALSE(sheet->loadingShown());
  EXPECT_EQ(sheet->rows().size(), 3u);
  capture->listing.open();
  EXPECT_TRUE(waitUntil([this] { return !studio->loadingSources(); }));
}

TEST_F(SheetFixture, ARowChoosesTheWindowAndReturnStartsOnlyOnceThePictureIsLive) {
  open();
  ASSERT_TRUE(listed());
  auto* start = sheet->control<PrimaryButton>("start");
  // The display's preview runs and could start, but no window is chosen yet.
  ASSERT_TRUE(waitUntil([this] { return !capture->previews.empty(); }));
  capture->previews.back()->frame();
  ASSERT_TRUE(waitUntil([this] { return studio->canStartRecording(); }));
  sheet->refreshNow();
  EXPECT_FALSE(sheet->pictureShown());
  EXPECT_FALSE(start->isEnabled());
  key(Qt::Key_Return);
  EXPECT_FALSE(studio->busy()) << "no window chosen: the start button is off, so is Return";
  ASSERT_TRUE(choose(12));
  sheet->refreshNow();
  EXPECT_EQ(studio->selectedWindowID(), 12u);
  EXPECT_TRUE(sheet->rows()[1]->selected());
  EXPECT_EQ(sheet->rows()[1]->accessibleDescription(), QStringLiteral("Selected"));
  EXPECT_TRUE(start->isEnabled());
  EXPECT_TRUE(sheet->pictureShown());
  key(Qt::Key_Enter);
  EXPECT_TRUE(studio->busy());
  EXPECT_TRUE(waitUntil([this] { return !studio->showingRecordingSetup(); }));
  const auto log = capture->log.snapshot();
  EXPECT_NE(std::find(log.begin(), log.end(), "recording.start 7 window 12 mic"), log.end())
      << "the chosen window, without the camera, with the microphone";
}

TEST_F(SheetFixture, WhileStartingNothingDismissesAndRowsAndKeysDoNothing) {
  open();
  ASSERT_TRUE(listed());
  ASSERT_TRUE(choose(11));
  studio->setBusy(true);
  sheet->refreshNow();
  for (const char* name : {"back", "close", "cancel", "start"})
    EXPECT_FALSE(sheet->control<QAbstractButton>(name)->isEnabled()) << name;
  sheet->rows()[1]->click();
  EXPECT_EQ(studio->selectedWindowID(), 11u);
  key(Qt::Key_Escape);
  sheet->reject();
  sheet->close();
  EXPECT_TRUE(studio->showingRecordingSetup());
  EXPECT_TRUE(sheet->isVisible());
  key(Qt::Key_Return);
  EXPECT_TRUE(capture->recordings.empty());

  studio->setBusy(false);
  sheet->refreshNow();
  // From the search field, which has the keys, as from the sheet.
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(sheet->control<QLineEdit>("search"), &escape);
  EXPECT_FALSE(studio->showingRecordingSetup());
}

TEST_F(SheetFixture, AFailedStartComesBackWithItsReason) {
  capture->onRecording = [](testing::FakeRecording& r) {
    r.startError = "display server refused: BadMatch";
  };
  open();
  ASSERT_TRUE(listed());
  ASSERT_TRUE(choose(13));
  sheet->control<PrimaryButton>("start")->click();
  ASSERT_TRUE(waitUntil([this] { return !studio->busy(); }));
  sheet->refreshNow();
  EXPECT_TRUE(studio->showingRecordingSetup());
  EXPECT_TRUE(sheet->control<QWidget>("errorRow")->isVisibleTo(sheet.get()));
  EXPECT_TRUE(sheet->control<QLabel>("errorText")->text().contains(QStringLiteral("BadMatch")));
  EXPECT_TRUE(sheet->control<QAbstractButton>("cancel")->isEnabled());
  EXPECT_FALSE(sheet->control<PrimaryButton>("start")->isEnabled());
}

}  // namespace
}  // namespace vantry
