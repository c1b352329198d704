#include "movie_fixtures.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "platform/ffmpeg/audio_source.h"
#include "platform/ffmpeg/ff_util.h"
#include "platform/ffmpeg/movie_writer.h"
#include "platform/ffmpeg/video_reader.h"

namespace vantry::testing {

namespace fs = std::filesystem;

void makeIndexedMovie(const std::string& path, int frames, int fps, int width, int height) {
  MovieWriterSettings s;
  s.path = path;
  s.crashSafe = false;
  VideoTrackSettings v;
  v.width = width;
  v.height = height;
  v.frameRate = fps;
  v.keyFrameInterval = fps;
  v.averageBitRate = 2'000'000;
  // Parameter sets in every key frame, so that two such movies can be joined.
  v.encoderOptions = {{"preset", "ultrafast"}, {"qp", "0"}, {"x264-params", "repeat-headers=1"}};
  s.video = v;
  MovieWriter writer(s);
  ASSERT_TRUE(writer.start()) << writer.error();
  for (int i = 0; i < frames; ++i) {
    auto image = std::make_shared<QImage>(width, height, QImage::Format_ARGB32_Premultiplied);
    image->fill(QColor(128, 128, 128));
    QPainter p(image.get());
    const double bw = width / 8.0;
    for (int k = 0; k < 8; ++k) {
      p.fillRect(QRectF(k * bw + 2, height * 0.25, bw - 4, height * 0.5),
                 (i >> k) & 1 ? Qt::white : Qt::black);
    }
    p.end();
    VideoFrameView view;
    view.data = image->constBits();
    view.width = width;
    view.height = height;
    view.stride = static_cast<int>(image->bytesPerLine());
    view.format = AV_PIX_FMT_BGRA;
    view.owner = image;
    ASSERT_TRUE(writer.appendVideo(view, static_cast<double>(i) / fps, {}, true));
  }
  ASSERT_TRUE(writer.finish()) << writer.error();
}

int readIndex(const QImage& image, QRect area) {
  int index = 0;
  const double bw = area.width() / 8.0;
  for (int k = 0; k < 8; ++k) {
    const QColor c =
        image.pixelColor(static_cast<int>(area.x() + (k + 0.5) * bw), area.y() + area.height() / 2);
    if (c.lightness() > 192) index |= 1 << k;
  }
  return index;
}

void makeToneSound(const std::string& path, double seconds, const std::vector<double>& tones,
                   const std::string& container) {
  MovieWriterSettings s;
  s.path = path;
  s.container = container;
  s.crashSafe = false;
  s.audio = AudioTrackSettings{};
  MovieWriter writer(s);
  ASSERT_TRUE(writer.start()) << writer.error();
  const int rate = 48000;
  std::vector<float> samples(static_cast<size_t>(seconds * rate), 0.0f);
  for (double t : tones) {
    const size_t from = static_cast<size_t>(t * rate);
    for (size_t i = 0; i < static_cast<size_t>(0.08 * rate) && from + i < samples.size(); ++i)
      samples[from + i] = 0.6f * static_cast<float>(std::sin(2 * M_PI * 1000 * i / rate));
  }
  ASSERT_TRUE(writer.appendAudio(samples.data(), static_cast<int>(samples.size()), 0));
  ASSERT_TRUE(writer.finish()) << writer.error();
}

std::vector<double> toneOnsets(const std::string& path) {
  std::string error;
  auto source = AudioSource::open(path, 48000, &error);
  EXPECT_TRUE(source) << error;
  if (!source || !source->hasAudio()) return {};
  const int64_t total = static_cast<int64_t>((source->duration() + 0.5) * 48000);
  std::vector<float> chunk, mono;
  for (int64_t pos = 0; pos < total; pos += 48000) {
    EXPECT_TRUE(source->read(pos, 48000, chunk, &error)) << error;
    for (size_t i = 0; i < chunk.size(); i += source->channels())
      mono.push_back(chunk[i]);
  }
  return toneOnsets(mono, 48000);
}

std::vector<double> toneOnsets(const std::vector<float>& mono, int rate) {
  const size_t window = static_cast<size_t>(rate / 200);  // 5 ms
  std::vector<double> onsets;
  bool inTone = false;
  for (size_t pos = 0; pos + window <= mono.size(); pos += window) {
    double energy = 0;
    for (size_t i = pos; i < pos + window; ++i)
      energy += mono[i] * mono[i];
    const double rms = std::sqrt(energy / static_cast<double>(window));
    if (!inTone && rms > 0.2) {
      onsets.push_back(static_cast<double>(pos) / rate);
      inTone = true;
    } else if (inTone && rms < 0.05) {
      inTone = false;
    }
  }
  return onsets;
}

MovieInfo probeMovie(const std::string& path) {
  MovieInfo info;
  std::string error;
  ff::InputFormatPtr in = ff::openInput(path, &error);
  EXPECT_TRUE(in) << error;
  if (!in) return info;
  const int v = av_find_best_stream(in.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  const int a = av_find_best_stream(in.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (v >= 0) {
    AVStream* st = in->streams[v];
    info.width = st->codecpar->width;
    info.height = st->codecpar->height;
    info.codec = avcodec_get_name(st->codecpar->codec_id);
    char tag[5] = {};
    const uint32_t t = st->codecpar->codec_tag;
    for (int i = 0; i < 4; ++i)
      tag[i] = static_cast<char>((t >> (8 * i)) & 0xFF);
    info.codecTag = t ? tag : "";
    info.primaries = st->codecpar->color_primaries;
    info.transfer = st->codecpar->color_trc;
    info.matrix = st->codecpar->color_space;
    info.profile = st->codecpar->profile;
    if (st->duration > 0) info.videoDuration = ff::toSeconds(st->duration, st->time_base);
  }
  if (a >= 0) {
    info.hasAudio = true;
    AVStream* st = in->streams[a];
    if (st->duration > 0) info.audioDuration = ff::toSeconds(st->duration, st->time_base);
  }
  ff::PacketPtr pkt = ff::makePacket();
  while (av_read_frame(in.get(), pkt.get()) >= 0) {
    if (pkt->stream_index == v) {
      ++info.videoFrames;
      info.frameTimes.push_back(ff::toSeconds(pkt->pts, in->streams[v]->time_base));
    }
    av_packet_unref(pkt.get());
  }
  std::sort(info.frameTimes.begin(), info.frameTimes.end());
  return info;
}

std::vector<QImage> decodePictures(const std::string& path) {
  std::vector<QImage> pictures;
  VideoReader::OpenError kind;
  std::string error;
  auto reader = VideoReader::open(path, &kind, &error);
  EXPECT_TRUE(reader) << error;
  if (!reader) return pictures;
  ff::FramePtr frame;
  double t = 0;
  while (reader->next(frame, t, &error)) {
    QImage image(reader->width(), reader->height(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_TRUE(reader->convert(frame.get(), image.bits(), static_cast<int>(image.bytesPerLine())));
    pictures.push_back(image);
  }
  EXPECT_TRUE(error.empty()) << error;
  return pictures;
}

std::vector<std::string> TempDir::entries() const {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(path_))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace vantry::testing
