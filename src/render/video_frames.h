// Reads the pictures of one movie for mostly increasing times: decodes sequentially and
// seeks only when a request steps back more than 1 ms or jumps ahead more than 0.8 s.
// Only the picture finally shown is converted; not safe for concurrent use.
#pragma once

#include <QImage>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ffmpeg/video_reader.h"

namespace vantry {

class VideoFrames {
 public:
  // Every failure, here and in the reading below, is a StudioError whose text names the
  // movie and says what is wrong ("The video file has no video track.", "It is missing.",
  // "It is damaged or incomplete." with the library's text on a second line); a pipe or a
  // device in the movie's place is a NotAFileError.
  // `decoderThreads` as VideoReader::open takes it.
  explicit VideoFrames(const std::string& path, int decoderThreads = 0);
  ~VideoFrames();

  // Restarts decoding at a source time.
  void reset(double seconds);
  // The picture shown at a time, or nothing when the movie has yielded no picture yet.
  // `shownWidth`: the widest the picture is shown (0: at its full size); a picture that
  // twice that width would fit in comes halved (VideoReader::convertHalved), and the same
  // picture asked for at the other size is converted again.
  std::optional<QImage> image(double seconds, int shownWidth = 0);
  // The same picture; the same object for as long as the picture does not change.
  std::optional<QImage> frame(double seconds) { return image(seconds); }

  // The picture shown at a time, for the export: the decoded planes themselves when they
  // are already what the encoder takes (VideoReader::isEncoderReady), else the converted
  // image; neither before the first picture.
  struct Picture {
    std::shared_ptr<const AVFrame> planes;
    std::optional<QImage> image;
  };
  Picture picture(double seconds);

  double currentTime() const { return currentTime_; }
  int width() const { return reader_->width(); }
  int height() const { return reader_->height(); }
  // Length of the movie in seconds, 0 when unknown.
  double duration() const { return reader_->duration(); }
  int decoderThreads() const { return reader_->decoderThreads(); }
  // Counters for tests and benchmarks.
  int seeks() const { return seeks_; }
  int conversions() const { return conversions_; }

 private:
  [[noreturn]] void fail(const std::string& reason, const char* fallbackKey) const;
  bool readPending(std::string* error);
  // Decodes up to the picture shown at `t`; true with that picture in candidate_ when it is
  // a new one.
  bool advance(double t, double& candidateTime);
  // Converts a decoded picture, halved when asked and possible, and keeps it as shown_.
  void convert(AVFrame* frame, double time, bool halve = false);
  QImage takeBuffer(int width, int height);

  std::string path_;
  std::unique_ptr<VideoReader> reader_;
  ff::FramePtr pending_;
  bool hasPending_ = false;
  double pendingTime_ = 0;
  ff::FramePtr candidate_;
  std::optional<QImage> currentImage_;
  ff::FramePtr shown_;                            // the decoded planes of currentImage_
  bool currentHalved_ = false;                    // currentImage_ is at half size
  std::shared_ptr<const AVFrame> currentPlanes_;  // instead of the image, for picture()
  double currentTime_ = -1;
  double lastRequest_ = -1;
  bool failed_ = false;  // the decoder failed; only a re-seek starts it again
  std::string failure_;
  std::vector<QImage> pool_;  // converted pictures, reused once nobody else holds them
  int seeks_ = 0;
  int conversions_ = 0;
};

// The still of a finished movie: its picture at min(duration / 3, 1 s) (0 when the length is
// unknown), scaled down to fit 576 x 324. Nothing when the movie cannot be read. Blocks while
// decoding, so callers run it off the main thread.
std::optional<QImage> movieThumbnail(const std::string& path);

}  // namespace vantry
