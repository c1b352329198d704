#include <gtest/gtest.h>

#include "fakes.h"
#include "localization/localization.h"

namespace vantry {
namespace {

using testing::Harness;

TEST(StudioConstruction, StartsInLivePreviewWithTheDemonstration) {
  Harness h;
  Studio studio(h.services());
  EXPECT_TRUE(studio.live());
  EXPECT_TRUE(studio.previewing());
  EXPECT_FALSE(studio.canStartRecording());
  EXPECT_TRUE(studio.hasCamera());
  EXPECT_FALSE(studio.presenterFull());
  EXPECT_EQ(studio.state(), FrameState());
  EXPECT_EQ(studio.time(), 0);
  EXPECT_TRUE(studio.clip().isDemo);
  EXPECT_EQ(studio.selectedDisplay(), 7u);
  EXPECT_EQ(studio.notice(), L("实时预览 · 点击开始录屏后才会保存视频"));
}

}  // namespace
}  // namespace vantry
