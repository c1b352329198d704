#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

#include "model/clip.h"
#include "model/frame_state.h"
#include "render/composition_geometry.h"
#include "render/export_options.h"
#include "render/movie_exporter.h"
#include "render/sound_placement.h"
#include "render/video_color.h"

namespace vantry {
namespace {

using O = ExportOptions;

O make(O::Quality q, O::Resolution r, O::FrameRate f, O::Encoding e) {
  O o;
  o.quality = q;
  o.resolution = r;
  o.framesPerSecond = f;
  o.encoding = e;
  return o;
}

TEST(ExportOptions, BitRatesFromTheTable) {
  struct Row {
    O::Quality q;
    O::Resolution r;
    int64_t rates[4];  // h264@30, h264@60, hevc@30, hevc@60
  };
  const Row rows[] = {
      {O::Quality::balanced, O::Resolution::p1080, {4'000'000, 6'000'000, 2'600'000, 3'900'000}},
      {O::Quality::compact, O::Resolution::p720, {1'306'754, 1'960'131, 849'390, 1'274'085}},
      {O::Quality::high, O::Resolution::p2160, {24'251'465, 36'377'197, 15'763'452, 23'645'178}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(make(row.q, row.r, O::FrameRate::fps30, O::Encoding::h264).bitRate(), row.rates[0]);
    EXPECT_EQ(make(row.q, row.r, O::FrameRate::fps60, O::Encoding::h264).bitRate(), row.rates[1]);
    EXPECT_EQ(make(row.q, row.r, O::FrameRate::fps30, O::Encoding::hevc).bitRate(), row.rates[2]);
    EXPECT_EQ(make(row.q, row.r, O::FrameRate::fps60, O::Encoding::hevc).bitRate(), row.rates[3]);
  }
}

TEST(ExportOptions, DefaultsLegacyAndSizes) {
  const O o;
  EXPECT_EQ(o.bitRate(), 6'000'000);
  EXPECT_EQ(o.summary(), "1920 × 1080 · 60 fps · MP4 · H.264");
  EXPECT_EQ(o.fileExtension(), "mp4");
  EXPECT_EQ(o.keyFrameInterval(), 120);
  O legacy = O::legacy;
  EXPECT_NE(o, legacy);
  legacy.resolution = O::Resolution::p720;
  legacy.encoding = O::Encoding::hevc;
  EXPECT_EQ(legacy.bitRate(), 10'000'000);
  O big;
  big.resolution = O::Resolution::p2160;
  EXPECT_EQ(big.width(), 3840);
  EXPECT_EQ(label(O::Resolution::p2160), "4K · 2160p");
  EXPECT_EQ(label(O::Resolution::p720), "720p");
  EXPECT_FALSE(resolutionFromRaw(900));
  EXPECT_FALSE(qualityFromRaw("balanced"));
  EXPECT_EQ(qualityFromRaw("均衡（推荐）"), O::Quality::balanced);
  O mov = make(O::Quality::balanced, O::Resolution::p1440, O::FrameRate::fps30, O::Encoding::hevc);
  mov.format = O::Format::mov;
  EXPECT_EQ(mov.summary(), "2560 × 1440 · 30 fps · MOV · HEVC");
  EXPECT_EQ(mov.fileExtension(), "mov");
  EXPECT_EQ(mov.keyFrameInterval(), 60);
}

TEST(ExportOptions, WriterSettings) {
  unsetenv("VANTRY_EXPORT_ENCODER");
  const VideoTrackSettings h264 = O().writerSettings();
  EXPECT_EQ(h264.width, 1920);
  EXPECT_EQ(h264.height, 1080);
  EXPECT_EQ(h264.frameRate, 60);
  EXPECT_EQ(h264.averageBitRate, 6'000'000);
  EXPECT_EQ(h264.keyFrameInterval, 120);
  EXPECT_GT(h264.maxBFrames, 0);
  EXPECT_EQ(h264.encoderOptions.at("profile"), "high");
  // A bounded number of encoder threads, whatever the number of cores.
  const int threads = std::atoi(h264.encoderOptions.at("threads").c_str());
  EXPECT_GE(threads, 1);
  EXPECT_LE(threads, 16);
  EXPECT_EQ(h264.encoderOptions.count("x264-params"), 0u);
  // libx264's look-ahead is shortened where its frames are large.
  EXPECT_EQ(make(O::Quality::balanced, O::Resolution::p2160, O::FrameRate::fps60, O::Encoding::h264)
                .writerSettings()
                .encoderOptions.at("x264-params"),
            "rc-lookahead=20");
  EXPECT_EQ(h264.encoders.back(), "libx264");  // software last, after any hardware encoder
  EXPECT_EQ(h264.primaries, AVCOL_PRI_BT709);
  EXPECT_EQ(h264.transfer, AVCOL_TRC_IEC61966_2_1);
  EXPECT_EQ(h264.matrix, AVCOL_SPC_BT709);
  const VideoTrackSettings hevc =
      make(O::Quality::high, O::Resolution::p2160, O::FrameRate::fps30, O::Encoding::hevc)
          .writerSettings();
  EXPECT_EQ(hevc.encoderOptions.count("profile"), 0u);
  EXPECT_EQ(hevc.codecTag, "hvc1");
  EXPECT_EQ(hevc.keyFrameInterval, 60);
  EXPECT_EQ(hevc.averageBitRate, 15'763'452);
  EXPECT_EQ(hevc.encoders.back(), "libx265");
  setenv("VANTRY_EXPORT_ENCODER", "h264_nvenc", 1);
  EXPECT_EQ(O().encoders(), std::vector<std::string>{"h264_nvenc"});
  unsetenv("VANTRY_EXPORT_ENCODER");
}

TEST(ExportOptions, SizeEstimates) {
  EXPECT_EQ(O().estimatedBytes(60), 47'368'800);
  EXPECT_EQ(O::legacy.estimatedBytes(60), 77'968'800);
  for (double bad : {0.0, -1.0, std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::quiet_NaN()})
    EXPECT_EQ(O().estimatedBytes(bad), 0);
  EXPECT_EQ(O().estimatedBytes(1e300), std::numeric_limits<int64_t>::max());
}

TEST(ExportOptions, FrameCountsWithTolerance) {
  EXPECT_EQ(MovieExporter::frameCount(1.0, 60), 60);
  EXPECT_EQ(MovieExporter::frameCount(1.001, 60), 61);
  EXPECT_EQ(MovieExporter::frameCount(0, 60), 1);
  EXPECT_EQ(MovieExporter::frameCount(-3, 30), 1);
  // 0.3 * 60 = 18.000000000000004 in binary: still 18 frames.
  EXPECT_EQ(MovieExporter::frameCount(0.3, 60), 18);
  EXPECT_EQ(MovieExporter::frameCount(20.0 / 60.0, 60), 20);
  // Durations past any integer: a day of frames, not one frame and not undefined.
  EXPECT_EQ(MovieExporter::frameCount(1e300, 60), 24LL * 3600 * 60);
  EXPECT_EQ(MovieExporter::frameCount(std::numeric_limits<double>::infinity(), 30),
            24LL * 3600 * 30);
  EXPECT_EQ(MovieExporter::frameCount(std::numeric_limits<double>::quiet_NaN(), 30), 1);
}

void expectRect(const QRectF& r, double x, double y, double w, double h) {
  EXPECT_NEAR(r.x(), x, 0.01);
  EXPECT_NEAR(r.y(), y, 0.01);
  EXPECT_NEAR(r.width(), w, 0.01);
  EXPECT_NEAR(r.height(), h, 0.01);
}

TEST(CompositionGeometry, ScreenRectanglesAndRadii) {
  EditSettings s;
  expectRect(CompositionGeometry::screenRect(16.0 / 9, s), 51.2, 28.8, 1817.6, 1022.4);
  EXPECT_DOUBLE_EQ(CompositionGeometry::screenRadius(s), 20);
  expectRect(CompositionGeometry::screenRect(16.0 / 10, s), 142.08, 28.8, 1635.84, 1022.4);
  s.padding = 0;
  const QRectF bleed = CompositionGeometry::screenRect(4.0 / 3, s);
  expectRect(bleed, 0, -180, 1920, 1440);
  expectRect(CompositionGeometry::screenClip(bleed), 0, 0, 1920, 1080);
  EXPECT_DOUBLE_EQ(CompositionGeometry::screenRadius(s), 0);
  s.padding = 0.005;
  EXPECT_NEAR(CompositionGeometry::screenRadius(s), 6.72, 1e-9);
  s.padding = 0.05;
  expectRect(CompositionGeometry::screenRect(16.0 / 9, s), 170.67, 96, 1578.67, 888);
  EXPECT_DOUBLE_EQ(CompositionGeometry::screenRadius(s), 20);
  s.padding = -0.1;
  EXPECT_TRUE(CompositionGeometry::fullBleed(s));
  expectRect(CompositionGeometry::screenRect(16.0 / 9, s), 0, 0, 1920, 1080);
}

TEST(CompositionGeometry, ZoomedSourceRectAndPalettes) {
  const QRectF r(51.2, 28.8, 1817.6, 1022.4);
  FrameState neutral;
  EXPECT_EQ(CompositionGeometry::sourceRect(r, neutral), r);
  FrameState zoomed;
  zoomed.zoom = 2;
  zoomed.center = {0.25, 0.25};
  const QRectF s = CompositionGeometry::sourceRect(r, zoomed);
  EXPECT_NEAR(s.x(), r.x(), 1e-9);
  EXPECT_NEAR(s.y(), r.y(), 1e-9);
  EXPECT_NEAR(s.width(), 2 * r.width(), 1e-9);
  EXPECT_EQ(CompositionGeometry::palette(-4), CompositionGeometry::palettes[0]);
  EXPECT_EQ(CompositionGeometry::palette(5), CompositionGeometry::palettes[2]);
  const QColor c = VideoColor::fromHex(0xFF4A85FF, 1);
  EXPECT_EQ(c.red(), 74);
  EXPECT_EQ(c.green(), 133);
  EXPECT_EQ(c.blue(), 255);
  // The gradient runs from the first colour at the top left to the last at the bottom right.
  const QImage bg = CompositionGeometry::background(1);
  EXPECT_EQ(bg.size(), QSize(1920, 1080));
  EXPECT_LE(std::abs(bg.pixelColor(0, 0).red() - 0x16), 2);
  EXPECT_LE(std::abs(bg.pixelColor(1919, 1079).blue() - 0xBF), 2);
}

TEST(SoundPlacement, PiecesFollowOffsetsAndCuts) {
  Clip clip;
  clip.duration = 20;
  clip.audioOffset = 0.5;
  clip.keptRanges = std::vector<SourceRange>{{Uuid::random(), 2, 4}};
  auto pieces = soundPieces(clip, 10);
  ASSERT_EQ(pieces.size(), 1u);
  EXPECT_DOUBLE_EQ(pieces[0].read, 2.5);
  EXPECT_DOUBLE_EQ(pieces[0].length, 2);
  EXPECT_DOUBLE_EQ(pieces[0].at, 0);

  clip.audioOffset = -1;
  clip.keptRanges = std::vector<SourceRange>{{Uuid::random(), 0, 3}};
  pieces = soundPieces(clip, 2);
  ASSERT_EQ(pieces.size(), 1u);
  EXPECT_DOUBLE_EQ(pieces[0].read, 0);
  EXPECT_DOUBLE_EQ(pieces[0].length, 2);
  EXPECT_DOUBLE_EQ(pieces[0].at, 1);

  clip.audioOffset.reset();
  clip.keptRanges = std::vector<SourceRange>{
      {Uuid::random(), 0, 4}, {Uuid::random(), 8, 15}, {Uuid::random(), 16, 18}};
  pieces = soundPieces(clip, 10);
  ASSERT_EQ(pieces.size(), 2u);  // the range after the sound's end adds nothing
  EXPECT_DOUBLE_EQ(pieces[1].read, 8);
  EXPECT_DOUBLE_EQ(pieces[1].length, 2);
  EXPECT_DOUBLE_EQ(pieces[1].at, 4);
}

}  // namespace
}  // namespace vantry
