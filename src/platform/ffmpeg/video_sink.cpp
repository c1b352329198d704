#include "platform/ffmpeg/video_sink.h"

namespace vantry {

namespace {

class MovieSink : public VideoSink {
 public:
  explicit MovieSink(MovieWriterSettings s) : writer_(std::move(s)) {}
  bool start() override { return writer_.start(); }
  bool readyForVideo() const override { return writer_.readyForVideo(); }
  bool appendVideo(VideoFrameView frame, double time, std::optional<double> duration) override {
    return writer_.appendVideo(std::move(frame), time, duration);
  }
  bool finish() override { return writer_.finish(); }
  void cancel() override { writer_.cancel(); }
  bool failed() const override { return writer_.state() == MovieWriter::State::failed; }
  std::string error() const override { return writer_.error(); }
  int errorNumber() const override { return writer_.errorNumber(); }
  double writtenDuration() const override { return writer_.writtenDuration(); }

 private:
  MovieWriter writer_;
};

}  // namespace

std::unique_ptr<VideoSink> makeScreenMovieSink(const VideoSinkRequest& request) {
  MovieWriterSettings s;
  s.path = request.path;
  s.container = "mp4";
  VideoTrackSettings v;
  v.encoders = {"libx264"};
  v.width = request.width;
  v.height = request.height;
  v.averageBitRate = 12'000'000;
  // The fastest preset keeps a 1080p recording under one core; at 12 Mbit/s the picture
  // stays clean (the benchmark measures both presets). Every frame thread holds pictures of
  // its own: libx264's default of one and a half per core costs about 150 MB at 1440p on
  // eight cores; four keep up with 60 frames a second.
  v.encoderOptions = {{"preset", "ultrafast"}, {"threads", "4"}};
  s.video = v;
  s.crashSafe = true;
  s.queueFrames = 8;
  s.onFailure = request.onFailure;
  return std::make_unique<MovieSink>(std::move(s));
}

}  // namespace vantry
