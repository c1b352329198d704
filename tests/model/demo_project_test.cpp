// The built-in demonstration project.
#include <gtest/gtest.h>

#include <cmath>

#include "localization/app_language.h"
#include "model/demo_project.h"
#include "model/motion_timeline.h"

namespace vantry {
namespace {

TEST(DemoProject, ClipFields) {
  const Clip clip = makeDemoClip();
  EXPECT_EQ(clip.duration, 16);
  EXPECT_TRUE(clip.isDemo);
  EXPECT_EQ(clip.width, 1920);
  EXPECT_EQ(clip.height, 1080);
  EXPECT_FALSE(clip.screenPath || clip.cameraPath || clip.audioPath);
  EXPECT_FALSE(clip.cameraOffset || clip.audioOffset || clip.cameraSyncAdjustment);
  EXPECT_FALSE(clip.keptRanges || clip.presenterEvents || clip.zoomEventsOverride ||
               clip.savedSettings);
}

TEST(DemoProject, ScriptedPointerPath) {
  const Clip clip = makeDemoClip();
  ASSERT_EQ(clip.samples.size(), 961u);
  for (std::size_t i = 0; i < clip.samples.size(); ++i) {
    ASSERT_EQ(clip.samples[i].time, static_cast<double>(i) / 60) << i;
  }
  EXPECT_EQ(clip.samples[0].x, 0.32);
  EXPECT_EQ(clip.samples[0].y, 0.22);
  EXPECT_EQ(clip.samples[960].time, 16);
  EXPECT_EQ(clip.samples[960].x, 0.49);
  EXPECT_EQ(clip.samples[960].y, 0.53);

  // Halfway between keyframes 2 (2.1 s) and 3 (3.7 s) in time: their midpoint.
  EXPECT_NEAR(clip.samples[174].x, 0.53, 1e-12);
  EXPECT_NEAR(clip.samples[174].y, 0.415, 1e-12);

  // Rests where neighbouring keyframes share a position.
  for (int i = 312; i <= 390; ++i) {
    ASSERT_NEAR(clip.samples[i].x, 0.76, 1e-12) << i;
    ASSERT_NEAR(clip.samples[i].y, 0.63, 1e-12) << i;
  }
  // Moves start gently: smoothstep has no jump at a keyframe.
  EXPECT_NEAR(clip.samples[73].x, 0.32, 1e-4);
}

TEST(DemoProject, FourClicksAtTheirRestPositions) {
  const Clip clip = makeDemoClip();
  std::vector<std::size_t> clicked;
  for (std::size_t i = 0; i < clip.samples.size(); ++i) {
    if (clip.samples[i].clicked) clicked.push_back(i);
  }
  ASSERT_EQ(clicked, (std::vector<std::size_t>{72, 222, 390, 630}));
  const double positions[4][2] = {{0.32, 0.22}, {0.68, 0.43}, {0.76, 0.63}, {0.70, 0.33}};
  for (int k = 0; k < 4; ++k) {
    EXPECT_NEAR(clip.samples[clicked[k]].x, positions[k][0], 1e-12);
    EXPECT_NEAR(clip.samples[clicked[k]].y, positions[k][1], 1e-12);
  }
  // The automatic zooms come from these clicks: each of the next three falls within the
  // hold of the one before, so two events remain.
  const auto events = clip.zoomEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].start, 72 / 60.0);
  EXPECT_NEAR(events[0].end, 6.5 + 2.3 + 0.65, 1e-12);
  EXPECT_EQ(events[1].start, 630 / 60.0);
  EXPECT_NEAR(events[1].end, 10.5 + 2.3 + 0.65, 1e-12);
  const MotionTimeline motion(clip, {});
  EXPECT_EQ(motion.frames.size(), 961u);
  EXPECT_EQ(motion.frames[72].pulse, 0);
  EXPECT_GT(motion.frames[200].zoom, 1.5);
}

TEST(DemoProject, NewIdEachCallAndTitleInTheInterfaceLanguage) {
  const AppLanguage saved = currentLanguage();
  setCurrentLanguage(AppLanguage::english);
  const Clip a = makeDemoClip();
  const Clip b = makeDemoClip();
  EXPECT_NE(a.id, b.id);
  EXPECT_EQ(a.title, "Let the camera guide your focus");
  EXPECT_EQ(a.title, b.title);
  for (std::size_t i = 0; i < a.samples.size(); ++i) {
    ASSERT_EQ(a.samples[i].x, b.samples[i].x);
    ASSERT_EQ(a.samples[i].y, b.samples[i].y);
    ASSERT_EQ(a.samples[i].clicked, b.samples[i].clicked);
  }
  setCurrentLanguage(AppLanguage::chinese);
  EXPECT_EQ(makeDemoClip().title, "把注意力，交给镜头");
  setCurrentLanguage(saved);
}

}  // namespace
}  // namespace vantry
