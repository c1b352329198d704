// What a recorder needs of a movie writer, so that tests can put a faulty writer in the
// real one's place. makeScreenMovieSink gives the real screen movie writer.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/ffmpeg/movie_writer.h"

namespace vantry {

class VideoSink {
 public:
  virtual ~VideoSink() = default;
  // false: error() says why.
  virtual bool start() = 0;
  // Room for one more picture right now (never waits).
  virtual bool readyForVideo() const = 0;
  // Queues a picture at `time` seconds of the movie; false when it could not be taken
  // although the sink was ready (the sink has failed).
  virtual bool appendVideo(VideoFrameView frame, double time, std::optional<double> duration) = 0;
  // Completes the file; false: error() says why, the file keeps what was written.
  virtual bool finish() = 0;
  // Stops without completing; the file keeps what was written.
  virtual void cancel() = 0;
  virtual bool failed() const = 0;
  virtual std::string error() const = 0;
  // The system's error number behind error() (ENOSPC: a full disk), 0 when there is none.
  virtual int errorNumber() const { return 0; }
  // End of what the file holds, seconds.
  virtual double writtenDuration() const = 0;
};

struct VideoSinkRequest {
  std::string path;
  int width = 1920;
  int height = 1080;
  // Called at once (on the encoder's thread) when writing fails; the file then ends at its
  // last complete fragment once the sink is finished or cancelled.
  std::function<void(const std::string& error)> onFailure;
};

using VideoSinkFactory = std::function<std::unique_ptr<VideoSink>(const VideoSinkRequest&)>;

// The screen movie: H.264 (libx264) at an average 12 Mbit/s, 60 frames a second at most,
// BT.709 primaries and matrix with the sRGB transfer tag; crash-safe while writing.
std::unique_ptr<VideoSink> makeScreenMovieSink(const VideoSinkRequest& request);

}  // namespace vantry
