// vantry-tool timeline and the offscreen card: the geometry JSON and the pictures.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>

#include <nlohmann/json.hpp>

#include "localization/qt/language_settings.h"
#include "model/demo_project.h"
#include "model/timeline_scale.h"
#include "studio/studio.h"
#include "support/shell.h"
#include "support/temp_dir.h"
#include "timeline/timeline_geometry.h"
#include "timeline/timeline_render.h"
#include "timeline/timeline_toolbar.h"

namespace vantry {
namespace {

using nlohmann::json;

test::CommandRun tool(const std::string& args) {
  return test::runShell(std::string("ASAN_OPTIONS=detect_leaks=0 ") + VANTRY_TOOL_PATH +
                        " timeline " + args + " 2>/dev/null");
}

TEST(TimelineTool, PrintsTheDemoGeometry) {
  // The demonstration project: 16 s, one segment, zooms from 1.2 s to 9.43 s and from
  // 10.5 s to 13.45 s.
  const auto run = tool("--demo --zoom 1 --width 300 --ghost 10");
  ASSERT_EQ(run.status, 0);
  const json out = json::parse(run.out);
  EXPECT_EQ(out["pointsPerSecond"], 8);
  EXPECT_EQ(out["width"], 276);  // 16 s at 8 points is 128: the visible width wins
  ASSERT_EQ(out["segments"].size(), 1u);
  EXPECT_EQ(out["segments"][0]["x"], 1);
  EXPECT_EQ(out["segments"][0]["width"], 126);
  ASSERT_EQ(out["zoomBlocks"].size(), 2u);
  EXPECT_EQ(out["zoomBlocks"][0]["handles"], json::array({"leading", "trailing"}));
  EXPECT_FALSE(out["presenterBlocks"][0]["full"]);
  // The ghost at 10 s is cut at the next zoom (10.5 s): 3 points, widened to 6.
  ASSERT_TRUE(out["ghost"].is_object());
  EXPECT_EQ(out["ghost"]["x"], 80);
  EXPECT_EQ(out["ghost"]["width"], 6);
  EXPECT_EQ(out["ghost"]["label"], false);
  // Ticks: minor every 2 s, labelled majors every 10 s.
  std::vector<std::string> labels;
  for (const auto& t : out["ticks"])
    if (t["major"]) labels.push_back(t["label"]);
  EXPECT_EQ(labels, (std::vector<std::string>{"0s", "10s"}));

  EXPECT_TRUE(json::parse(tool("--demo --ghost 3").out)["ghost"].is_null());  // inside a zoom
}

TEST(TimelineTool, RefusesBadArgumentsAndRendersTheCard) {
  EXPECT_EQ(tool("").status, 64);
  EXPECT_EQ(tool("--demo --zoom 40").status, 64);
  EXPECT_EQ(tool("--demo --zoom x").status, 64);
  EXPECT_EQ(tool("--demo extra").status, 64);
  EXPECT_EQ(tool("/nonexistent/project.json").status, 1);

  const test::TempDir dir;
  const std::string png = (dir.path / "card.png").string();
  ASSERT_EQ(tool("--demo --width 900 --png " + png).status, 0);
  const QImage image(QString::fromStdString(png));
  ASSERT_FALSE(image.isNull());
  EXPECT_GT(image.width(), 900);
  EXPECT_GT(image.height(), 200);
}

}  // namespace
}  // namespace vantry

namespace vantry::timeline {
namespace {

TEST(TimelineShots, EachStateRendersItsOwnPicture) {
  const Clip demo = makeDemoClip();
  const auto shots = cardShots(demo);
  ASSERT_EQ(shots.size(), 4u);
  ASSERT_TRUE(shots[2].state.ghost);
  // The ghost's time lies in free space, so the shot really shows one.
  EXPECT_TRUE(ghostAt(*shots[2].state.ghost, demo.zoomBlocks(), demo.editedDuration(),
                      TimelineScale::pixelsPerSecond(shots[2].state.zoom), Studio::newZoomLength));
  std::vector<QImage> images;
  for (const CardShot& shot : shots) {
    images.push_back(renderCard(demo, shot.state, 900, 2));
    EXPECT_EQ(images.back().width(), (900 + 48) * 2) << shot.name;
  }
  for (std::size_t i = 1; i < images.size(); ++i)
    EXPECT_NE(images[i], images[i - 1]) << shots[i].name;
}

// A block too narrow for its magnification leaves it out rather than cut it ("2." would
// read as another number): 1.25× and 3.5× paint alike there, and differently when wide.
TEST(TimelineShots, ANarrowZoomBlockNeverShowsACutNumber) {
  auto card = [](double amount, double seconds) {
    Clip clip;
    clip.title = "t";
    clip.duration = 30;
    clip.zoomEventsOverride =
        std::vector<ZoomEvent>{{Uuid::random(), 2, 2 + seconds, {0.5, 0.5}, amount}};
    clip.presenterEvents = std::vector<PresenterEvent>{};
    CardState state;
    state.zoom = 1;  // 8 points a second
    state.selectedZoom = 0;
    return renderCard(clip, state, 600, 1);
  };
  // 43 points: past the 40 at which a block tries its magnification, too narrow for it.
  auto samePixels = [](const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return false;
    for (int y = 0; y < a.height(); ++y)
      for (int x = 0; x < a.width(); ++x)
        if (a.pixel(x, y) != b.pixel(x, y)) return false;
    return true;
  };
  EXPECT_TRUE(samePixels(card(1.25, 5.5), card(3.5, 5.5)));
  EXPECT_FALSE(samePixels(card(1.25, 12), card(3.5, 12)));
}

// A narrow card shortens the title with an ellipsis instead of cutting it to "C".
TEST(TimelineShots, ANarrowToolbarElidesItsTitle) {
  LanguageSettings::shared().setSelected(AppLanguage::english);
  TimelineToolbar toolbar;
  toolbar.resize(toolbar.sizeHint());
  toolbar.show();
  QCoreApplication::processEvents();
  EXPECT_EQ(toolbar.shownTitle(), "Camera Timeline");
  toolbar.resize(toolbar.minimumSizeHint().width() + 30, toolbar.height());
  QCoreApplication::processEvents();
  const QString shown = toolbar.shownTitle();
  ASSERT_TRUE(shown.endsWith(QStringLiteral("…"))) << shown.toStdString();
  EXPECT_TRUE(QString("Camera Timeline").startsWith(shown.chopped(1))) << shown.toStdString();
}

}  // namespace
}  // namespace vantry::timeline
