// The recorded sound played along the edit, and the playback clock of the studio.
//
// The player streams the sound file through the pieces of soundPieces() (the rule export
// uses), silent between and after them up to the edited duration, into one playback
// stream. Only a fraction of a second is decoded ahead: a one-hour sound as PCM would take
// hundreds of megabytes. Its clock is the stream's own timing (what has been heard), so
// the picture follows the sound; where no sound server runs, a null sink driven by the
// host clock stands in and the clock behaves the same. Rates between 0.5 and 2 keep the
// pitch.
//
// Threads: every member function may be called from one owning thread (the controller's
// main thread) while the player's worker runs; completions reach that thread only through
// the `post` function given at opening. The destructor stops and joins the worker; seek
// completions not yet posted by then are dropped, those already posted still run, so a
// completion must not assume the player still exists.
//
// How the controller uses it:
//   - open() when a project is loaded (null: play on the software clock);
//   - configureAudio(clip) after every edit, undo and redo;
//   - to move: pause(), seek(t, done); in `done(true)`, play() with setRate() if playing;
//     `done(false)` means another seek or a configureAudio() overtook it;
//   - each tick, currentTime() while playing and not seeking, and error().
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "model/clip.h"
#include "platform/sound_output.h"
#include "render/sound_placement.h"

namespace vantry {

class AudioSource;
class TempoFilter;

class EditedAudioPlayer {
 public:
  // Runs `task` later on the owning thread (for Qt: QMetaObject::invokeMethod with
  // Qt::QueuedConnection). Called from the worker or from the owning thread itself, with
  // the player's lock held: it must queue the task, never run it at once.
  using Post = std::function<void(std::function<void()> task)>;
  // `finished` is false when the seek was superseded by a newer seek or configureAudio().
  using SeekDone = std::function<void(bool finished)>;

  struct Setup {
    Post post;
    // Makes the playback stream; empty: the sound server's, else the null sink.
    platform::SoundOutputFactory output;
  };

  static constexpr int kRate = 48000;
  static constexpr double kMinRate = 0.5;
  static constexpr double kMaxRate = 2.0;

  // Opens `clip.audioPath` and lays it out along the clip's edit, paused at 0.
  // Null without an error when the clip has no audio path or the file holds no sound;
  // null with `error` set when the file cannot be read: what a person is told, naming the
  // file ("Could not read the sound file ~/x/voice.m4a. It is missing."). `notAFile` is set
  // when a pipe or a device stands in the file's place.
  static std::unique_ptr<EditedAudioPlayer> open(const Clip& clip, Setup setup, std::string* error,
                                                 bool* notAFile = nullptr);
  ~EditedAudioPlayer();
  EditedAudioPlayer(const EditedAudioPlayer&) = delete;
  EditedAudioPlayer& operator=(const EditedAudioPlayer&) = delete;

  // Lays the already open sound along a new edit of the same clip (its ranges, offset and
  // duration; the audio path is not read again). Pauses, completes a seek in flight with
  // false and holds the position (limited to the new edited duration) until the next seek.
  void configureAudio(const Clip& clip);

  // Moves to output time `t` (limited to 0..editedDuration) exactly. While the seek runs
  // currentTime() reports `t`. `done` is posted once: true when the player stands at `t`
  // with sound ready (it keeps playing if it was playing), false when superseded.
  // Completions are posted in the order the seeks were made.
  void seek(double t, SeekDone done);
  // 0.5 to 2 (clamped); takes effect on the sound queued after it, so the clock changes
  // pace when the change is heard (a tenth of a second later).
  void setRate(double rate);
  void play();
  void pause();

  // Output seconds of the sound being heard now, 0..editedDuration.
  double currentTime() const;
  bool playing() const;
  double rate() const;
  double editedDuration() const;
  // Why playback failed (reading the file failed mid-way), in the form open() gives, or
  // empty. Playing stops on such a failure; the controller shows it after "播放失败：".
  std::string error() const;
  // True when the sound goes to the sound server, false on the null sink (known once the
  // first seek has completed).
  bool audible() const;

  // The layout in force, for the curious and for tests.
  std::vector<SoundPiece> pieces() const;

 private:
  struct Segment {
    int64_t index = 0;  // stream frame where it starts
    double media = 0;   // output seconds at that frame
    double speed = 1;   // output seconds per heard second
  };
  struct SeekRequest {
    double time = 0;
    SeekDone done;  // empty for the player's own repositioning
  };

  EditedAudioPlayer(std::unique_ptr<AudioSource> file, Setup setup);
  // With mutex_ held:
  void layOut(const Clip& clip);
  double currentTimeLocked() const;
  void postDone(SeekDone done, bool finished);
  void replaceOutput();
  void applyRunning();
  void nudge();
  // On the worker:
  std::unique_ptr<platform::SoundOutput> makeOutput(bool fallback) const;
  void run(std::stop_token stop);
  void position(double t, double rate);
  void changeRate(double rate);
  bool produce(std::string* failure);
  bool writeOut(const std::vector<float>& samples);
  bool renderMedia(int64_t start, int64_t frames, std::vector<float>& out, std::string* failure);

  const Setup setup_;
  const std::unique_ptr<AudioSource> file_;  // read by the worker alone
  std::string path_;
  // Replaced by the worker under mutex_, used by it without; others read it under mutex_.
  std::unique_ptr<platform::SoundOutput> output_;

  mutable std::mutex mutex_;
  std::condition_variable_any wake_;
  // Shared with the owning thread, under mutex_:
  std::vector<SoundPiece> pieces_;
  double duration_ = 0;
  double rate_ = 1;
  bool playing_ = false;
  std::optional<SeekRequest> pending_;
  SeekDone inFlight_;  // the seek the worker is carrying out
  bool seeking_ = false;
  double heldTime_ = 0;  // currentTime() while seeking
  std::vector<Segment> segments_;
  std::string error_;
  uint64_t layout_ = 0;               // raised by configureAudio()
  std::atomic<bool> nudged_ = false;  // a request waits for the worker

  // The worker's own:
  std::vector<SoundPiece> workPieces_;
  double workDuration_ = 0;
  uint64_t workLayout_ = 0;
  double workRate_ = 1;
  bool running_ = false;   // the stream runs; under mutex_
  int64_t mediaNext_ = 0;  // next output frame to render
  int64_t written_ = 0;    // frames written to the stream since its restart
  std::unique_ptr<TempoFilter> tempo_;
  std::vector<float> media_, stretched_, scratch_;

  std::jthread worker_;
};

}  // namespace vantry
