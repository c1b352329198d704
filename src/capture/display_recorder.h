// capture/: recording. The display recorder and its companions (camera, microphone), the
// live preview of a display, the pointer journal and the recovery of a recording whose
// process died, and what a recording's end reports. Written against platform/'s interfaces,
// so the same code runs on X11 and on the synthetic sources.
//
// DisplayRecorder: one recording of a display or a window into a new recording folder:
// the screen into "screen.mp4", the pointer and left button sixty times a second, and at
// stop "project.json" and "capture-timing.json". The camera and the microphone plug in as
// RecordingCompanions, which take part in the start order, its undo and the stop.
// While recording, the pointer track is also kept in "pointer-samples.partial" beside the
// movie, so that a recording whose process dies can be rebuilt (recording_recovery.h); a
// successful stop removes it once "project.json" is on disk.
//
// Threads: the screen stream's frames and the 60 Hz pointer ticks are handled on the
// writer queue ("studio.screen.writer"); encoding runs on the movie writer's own thread.
// start() and stop() block the caller; the controller runs them off the main thread.
#pragma once

#include <QImage>
#include <QTime>
#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "capture/pointer_journal.h"
#include "capture/recording_lock.h"
#include "capture/serial_queue.h"
#include "model/clip.h"
#include "platform/ffmpeg/video_sink.h"
#include "platform/screen_source.h"
#include "platform/studio_error.h"

namespace vantry {

// Host-clock timings written as "capture-timing.json".
using CaptureTimings = std::map<std::string, double>;

// Something recorded beside the screen (the camera movie, the voice file).
class RecordingCompanion {
 public:
  virtual ~RecordingCompanion() = default;
  // Before the screen stream starts: open the device and the file in `folder`. Throws a
  // translated error; the recording then does not start.
  virtual void prepare(const std::string& folder) = 0;
  // Right after the screen stream started capturing (the voice file starts here). Throws.
  virtual void begin() {}
  // The start failed after prepare(): stop what was opened. Files stay. Never throws.
  virtual void abandon() = 0;
  // Every pointer tick on the writer queue, once the recording's clock runs.
  virtual void tick(double /*now*/, CaptureTimings& /*timings*/) {}
  // The recording stops. A translated warning when something went wrong (the files keep
  // what was recorded). `startClock` is the host-clock instant of the recording's time 0
  // when a frame came. Never throws.
  virtual std::optional<std::string> stop(std::optional<double> startClock) = 0;
  // After the stop instant was read: completes the files, so that their finishing does not
  // lengthen the recording. A translated warning when that went wrong. Never throws.
  virtual std::optional<std::string> finish() { return std::nullopt; }
  // Adds its paths, offsets (from `startClock`, the host-clock instant of time 0) and
  // timing entries to the finished recording.
  virtual void complete(Clip& clip, double startClock, CaptureTimings& timings) = 0;
  // Its file name in the folder and its offset from `startClock`, as far as known while
  // recording (written into the pointer journal for recovery). On the writer queue.
  virtual void describe(JournalHeader& /*header*/, double /*startClock*/) const {}
};

struct RecorderEnvironment {
  std::shared_ptr<platform::ScreenCapture> screen;  // empty: the running system's
  VideoSinkFactory makeSink;                        // empty: the screen movie writer
  std::string recordingsFolder;                     // empty: defaultRecordingsFolder()
};

class DisplayRecorder {
 public:
  struct CaptureSize {
    int width = 1920;
    int height = 1080;
    bool operator==(const CaptureSize&) const = default;
  };

  explicit DisplayRecorder(RecorderEnvironment environment = {});
  // Stops the stream, the timer, the companions and the writer and joins every thread. The
  // folder and whatever was written stay. Not to be destroyed from its own callbacks.
  ~DisplayRecorder();
  DisplayRecorder(const DisplayRecorder&) = delete;
  DisplayRecorder& operator=(const DisplayRecorder&) = delete;

  // Set before start(). Live frames, at most sixty a second, on the writer queue; the
  // image shares the frame's pixels. Must return quickly.
  std::function<void(const QImage&)> onFrame;
  // Set before start(). A failure while recording (a failed append, the file that can no
  // longer be written, the stream that stopped), reported at once with a translated
  // message; the recording goes on and stop() keeps what was recorded. Called on the writer
  // queue.
  std::function<void(const std::string&)> onFailure;
  // Set before start(). The recording ended by itself: the screen stream stopped with an
  // error, or the screen movie can no longer be written (a full disk), reported through
  // onFailure first. Nothing more is recorded; stop() ends the movie, the pointer track and
  // the duration at the last frame the movie holds and keeps the recording with a warning
  // that says up to when. The owner should call stop() as if the user had pressed stop.
  // Called once, on the writer queue; must not call stop() itself.
  std::function<void()> onEnded;

  // Starts recording the display, or the window when `windowID` is given. Returns once the
  // stream captures and the pointer is sampled. Throws a translated error (StudioError or
  // platform::PlatformError); whatever was opened is closed again and the new folder, which
  // holds nothing recorded, is removed.
  void start(platform::DisplayId displayID, std::optional<platform::WindowId> windowID,
             std::vector<std::shared_ptr<RecordingCompanion>> companions = {});

