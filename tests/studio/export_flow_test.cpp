// The export flow with a scripted exporter: progress, result, cancellation, failure and the
// suggested file name.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>

#include "capture_fakes.h"
#include "fakes.h"
#include "localization/localization.h"
#include "render/render_error.h"

namespace vantry {
namespace {

using testing::Harness;
using testing::waitUntil;

// Steps the exporter thread takes one at a time, each released by the test.
struct Script {
  std::mutex m;
  std::condition_variable cv;
  int allowed = 0;
  std::function<void(double)> progress;
  void release() {
    std::lock_guard lock(m);
    ++allowed;
    cv.notify_all();
  }
  // Exporter thread: waits for the next release or for a stop.
  bool step(const std::stop_token& stop) {
    std::unique_lock lock(m);
    cv.wait_for(lock, std::chrono::milliseconds(20), [&] { return allowed > 0; });
    while (allowed == 0 && !stop.stop_requested())
      cv.wait_for(lock, std::chrono::milliseconds(20), [&] { return allowed > 0; });
    if (allowed == 0) return false;
    --allowed;
    return true;
  }
};

struct ExportDialogs : testing::FakeDialogs {
  std::optional<std::string> destination;
  std::string suggested;
  int asked = 0;
  std::optional<std::string> chooseExportDestination(const std::string& name,
                                                     const ExportOptions&) override {
    ++asked;
    suggested = name;
    return destination;
  }
};

struct ExportFixture : ::testing::Test {
  Harness h;
  std::shared_ptr<ExportDialogs> dialogs = std::make_shared<ExportDialogs>();
  std::unique_ptr<Studio> studio;
  Script script;
  std::vector<std::string> destinations;
  std::function<void(const std::function<void(double)>&, std::stop_token)> body;

