#include <gtest/gtest.h>

#include <QTransform>
#include <set>
#include <thread>
#include "localization/localization.h"
#include "localization/user_message.h"

#include "movie_fixtures.h"
#include "platform/ffmpeg/ff_util.h"
#include "platform/ffmpeg/movie_writer.h"

extern "C" {
#include <libavutil/display.h>
}
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
  // Colours come back through the BT.709 matrix: the mid-grey background stays mid-grey.
  const QColor grey = frames.image(59 / 60.0)->pixelColor(2, 2);
  EXPECT_NEAR(grey.red(), 128, 3);
  EXPECT_NEAR(grey.green(), 128, 3);
  EXPECT_NEAR(grey.blue(), 128, 3);
  // The same picture asked twice is the same image, not converted again.
  auto a = frames.image(59 / 60.0);
  auto b = frames.frame(59 / 60.0);
  EXPECT_EQ(a->constBits(), b->constBits());
  EXPECT_EQ(frames.conversions(), 60);
}

// Converted pictures reuse their buffers, yet each new picture has a new cache key: the
// compositors keep the last screen and camera picture's work by that key.
TEST_F(VideoFramesTest, EachPictureHasItsOwnCacheKey) {
  VideoFrames frames(dir_->file("indexed.mp4"));
  std::set<qint64> keys;
  std::set<const uchar*> buffers;
  for (int i = 0; i < 12; ++i) {
    const std::optional<QImage> image = frames.image(i / 60.0);
    ASSERT_TRUE(image);
    EXPECT_TRUE(keys.insert(image->cacheKey()).second) << "frame " << i;
    buffers.insert(image->constBits());
    EXPECT_EQ(frames.image(i / 60.0)->cacheKey(), image->cacheKey());
  }
  EXPECT_LT(buffers.size(), 12u);  // the buffers did come round again
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

TEST_F(VideoFramesTest, AStreamTaggedBt601IsReadWithItsMatrix) {
  // A pure red movie from elsewhere, converted and tagged with the BT.601 matrix; read
  // with the BT.709 one it would come back as (255, 23, 0).
  const std::string path = dir_->file("bt601.mp4");
  MovieWriterSettings s;
  s.path = path;
  s.crashSafe = false;
  VideoTrackSettings v;
  v.width = 64;
  v.height = 64;
  v.frameRate = 30;
  v.encoderOptions = {{"preset", "ultrafast"}, {"qp", "0"}};
  v.primaries = AVCOL_PRI_SMPTE170M;
  v.transfer = AVCOL_TRC_SMPTE170M;
  v.matrix = AVCOL_SPC_SMPTE170M;
  s.video = v;
  MovieWriter writer(s);
  ASSERT_TRUE(writer.start()) << writer.error();
  auto red = std::make_shared<QImage>(64, 64, QImage::Format_ARGB32_Premultiplied);
  red->fill(QColor(255, 0, 0));
  VideoFrameView view;
  view.data = red->constBits();
  view.width = view.height = 64;
  view.stride = static_cast<int>(red->bytesPerLine());
  view.owner = red;
  ASSERT_TRUE(writer.appendVideo(view, 0, {}, true));
  ASSERT_TRUE(writer.finish()) << writer.error();
  EXPECT_EQ(testing::probeMovie(path).matrix, AVCOL_SPC_SMPTE170M);

  VideoFrames frames(path);
  const QColor c = frames.image(0)->pixelColor(32, 32);
  EXPECT_GE(c.red(), 250);
  EXPECT_LE(c.green(), 6);
  EXPECT_LE(c.blue(), 6);
}

// Copies a movie, marking its video as shown turned a quarter clockwise.
void rotatedCopy(const std::string& from, const std::string& to) {
  ff::InputFormatPtr in = ff::openInput(from);
  ASSERT_TRUE(in);
  AVFormatContext* raw = nullptr;
  ASSERT_GE(avformat_alloc_output_context2(&raw, nullptr, "mp4", to.c_str()), 0);
  ff::OutputFormatPtr out(raw);
  AVStream* st = avformat_new_stream(out.get(), nullptr);
  ASSERT_GE(avcodec_parameters_copy(st->codecpar, in->streams[0]->codecpar), 0);
  st->codecpar->codec_tag = 0;
  st->time_base = in->streams[0]->time_base;
  auto* matrix = reinterpret_cast<int32_t*>(
      av_stream_new_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t)));
  ASSERT_TRUE(matrix);
  av_display_rotation_set(matrix, 90);  // shown turned a quarter clockwise
  ASSERT_GE(avio_open(&out->pb, to.c_str(), AVIO_FLAG_WRITE), 0);
  ASSERT_GE(avformat_write_header(out.get(), nullptr), 0);
  ff::PacketPtr pkt = ff::makePacket();
  while (av_read_frame(in.get(), pkt.get()) >= 0) {
    av_packet_rescale_ts(pkt.get(), in->streams[0]->time_base, st->time_base);
    pkt->stream_index = 0;
    ASSERT_GE(av_interleaved_write_frame(out.get(), pkt.get()), 0);
  }
  ASSERT_GE(av_write_trailer(out.get()), 0);
  avio_closep(&out->pb);
}