  // Ends the recording and returns its document. A failure after frames were written keeps
  // the recording: the movie is completed with what was written, both JSON files are
  // written and warning() says what went wrong. Throws only when nothing was recorded or
  // "project.json" cannot be written. Nothing recorded is ever deleted: only the folder of a
  // recording stopped before its first frame goes, as that of a failed start does.
  Clip stop();
  // After stop(): the translated warning of a recording kept despite a failure, one line
  // (and its detail line) per failure; empty when all went well.
  std::string warning() const;
  // True once the recording ended by itself (see onEnded). Any thread.
  bool ended() const { return ended_.load(); }

  struct Stats {
    int64_t framesTaken = 0;    // complete frames handled while writing
    int64_t framesWritten = 0;  // handed to the movie writer
    int64_t framesDropped = 0;  // found the writer busy
    int64_t ticks = 0;          // pointer samples taken
  };
  Stats stats() const;

  // Safe to read from any thread while recording.
  std::optional<double> startClock() const;
  platform::Rect screenRect() const;
  CaptureSize captureSize() const;
  std::string folder() const;

  // The pixel size of the stream and movie for a source of `points` at `scale` pixels per
  // point: at most 2560 wide and 4096 high, the aspect kept, both even and at least 2.
  static CaptureSize captureSizeFor(const platform::Rect& points, double scale);
  // <generic data location>/Pexilar/Recordings
  static std::string defaultRecordingsFolder();
  // The title of a recording stopped (or last written) at `time` of day.
  static std::string titleAt(const QTime& time);

 private:
  // A failure the recording is kept despite, as the person reads it.
  struct Trouble {
    std::string message;  // what went wrong, naming the file
    std::string advice;   // what to do; said after what was kept when it ended the recording
    bool endedRecording = false;
    bool operator==(const Trouble&) const = default;
    // As said when nothing of the recording is kept.
    std::string alone() const;
  };
  // What the writer queue hands over once nothing more comes in.
  struct Captured {
    bool anyFrame = false;
    std::optional<double> startClock;
    bool placed = false;  // the last frame again at the stop instant
    double length = 0;    // from time 0 to the stop instant
    std::vector<PointerSample> samples;
    std::vector<Trouble> troubles;
    CaptureTimings timings;
    bool ended() const;
  };

  void startSteps(platform::DisplayId displayID, std::optional<platform::WindowId> windowID);
  std::filesystem::path makeFolder();
  void handleFrame(const platform::Frame& frame);
  void tick();
  void recordFailure(Trouble trouble);
  void streamStopped(const std::string& message);
  void movieFailed();
  void endByItself(Trouble trouble);
  std::string moviePath() const;
  void openJournal();
  void undoStart();
  void removeUnrecordedFolder();

  // The steps of stop(), in their order.
  std::vector<std::string> stopSources();
  Captured takeCaptured();
  void placeLastFrame(Captured& captured);
  std::vector<std::string> finishCompanions();
  StudioError nothingKept(const Captured& captured, double stopAsked);
  double finishMovie(const Captured& captured, std::vector<std::string>& warnings);
  std::vector<std::string> toldTroubles(const Captured& captured, double duration) const;
  Clip makeClip(Captured& captured, double duration);
  void writeDocument(const Clip& clip);
  std::optional<std::string> writeTimings(const CaptureTimings& timings);

  RecorderEnvironment env_;
  bool inDataFolder_ = false;  // the recordings folder is the default one, in our data folder
  // Held from the folder's making until the recorder is done with it, so that no recovery
  // takes the recording for an interrupted one. Declared before everything that writes into
  // the folder, so that it is let go after them.
  RecordingLock folderLock_;
  std::vector<std::shared_ptr<RecordingCompanion>> companions_;
  size_t preparedCompanions_ = 0;
  std::unique_ptr<platform::FrameStream> stream_;
  std::unique_ptr<VideoSink> sink_;

  // Read by other threads.
  mutable std::mutex stateMutex_;
  std::optional<double> startClock_;
  platform::Rect screenRect_;
  CaptureSize captureSize_;
  std::string folder_;
  std::vector<std::string> warnings_;

  // Writer queue only.
  std::optional<double> firstPTS_;
  std::optional<platform::Frame> lastSample_;
  std::vector<PointerSample> samples_;
  std::unique_ptr<platform::PointerSource> pointer_;
  std::optional<platform::WindowId> capturedWindowID_;
  double lastWindowRefresh_ = 0;
  double lastPreviewTime_ = 0;
  bool lastPressed_ = false;
  bool finished_ = false;
  std::vector<Trouble> troubles_;
  CaptureTimings timings_;
  bool streamEnded_ = false;  // ended by itself
  bool journalTried_ = false;
  double journalWritten_ = 0;  // recording time of the last journal write
  PointerJournalWriter journal_;

  std::atomic<int64_t> framesTaken_{0};
  std::atomic<int64_t> framesWritten_{0};
  std::atomic<int64_t> framesDropped_{0};
  std::atomic<int64_t> ticks_{0};
  std::atomic<double> streamStartedAt_{0};  // host clock
  std::atomic<bool> started_{false};
  std::atomic<bool> stopped_{false};
  std::atomic<bool> ended_{false};
  // Declared last so that it is joined first, while everything its tasks touch still exists.
  SerialQueue queue_{"studio.screen.writer"};
};

}  // namespace vantry