  void SetUp() override {
    auto services = h.services();
    services.dialogs = dialogs;
    services.capture = std::make_shared<testing::FakeCapture>();
    studio = std::make_unique<Studio>(std::move(services));
    StudioTestAccess::setExporter(
        *studio, [this](const Clip&, const EditSettings&, const ExportOptions&,
                        const std::string& destination, const std::function<void(double)>& progress,
                        std::stop_token stop) {
          destinations.push_back(destination);
          script.progress = progress;
          body(progress, stop);
        });
    studio->demo();  // a project, not the live preview
    ASSERT_FALSE(studio->standby());
  }
  void TearDown() override { studio.reset(); }
  bool ended() {
    return waitUntil([&] { return !studio->exporting(); });
  }
};

TEST_F(ExportFixture, ProgressNeverGoesBackAndSuccessShowsTheSummary) {
  body = [this](const std::function<void(double)>& progress, std::stop_token stop) {
    script.step(stop);
    progress(0.3);
    progress(0.2);
    progress(0.5);
    progress(std::numeric_limits<double>::quiet_NaN());
    script.step(stop);
    progress(1.7);
    script.step(stop);
  };
  studio->exportMovie();
  ASSERT_TRUE(studio->showingExport());
  studio->beginExportTo("/tmp/out.mp4");
  EXPECT_TRUE(studio->exporting());
  EXPECT_TRUE(studio->exportStartedAt());
  studio->dismissExport();
  EXPECT_TRUE(studio->showingExport()) << "the sheet stays while exporting";
  studio->resetExportResult();
  EXPECT_TRUE(studio->exportStartedAt());

  script.release();
  ASSERT_TRUE(waitUntil([&] { return studio->exportProgress() == 0.5; }));
  testing::drainEvents();
  EXPECT_EQ(studio->exportProgress(), 0.5);
  script.release();
  ASSERT_TRUE(waitUntil([&] { return studio->exportProgress() == 1.0; }));
  script.release();
  ASSERT_TRUE(ended());
  EXPECT_EQ(*studio->exportResultURL(), "/tmp/out.mp4");
  EXPECT_EQ(studio->notice(), L("导出完成 · ") + "1920 × 1080 · 60 fps · MP4 · H.264");
  EXPECT_TRUE(studio->exportFinishedAt());
  EXPECT_FALSE(studio->exportFailure());

  // A late report of the ended run changes nothing, nor one of an old run in a new one.
  auto old = script.progress;
  old(0.1);
  testing::drainEvents();
  EXPECT_EQ(studio->exportProgress(), 1.0);
  body = [this](const std::function<void(double)>&, std::stop_token stop) { script.step(stop); };
  studio->beginExportTo("/tmp/again.mp4");
  old(0.7);
  testing::drainEvents();
  EXPECT_EQ(studio->exportProgress(), 0);
  script.release();
  ASSERT_TRUE(ended());
}

TEST_F(ExportFixture, CancellingAsksOnceAndReportsACancellationNotAFailure) {
  int stops = 0;
  body = [&](const std::function<void(double)>& progress, std::stop_token stop) {
    progress(0.2);
    std::stop_callback counted(stop, [&] { ++stops; });
    while (!stop.stop_requested())
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    throw CancelledError();
  };
  studio->exportMovie();
  studio->beginExportTo("/tmp/out.mp4");
  studio->cancelExport();
  EXPECT_TRUE(studio->exportCancelling());
  studio->cancelExport();
  ASSERT_TRUE(ended());
  EXPECT_EQ(stops, 1);
  EXPECT_TRUE(studio->exportCancelled());
  EXPECT_FALSE(studio->exportCancelling());
  EXPECT_FALSE(studio->exportFailure());
  EXPECT_EQ(studio->notice(), L("已取消导出 · 项目和原始录屏已保留"));
}

TEST_F(ExportFixture, AnyErrorAfterACancelCountsAsTheCancelOtherwiseAsAFailure) {
  body = [](const std::function<void(double)>&, std::stop_token stop) {
    while (!stop.stop_requested())
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    throw std::runtime_error("编码器已关闭");
  };
  studio->beginExportTo("/tmp/out.mp4");
  studio->cancelExport();
  ASSERT_TRUE(ended());
  EXPECT_TRUE(studio->exportCancelled());

  body = [](const std::function<void(double)>&, std::stop_token) {
    throw std::runtime_error("磁盘已满");
  };
  studio->resetExportResult();
  studio->beginExportTo("/tmp/out.mp4");
  ASSERT_TRUE(ended());
  EXPECT_FALSE(studio->exportCancelled());
  EXPECT_EQ(*studio->exportFailure(), "磁盘已满");
  EXPECT_EQ(studio->notice(), L("导出失败 · 可调整设置后重试"));
  studio->dismissExport();
  EXPECT_FALSE(studio->showingExport());
}

TEST_F(ExportFixture, TheDialogSuggestsANameAndTheExtensionIsAddedWhenMissing) {
  body = [](const std::function<void(double)>&, std::stop_token) {};
  studio->beginExport();
  EXPECT_EQ(dialogs->asked, 0) << "the sheet is not shown";
  studio->exportMovie();
  auto options = studio->exportOptions();
  options.format = ExportOptions::Format::mov;
  studio->setExportOptions(options);
  studio->beginExport();  // cancelled dialog
  EXPECT_EQ(dialogs->asked, 1);
  EXPECT_FALSE(studio->exporting());
  EXPECT_TRUE(dialogs->suggested.starts_with("Vantry Demo "));
  EXPECT_TRUE(dialogs->suggested.ends_with(".mov"));

  dialogs->destination = "/tmp/film";
  studio->beginExport();
  ASSERT_TRUE(ended());
  dialogs->destination = "/tmp/film.MOV";
  studio->beginExport();
  ASSERT_TRUE(ended());
  EXPECT_EQ(destinations, (std::vector<std::string>{"/tmp/film.mov", "/tmp/film.MOV"}));
}

TEST_F(ExportFixture, NothingExportsInLivePreviewOrWhileBusy) {
  body = [](const std::function<void(double)>&, std::stop_token) {};
  studio->setBusy(true);
  studio->exportMovie();
  studio->beginExportTo("/tmp/out.mp4");
  EXPECT_FALSE(studio->showingExport());
  EXPECT_FALSE(studio->exporting());
  studio->setBusy(false);
  studio->enterStandby();
  studio->exportMovie();
  studio->beginExportTo("/tmp/out.mp4");
  EXPECT_FALSE(studio->exporting());
  EXPECT_TRUE(destinations.empty());
}

TEST(ExportRefusal, TheOpenProjectsOwnDocumentIsNoDestination) {
  Harness h;
  Studio studio(h.services());
  QTemporaryDir dir;
  const std::string document = dir.filePath("edit.json").toStdString();
  studio.demo();
  studio.setProjectURL(document);
  ASSERT_TRUE(studio.saveNow());
  const auto before = QFile(QString::fromStdString(document)).size();
  studio.beginExportTo(document);
  ASSERT_TRUE(waitUntil([&] { return !studio.exporting(); }, 60000));
  EXPECT_TRUE(studio.exportFailure());
  EXPECT_FALSE(studio.exportResultURL());
  EXPECT_EQ(QFile(QString::fromStdString(document)).size(), before);
}

TEST(ExportFileName, IsTheLocalTimeInAFixedPattern) {
  const QDateTime demo(QDate(2026, 1, 31), QTime(14, 5, 9));
  EXPECT_EQ(Studio::exportFileName(demo, true), "Vantry Demo 2026-01-31 at 14.05.09");
  const QDateTime recorded(QDate(2026, 3, 9), QTime(8, 7, 6));
  EXPECT_EQ(Studio::exportFileName(recorded, false), "Vantry 2026-03-09 at 08.07.06");
}

TEST(Clock, ShowsZeroForNegativeAndNonFiniteTimesAndNeverOverflows) {
  EXPECT_EQ(clock(0), "00:00");
  EXPECT_EQ(clock(-4), "00:00");
  EXPECT_EQ(clock(std::nan("")), "00:00");
  EXPECT_EQ(clock(std::numeric_limits<double>::infinity()), "00:00");
  EXPECT_EQ(clock(-std::numeric_limits<double>::infinity()), "00:00");
  EXPECT_EQ(clock(65.9), "01:05");
  EXPECT_EQ(clock(3600), "60:00");
  EXPECT_EQ(clock(6005), "100:05");
  EXPECT_EQ(clock(1e300), clock(1e200)) << "huge values are capped";
}

}  // namespace
}  // namespace vantry