TEST_F(VideoFramesTest, DisplayRotationIsApplied) {
  rotatedCopy(dir_->file("indexed.mp4"), dir_->file("rotated.mp4"));
  VideoFrames frames(dir_->file("rotated.mp4"));
  auto image = frames.image(5 / 60.0);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->size(), QSize(180, 320));
  // Turned clockwise, the blocks run top to bottom: read them from a rotated-back copy.
  const QImage back = image->transformed(QTransform().rotate(-90));
  EXPECT_EQ(testing::readIndex(back, back.rect()), 5);
}

// The export samples plain 4:2:0 pictures where the decoder left them; a turned one comes
// converted. A picture handed out as planes is still there as an image.
TEST_F(VideoFramesTest, PicturesForTheExport) {
  VideoFrames frames(dir_->file("indexed.mp4"));
  for (int i = 0; i < 5; ++i) {
    const VideoFrames::Picture p = frames.picture(i / 60.0);
    ASSERT_TRUE(p.planes);
    EXPECT_FALSE(p.image);
    EXPECT_EQ(p.planes->width, 320);
    EXPECT_EQ(p.planes->format, AV_PIX_FMT_YUV420P);
  }
  EXPECT_EQ(frames.conversions(), 0);
  EXPECT_EQ(indexAt(frames, 4 / 60.0), 4);
  EXPECT_EQ(frames.conversions(), 1);
  EXPECT_EQ(indexAt(frames, 5 / 60.0), 5);

  rotatedCopy(dir_->file("indexed.mp4"), dir_->file("turned.mp4"));
  VideoFrames turned(dir_->file("turned.mp4"));
  const VideoFrames::Picture p = turned.picture(5 / 60.0);
  EXPECT_FALSE(p.planes);
  ASSERT_TRUE(p.image);
  EXPECT_EQ(p.image->size(), QSize(180, 320));
}

// The export caps its decoders' threads (each frame thread holds pictures): the cap reaches
// the decoder, and a frame-threaded decoder's delay loses no picture, to the very last.
TEST_F(VideoFramesTest, DecoderThreadCap) {
  for (int threads : {1, 2, 3}) {
    VideoFrames frames(dir_->file("indexed.mp4"), threads);
    EXPECT_EQ(frames.decoderThreads(), threads);
    for (int i : {0, 1, 2, 3, 45, 88, 89})
      EXPECT_EQ(indexAt(frames, i / 60.0), i) << threads << " threads, frame " << i;
  }
  if (std::thread::hardware_concurrency() > 2)
    EXPECT_GT(VideoFrames(dir_->file("indexed.mp4")).decoderThreads(), 2);
}

