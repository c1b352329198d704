// MovieWriter: the one encoder and muxer of the project (screen recording, camera movie,
// voice file, export). The caller hands over pictures and sound with explicit times; a
// separate encoder thread behind a bounded queue converts, encodes and muxes them, so a
// caller on a real-time path never waits for the encoder.
//
// While writing, MP4/MOV output is fragmented (a fragment per key frame), so a crash or a
// kill leaves a playable file up to the last fragment. finish() then rewrites it as an
// ordinary seekable file; if that rewrite fails the fragmented file is kept as it is. A
// write that fails (a full disk) leaves the file cut back to its last complete fragment.
// Nothing this class writes is ever deleted.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
}

namespace vantry {

// A picture to encode. The pixels are read later on the encoder thread; `owner` keeps them
// alive until then, so no pixel data is copied on the caller's side.
struct VideoFrameView {
  const uint8_t* data = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;  // bytes per row
  AVPixelFormat format = AV_PIX_FMT_BGRA;
  std::shared_ptr<const void> owner;
  // Instead of `data`: a picture already in the encoder's size and pixel format (the
  // exporter converts on its own workers); sent as a new reference, never converted.
  const AVFrame* picture = nullptr;
};

struct VideoTrackSettings {
  // Encoder names, tried in order; the first one that opens is used.
  std::vector<std::string> encoders{"libx264"};
  int width = 1920;
  int height = 1080;
  AVRational timeBase{1, 60000};
  int frameRate = 60;  // nominal rate: rate-control hint, key-frame spacing, last frame length
  int64_t averageBitRate = 12'000'000;
  int keyFrameInterval = 60;  // frames; also the fragment length while writing
  int maxBFrames = 0;
  AVPixelFormat encoderFormat = AV_PIX_FMT_YUV420P;
  // Private options of the encoder (for libx264: preset, tune, ...).
  std::map<std::string, std::string> encoderOptions{{"preset", "superfast"}};
  // Tags written on the stream and into the bitstream; the RGB input is converted with the
  // tagged matrix into limited-range YUV.
  AVColorPrimaries primaries = AVCOL_PRI_BT709;
  AVColorTransferCharacteristic transfer = AVCOL_TRC_IEC61966_2_1;  // sRGB
  AVColorSpace matrix = AVCOL_SPC_BT709;
  // Four-character stream tag for MP4/MOV ("hvc1" makes HEVC playable everywhere); empty
  // keeps the muxer's default.
  std::string codecTag;
};

struct AudioTrackSettings {
  std::string encoder = "aac";
  int sampleRate = 48000;
  int channels = 1;
  int64_t bitRate = 128'000;
};

struct MovieWriterSettings {
  std::string path;
  // libavformat short name ("mp4", "mov", "ipod" for .m4a); empty guesses from the path.
  std::string container;
  std::optional<VideoTrackSettings> video;
  std::optional<AudioTrackSettings> audio;
  // Fragmented while writing and rewritten as a normal file at finish().
  bool crashSafe = true;
  // Pictures waiting for the encoder; appendVideo refuses (or waits) beyond this.
  size_t queueFrames = 8;
  // Called once, at once, on the encoder thread when writing fails (full disk, encoder
  // error). The text is the library's own description, untranslated.
  std::function<void(const std::string& error)> onFailure;
};

class MovieWriter {
 public:
  enum class State { idle, writing, finished, failed, cancelled };

  struct Stats {
    int64_t framesQueued = 0;    // pictures accepted by appendVideo
    int64_t framesRefused = 0;   // pictures refused because the queue was full
    int64_t framesEncoded = 0;   // pictures that reached the encoder
    int64_t packetsWritten = 0;  // video packets in the file
  };

  explicit MovieWriter(MovieWriterSettings settings);
  // Cancels (keeping what was written) and joins the encoder thread.
  ~MovieWriter();
  MovieWriter(const MovieWriter&) = delete;
  MovieWriter& operator=(const MovieWriter&) = delete;

  // Opens the encoders and the file and starts the encoder thread. false: error() says why;
  // a file that was already created stays on disk.
  bool start();

  // Queues a picture at `time` seconds on the movie's timeline (0 is the movie's start).
  // Times must rise; a frame lasts until the next one, or `duration` when given (the last
  // frame of a movie), or one nominal frame. Returns false at once when the writer is not
  // writing or, unless `waitForRoom`, when the queue is full (the frame is dropped).
  bool appendVideo(VideoFrameView frame, double time, std::optional<double> duration = {},
                   bool waitForRoom = false);
  // True while writing with room in the queue.
  bool readyForVideo() const;

  // Queues interleaved float samples (`frames` × channels values) starting at `time`
  // seconds; later calls continue the same sound without gaps. Copies the samples.
  bool appendAudio(const float* samples, int frames, double time);

  // Encodes everything queued, closes the file and rewrites it as an ordinary one.
  // false: error() says why; the file keeps whatever was written.
  bool finish();
  // Stops without encoding what is still queued; what is in the file stays there.
  void cancel();

  State state() const;
  std::string error() const;
  // The system's error number behind error() (ENOSPC for a full disk), 0 when there is none.
  int errorNumber() const;
  // End of the last video (else audio) packet in the file, in seconds. After a failure
  // while fragmented: the end of the last fragment that was completed.
  double writtenDuration() const;
  Stats stats() const;
  const MovieWriterSettings& settings() const { return settings_; }
  // Name of the video encoder that opened (empty before start()).
  std::string videoEncoderName() const;

 private:
  struct Item;
  struct Encoder;
  // The encoder thread: each picture and sound in turn, then the file closed.
  void run();
  bool nextItem(Item& item);
  bool encodeVideo(Item& item);
  bool submitVideo(AVFrame* picture);
  int sendVideo(AVFrame* picture);
  bool receiveVideo();
  bool writePending(bool flush);
  bool encodeAudio(Item& item);
  bool sendAudioFrames(bool all);
  bool receiveAudio();
  void noteWritten(double end);
  void closeFile();
  void fail(const std::string& message, int code = 0);
  void cutBackToCompleteFragments();
  bool finalizeOnThread(bool drain);
  bool rewriteSeekable();

  MovieWriterSettings settings_;
  std::unique_ptr<Encoder> enc_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;  // encoder thread: work or stop
  std::condition_variable room_;  // producers waiting for room
  std::deque<Item> items_;
  size_t queuedVideo_ = 0;
  bool stopRequested_ = false;
  bool drainOnStop_ = true;
  State state_ = State::idle;
  std::string error_;
  int errorNumber_ = 0;
  bool failureReported_ = false;
  Stats stats_;
  double writtenDuration_ = 0;
  double durableDuration_ = 0;  // end of the last closed fragment
  bool joined_ = false;
  std::thread thread_;
};

}  // namespace vantry
