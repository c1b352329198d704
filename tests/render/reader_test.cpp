#include <gtest/gtest.h>

#include "localization/localization.h"
#include "movie_fixtures.h"
#include "render/video_frames.h"

namespace vantry {
namespace {

using testing::TempDir;

class VideoFramesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    testing::makeIndexedMovie(dir_->file("indexed.mp4"), 90, 60);
    testing::makeToneSound(dir_->file("sound.m4a"), 1, {0.2});
  }
  static void TearDownTestSuite() { delete dir_; }
  static int indexAt(VideoFrames& frames, double t) {
    auto image = frames.image(t);
    EXPECT_TRUE(image);
    return image ? testing::readIndex(*image, image->rect()) : -1;
  }
  static TempDir* dir_;
};

TempDir* VideoFramesTest::dir_ = nullptr;

TEST_F(VideoFramesTest, SequentialRequestsDecodeForwardWithoutSeeking) {
  VideoFrames frames(dir_->file("indexed.mp4"));
  EXPECT_EQ(frames.width(), 320);
  const int seeksAfterOpen = frames.seeks();
  for (int i = 0; i < 60; ++i)
    EXPECT_EQ(indexAt(frames, i / 60.0), i);
  EXPECT_EQ(frames.seeks(), seeksAfterOpen + 1);  // only the first request re-seeks
  EXPECT_EQ(frames.conversions(), 60);
  // The same picture asked twice is the same image, not converted again.
  auto a = frames.image(59 / 60.0);
  auto b = frames.frame(59 / 60.0);
  EXPECT_EQ(a->constBits(), b->constBits());
  EXPECT_EQ(frames.conversions(), 60);
}

TEST_F(VideoFramesTest, SeekThresholds) {
  VideoFrames frames(dir_->file("indexed.mp4"));
  EXPECT_EQ(indexAt(frames, 0.5), 30);
  int seeks = frames.seeks();
  EXPECT_EQ(indexAt(frames, 0.5 - 0.0005), 30);  // half a millisecond back: no seek
  EXPECT_EQ(frames.seeks(), seeks);
  EXPECT_EQ(indexAt(frames, 0.4), 24);  // well back: seeks
  EXPECT_EQ(frames.seeks(), seeks + 1);
  seeks = frames.seeks();
  const int conversions = frames.conversions();
  EXPECT_EQ(indexAt(frames, 0.9), 54);  // 0.5 s ahead: walks, converts only the last frame
  EXPECT_EQ(frames.seeks(), seeks);
  EXPECT_EQ(frames.conversions(), conversions + 1);
  EXPECT_EQ(indexAt(frames, 0.01), 0);
  seeks = frames.seeks();
  EXPECT_EQ(indexAt(frames, 0.95), 57);  // 0.94 s ahead: seeks
  EXPECT_EQ(frames.seeks(), seeks + 1);
  // Past the end: the last frame, however far.
  EXPECT_EQ(indexAt(frames, 1.6), 89);
  EXPECT_EQ(indexAt(frames, 30), 89);
}

TEST_F(VideoFramesTest, SoundOnlyFileHasNoVideoTrack) {
  try {
    VideoFrames frames(dir_->file("sound.m4a"));
    FAIL() << "opened a file without pictures";
  } catch (const std::exception& e) {
    EXPECT_EQ(e.what(), L("视频文件没有画面轨道。"));
  }
  EXPECT_THROW(VideoFrames(dir_->file("missing.mp4")), std::exception);
}

}  // namespace
}  // namespace vantry