TEST_F(VideoFramesTest, PicturesThatChangeSizePartWay) {
  // 30 small frames, then the 90-frame movie at twice the size, in one stream.
  testing::makeIndexedMovie(dir_->file("small.mp4"), 30, 60, 160, 90);
  ff::InputFormatPtr first = ff::openInput(dir_->file("small.mp4"));
  ff::InputFormatPtr second = ff::openInput(dir_->file("indexed.mp4"));
  ASSERT_TRUE(first && second);
  const std::string joined = dir_->file("joined.mp4");
  AVFormatContext* raw = nullptr;
  ASSERT_GE(avformat_alloc_output_context2(&raw, nullptr, "mp4", joined.c_str()), 0);
  ff::OutputFormatPtr out(raw);
  AVStream* st = avformat_new_stream(out.get(), nullptr);
  ASSERT_GE(avcodec_parameters_copy(st->codecpar, first->streams[0]->codecpar), 0);
  st->codecpar->codec_tag = 0;
  st->time_base = AVRational{1, 600};
  ASSERT_GE(avio_open(&out->pb, joined.c_str(), AVIO_FLAG_WRITE), 0);
  ASSERT_GE(avformat_write_header(out.get(), nullptr), 0);
  ff::PacketPtr pkt = ff::makePacket();
  int64_t shift = 0;
  for (AVFormatContext* in : {first.get(), second.get()}) {
    int64_t end = 0;
    while (av_read_frame(in, pkt.get()) >= 0) {
      av_packet_rescale_ts(pkt.get(), in->streams[0]->time_base, st->time_base);
      pkt->pts += shift;
      pkt->dts += shift;
      end = std::max(end, pkt->pts + 10);
      pkt->stream_index = 0;
      ASSERT_GE(av_interleaved_write_frame(out.get(), pkt.get()), 0);
    }
    shift = end;
  }
  ASSERT_GE(av_write_trailer(out.get()), 0);
  avio_closep(&out->pb);

  VideoFrames frames(joined);
  for (int i = 0; i < 60; i += 3) {
    auto image = frames.image(i / 60.0);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), i < 30 ? QSize(160, 90) : QSize(320, 180)) << i;
    // (The join's timestamps are rounded to 1/600 s: allow one frame in the second part.)
    EXPECT_NEAR(testing::readIndex(*image, image->rect()), i < 30 ? i : i - 30, i < 30 ? 0 : 1)
        << i;
  }
}

// A picture shown at most half as wide comes halved, each pixel the mean of its 2 x 2 block;
// the same moment asked for at full size is converted again from the decoded planes, without
// decoding. A width whose half is odd halves its chroma with a last block of one column.
TEST_F(VideoFramesTest, APictureShownSmallComesHalved) {
  VideoFrames frames(dir_->file("indexed.mp4"));
  EXPECT_EQ(frames.image(7 / 60.0, 161)->size(), QSize(320, 180));  // more than half: whole
  const QImage half = *frames.image(8 / 60.0, 160);
  ASSERT_EQ(half.size(), QSize(160, 90));
  EXPECT_EQ(testing::readIndex(half, half.rect()), 8);
  const int seeks = frames.seeks(), conversions = frames.conversions();
  const QImage whole = *frames.image(8 / 60.0);
  ASSERT_EQ(whole.size(), QSize(320, 180));
  EXPECT_EQ(frames.seeks(), seeks);
  EXPECT_EQ(frames.conversions(), conversions + 1);
  for (int y = 0; y < 90; y += 7)
    for (int x = 0; x < 160; x += 3) {
      int mean = 0;
      for (int k = 0; k < 4; ++k)
        mean += qGreen(whole.pixel(2 * x + k % 2, 2 * y + k / 2));
      ASSERT_NEAR(qGreen(half.pixel(x, y)), mean / 4, 3) << x << "," << y;
    }

  testing::makeIndexedMovie(dir_->file("narrow.mp4"), 10, 60, 326, 182);
  VideoFrames narrow(dir_->file("narrow.mp4"));
  const QImage small = *narrow.image(9 / 60.0, 100);
  ASSERT_EQ(small.size(), QSize(163, 91));
  EXPECT_EQ(testing::readIndex(small, small.rect()), 9);
  const QColor edge = small.pixelColor(162, 90);  // the mid-grey background
  EXPECT_NEAR(edge.red(), 128, 3);
  EXPECT_NEAR(edge.blue(), 128, 3);

  rotatedCopy(dir_->file("indexed.mp4"), dir_->file("turned-half.mp4"));
  EXPECT_EQ(VideoFrames(dir_->file("turned-half.mp4")).image(0, 90)->size(), QSize(90, 160));
}

TEST_F(VideoFramesTest, SoundOnlyFileHasNoVideoTrack) {
  try {
    VideoFrames frames(dir_->file("sound.m4a"));
    FAIL() << "opened a file without pictures";
  } catch (const std::exception& e) {
    EXPECT_EQ(e.what(), withReason(L("无法读取视频 {0}。", shownPath(dir_->file("sound.m4a"))),
                                   L("视频文件没有画面轨道。")));
  }
  EXPECT_THROW(VideoFrames(dir_->file("missing.mp4")), std::exception);
}

}  // namespace
}  // namespace vantry
