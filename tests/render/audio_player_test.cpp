// The edited-audio player: the sound laid along the edit, silence up to the edited length,
// pitch kept at other rates, its clock, seek completions, and unreadable files. On the
// null sink with a clock of the test's own (the produced sound read through a tap), and on
// a private PulseAudio null sink (the sound read back from its monitor).
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "localization/localization.h"
#include "localization/user_message.h"
#include "movie_fixtures.h"
#include "platform/audio_source.h"
#include "platform/pulse/pulse_microphone.h"
#include "platform/pulse_tone.h"
#include "platform/screen_source.h"
#include "render/edited_audio_player.h"
#include "support/scoped_env.h"

namespace vantry {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
constexpr int kRate = EditedAudioPlayer::kRate;

// The owning thread's queue: completions land here and run when the test drains it.
class Mailbox {
 public:
  EditedAudioPlayer::Post post() {
    return [this](std::function<void()> task) {
      std::lock_guard lock(mutex_);
      tasks_.push_back(std::move(task));
      wake_.notify_all();
    };
  }
  // Runs posted tasks until `done` holds; false after 10 s without it.
  bool runUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!done()) {
      std::unique_lock lock(mutex_);
      if (!wake_.wait_until(lock, deadline, [&] { return !tasks_.empty(); })) return false;
      auto task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task();
    }
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
};

// Polls `done` for up to 10 s.
bool eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 10000 && !done(); ++i)
    std::this_thread::sleep_for(1ms);
  return done();
}

// What the null sink was given since its last restart (mono).
class Tap {
 public:
  platform::SoundTap tap() {
    return [this](const float* s, size_t n, long long position) {
      std::lock_guard lock(mutex_);
      if (position == 0) pcm_.clear();
      pcm_.insert(pcm_.end(), s, s + n);
    };
  }
  std::vector<float> pcm() {
    std::lock_guard lock(mutex_);
    return pcm_;
  }
  size_t size() {
    std::lock_guard lock(mutex_);
    return pcm_.size();
  }

 private:
  std::mutex mutex_;
  std::vector<float> pcm_;
};

// A null sink whose restarts can be held, so that a seek stays in flight while the test
// makes more calls.
class Gate {
 public:
  void close() {
    std::lock_guard lock(mutex_);
    open_ = false;
  }
  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    wake_.notify_all();
  }
  void pass() {
    std::unique_lock lock(mutex_);
    waiting_ = true;
    wake_.notify_all();
    wake_.wait(lock, [&] { return open_; });
    waiting_ = false;
  }
  void awaitWaiter() {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [&] { return waiting_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool open_ = true;
  bool waiting_ = false;
};

class GatedOutput final : public platform::SoundOutput {
 public:
  GatedOutput(std::unique_ptr<platform::SoundOutput> inner, Gate& gate)
      : inner_(std::move(inner)), gate_(gate) {}
  int sampleRate() const override { return inner_->sampleRate(); }
  int channels() const override { return inner_->channels(); }
  bool restart(std::string* e) override {
    gate_.pass();
    return inner_->restart(e);
  }
  size_t writable() override { return inner_->writable(); }
  bool write(const float* s, size_t n, std::string* e) override { return inner_->write(s, n, e); }
  void setRunning(bool r) override { inner_->setRunning(r); }
  double playedFrames() override { return inner_->playedFrames(); }
  void syncTiming() override {}
  bool audible() const override { return false; }
  bool healthy() override { return true; }

 private:
  std::unique_ptr<platform::SoundOutput> inner_;
  Gate& gate_;
};

class AudioPlayer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sources_ = new testing::TempDir();
    // 1 kHz tones of 80 ms at 0.5, 1.5, 2.5 and 3.5 s of a 4 s sound.
    testing::makeToneSound(sources_->file("voice.m4a"), 4, {0.5, 1.5, 2.5, 3.5});
  }
  static void TearDownTestSuite() {
    delete sources_;
    sources_ = nullptr;
  }

  // A 6 s recording keeping 1-2 s and 3-6 s: the sound's 1-2 s plays at 0-1 (its tone at
  // 1.5 s lands at 0.5), its 3-4 s at 1-2 (3.5 lands at 1.5); 2-4 s of the 4 s edit are
  // past the end of the sound.
  static Clip editedClip() {
    Clip clip;
    clip.duration = 6;
    clip.audioPath = sources_->file("voice.m4a");
    clip.keptRanges = std::vector<SourceRange>{{Uuid::random(), 1, 2}, {Uuid::random(), 3, 6}};
    return clip;
  }

  std::unique_ptr<EditedAudioPlayer> openOnNullSink(const Clip& clip, Gate* gate = nullptr) {
    EditedAudioPlayer::Setup setup;
    setup.post = mailbox_.post();
    setup.output = [this, gate](int rate, int channels) -> std::unique_ptr<platform::SoundOutput> {
      auto sink = platform::makeNullSoundOutput(
          rate, channels, [this] { return now_.load(); }, tap_.tap());
      if (!gate) return sink;
      return std::make_unique<GatedOutput>(std::move(sink), *gate);
    };
    std::string error;
    auto player = EditedAudioPlayer::open(clip, setup, &error);
    EXPECT_TRUE(player) << error;
    return player;
  }

  // Seeks and waits for the completion; its `finished`.
  bool seekAndWait(EditedAudioPlayer& player, double t) {
    heard_ = 0;  // the sink's stream starts again
    std::optional<bool> result;
    player.seek(t, [&](bool finished) { result = finished; });
    EXPECT_TRUE(mailbox_.runUntil([&] { return result.has_value(); }));
    return result.value_or(false);
  }

  // Moves the sink's clock on in steps; while playing, each step waits until the player
  // has fed the sink at least as far as the clock went.
  void advance(double seconds, bool playing = true, double step = 0.05) {
    for (double done = 0; done < seconds - 1e-9; done += step) {
      const double dt = std::min(step, seconds - done);
      now_ = now_.load() + dt;
      if (!playing) continue;
      heard_ += dt * kRate;
      const size_t wanted = size_t(heard_);
      eventually([&] { return tap_.size() >= std::min(wanted, expectedEnd_); });
    }
  }

  static testing::TempDir* sources_;
  Mailbox mailbox_;
  Tap tap_;
  std::atomic<double> now_{1000};
  double heard_ = 0;                           // stream frames the clock has passed
  size_t expectedEnd_ = size_t(4.05 * kRate);  // all the player writes of the 4 s edit
};

testing::TempDir* AudioPlayer::sources_ = nullptr;

// Frequency of the signal from `from` for `seconds`, from its zero crossings.
double frequencyAt(const std::vector<float>& pcm, double from, double seconds) {
  const size_t a = size_t(from * kRate), b = size_t((from + seconds) * kRate);
  int crossings = 0;
  for (size_t i = a + 1; i < b && i < pcm.size(); ++i)
    if ((pcm[i - 1] < 0) != (pcm[i] < 0)) ++crossings;
  return crossings / 2.0 / seconds;
}

double loudestAfter(const std::vector<float>& pcm, double from) {
  float peak = 0;
  for (size_t i = size_t(from * kRate); i < pcm.size(); ++i)
    peak = std::max(peak, std::fabs(pcm[i]));
  return peak;
}

TEST_F(AudioPlayer, NullSinkPlaysThePiecesWhereTheEditPutsThemThenSilence) {
  // The silence is made in memory: no file appears in the temporary folder.
  testing::TempDir scratch;
  test::ScopedEnv tmp("TMPDIR", scratch.path().c_str());
  auto player = openOnNullSink(editedClip());
  ASSERT_TRUE(player);
  EXPECT_FALSE(player->audible());
  EXPECT_DOUBLE_EQ(player->editedDuration(), 4);
  ASSERT_TRUE(seekAndWait(*player, 0));
  player->play();
  advance(1.0);
  // The clock is what the sink has consumed, so it follows the sink's clock exactly.
  EXPECT_NEAR(player->currentTime(), 1.0, 1e-6);
  advance(3.3);
  const std::vector<float> pcm = tap_.pcm();
  const auto onsets = testing::toneOnsets(pcm, kRate);
  ASSERT_EQ(onsets.size(), 2u);
  EXPECT_NEAR(onsets[0], 0.5, 0.006);
  EXPECT_NEAR(onsets[1], 1.5, 0.006);
  // Silence from after the last tone to the end of the edit, which the clock reaches.
  ASSERT_GE(pcm.size(), size_t(4.0 * kRate));
  EXPECT_LT(loudestAfter(pcm, 1.6), 1e-4);
  EXPECT_DOUBLE_EQ(player->currentTime(), 4.0);
  EXPECT_TRUE(scratch.entries().empty());

  // Paused, the clock stands still.
  player->pause();
  ASSERT_TRUE(seekAndWait(*player, 1.25));
  advance(0.5, false);
  EXPECT_NEAR(player->currentTime(), 1.25, 1e-6);
  EXPECT_FALSE(player->playing());
}

TEST_F(AudioPlayer, RateTwoRunsTheClockTwiceAsFastAndKeepsThePitch) {
  auto player = openOnNullSink(editedClip());
  ASSERT_TRUE(player);
  player->setRate(2);
  ASSERT_TRUE(seekAndWait(*player, 0));
  player->play();
  expectedEnd_ = size_t(4.05 / 2 * kRate) - kRate / 20;  // the filter keeps a little back
  advance(0.5);
  EXPECT_NEAR(player->currentTime(), 1.0, 1e-6);
  advance(1.6);
  const std::vector<float> pcm = tap_.pcm();
  const auto onsets = testing::toneOnsets(pcm, kRate);
  ASSERT_EQ(onsets.size(), 2u);
  // Heard at half the edit's times, which the clock then shows (the stretching smears a
  // start by up to half its window).
  EXPECT_NEAR(onsets[0], 0.25, 0.02);
  EXPECT_NEAR(onsets[1], 0.75, 0.02);
  // Each 80 ms tone lasts 40 ms and is still 1 kHz.
  EXPECT_NEAR(frequencyAt(pcm, onsets[0] + 0.01, 0.025), 1000, 100);
  EXPECT_NEAR(frequencyAt(pcm, onsets[1] + 0.01, 0.025), 1000, 100);
  EXPECT_DOUBLE_EQ(player->currentTime(), 4.0);

  // Back to normal speed mid-play: once what was queued at double speed is heard, the
  // clock keeps the sink's pace.
  ASSERT_TRUE(seekAndWait(*player, 0));
  expectedEnd_ = size_t(2 * kRate);
  advance(0.25);
  EXPECT_NEAR(player->currentTime(), 0.5, 1e-6);
  player->setRate(1);
  advance(0.5);
  const double before = player->currentTime();
  advance(0.1);
  EXPECT_NEAR(player->currentTime() - before, 0.1, 1e-6);
}

TEST_F(AudioPlayer, SeeksCompleteInIssueOrderAndOnlyTheNewestFinishes) {
  Gate gate;
  auto player = openOnNullSink(editedClip(), &gate);
  ASSERT_TRUE(player);
  ASSERT_TRUE(seekAndWait(*player, 0));
  player->play();

  std::vector<std::pair<char, bool>> results;
  auto record = [&](char name) {
    return [&results, name](bool f) { results.push_back({name, f}); };
  };
  gate.close();
  player->seek(1, record('a'));
  gate.awaitWaiter();  // a is in flight
  player->seek(2, record('b'));
  player->seek(3, record('c'));
  EXPECT_DOUBLE_EQ(player->currentTime(), 3);  // the newest target while seeking
  gate.open();
  ASSERT_TRUE(mailbox_.runUntil([&] { return results.size() == 3; }));
  const std::vector<std::pair<char, bool>> expected{{'a', false}, {'b', false}, {'c', true}};
  EXPECT_EQ(results, expected);
  EXPECT_DOUBLE_EQ(player->currentTime(), 3);
  EXPECT_TRUE(player->playing());  // a seek keeps playing

  // An edit while a seek is in flight: that seek does not finish, playing stops, and the
  // position is held within the new, shorter edit.
  results.clear();
  gate.close();
  player->seek(3.5, record('d'));
  gate.awaitWaiter();
  Clip shorter = editedClip();
  shorter.keptRanges = std::vector<SourceRange>{{Uuid::random(), 1, 2}};
  player->configureAudio(shorter);
  gate.open();
  ASSERT_TRUE(mailbox_.runUntil([&] { return results.size() == 1; }));
  EXPECT_EQ(results.front(), std::make_pair('d', false));
  EXPECT_FALSE(player->playing());
  EXPECT_DOUBLE_EQ(player->editedDuration(), 1);
  EXPECT_DOUBLE_EQ(player->currentTime(), 1);
  // Seeks clamp to the edit.
  ASSERT_TRUE(seekAndWait(*player, -3));
  EXPECT_DOUBLE_EQ(player->currentTime(), 0);
  ASSERT_TRUE(seekAndWait(*player, std::nan("")));
  EXPECT_DOUBLE_EQ(player->currentTime(), 1);
}

TEST_F(AudioPlayer, ConfigureKeepsTheOpenFileAndLaysItOutAgain) {
  const std::string copy = sources_->file("moved.m4a");
  fs::copy_file(sources_->file("voice.m4a"), copy, fs::copy_options::overwrite_existing);
  Clip clip = editedClip();
  clip.audioPath = copy;
  clip.audioOffset = -1;  // the sound started 1 s after the screen
  auto player = openOnNullSink(clip);
  ASSERT_TRUE(player);
  fs::remove(copy);
  // Kept 4-5 s of the screen is 3-4 s of the sound: its tone at 3.5 lands at 0.5.
  clip.keptRanges = std::vector<SourceRange>{{Uuid::random(), 4, 5}};
  player->configureAudio(clip);
  ASSERT_EQ(player->pieces().size(), 1u);
  EXPECT_DOUBLE_EQ(player->pieces()[0].read, 3);
  ASSERT_TRUE(seekAndWait(*player, 0));
  player->play();
  expectedEnd_ = size_t(1.05 * kRate);
  advance(1.1);
  const auto onsets = testing::toneOnsets(tap_.pcm(), kRate);
  ASSERT_EQ(onsets.size(), 1u);
  EXPECT_NEAR(onsets[0], 0.5, 0.006);
  EXPECT_EQ(player->error(), "");
}

TEST_F(AudioPlayer, UnreadableSoundIsReportedAndSoundlessFilesGiveNoPlayer) {
  testing::TempDir dir;
  Clip clip = editedClip();
  std::string error;
  EditedAudioPlayer::Setup setup{mailbox_.post(), {}};

  clip.audioPath = dir.file("gone.m4a");
  EXPECT_FALSE(EditedAudioPlayer::open(clip, setup, &error));
  EXPECT_EQ(error,
            withReason(L("无法读取音轨 {0}。", shownPath(*clip.audioPath)), systemReason(ENOENT)));

  // No sound at all is not a failure: the project plays on the software clock.
  testing::makeIndexedMovie(dir.file("silent.mp4"), 3, 30);
  clip.audioPath = dir.file("silent.mp4");
  EXPECT_FALSE(EditedAudioPlayer::open(clip, setup, &error));
  EXPECT_EQ(error, "");
  clip.audioPath.reset();
  EXPECT_FALSE(EditedAudioPlayer::open(clip, setup, &error));
  EXPECT_EQ(error, "");

  // A damaged file names itself.
  const std::string damaged = dir.file("damaged.m4a");
  fs::copy_file(sources_->file("voice.m4a"), damaged);
  {
    std::fstream f(damaged, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(fs::file_size(damaged) / 2));
    for (int i = 0; i < 4000; ++i)
      f.put(static_cast<char>((i * 7919) & 0xFF));
  }
  clip.audioPath = damaged;
  EXPECT_FALSE(EditedAudioPlayer::open(clip, setup, &error));
  EXPECT_EQ(error.rfind(L("无法读取音轨 {0}。", shownPath(damaged)), 0), 0u) << error;
}

// On the sound server: what the monitor hears of the edit, against the player's clock.
TEST(AudioPlayerPulse, MonitorHearsThePiecesWhenTheClockSaysSo) {
  test::PrivateSoundServer server;
  if (!server.ok()) GTEST_SKIP() << "no sound server can be started here";
  testing::TempDir dir;
  testing::makeToneSound(dir.file("voice.m4a"), 4, {0.5, 1.5, 2.5, 3.5});
  Clip clip;
  clip.duration = 6;
  clip.audioPath = dir.file("voice.m4a");
  clip.keptRanges = std::vector<SourceRange>{{Uuid::random(), 1, 2}, {Uuid::random(), 3, 6}};

  test::TonePlayer keepAlive;  // steadies the null sink's timing (see pulse_tone.h)
  struct Heard {
    std::mutex mutex;
    std::vector<float> samples;
    std::vector<std::pair<size_t, double>> times;  // sample index, its host time
  } heard;
  platform::PulseMicrophone monitor;
  monitor.start(
      [&](const platform::AudioChunk& c) {
        std::lock_guard lock(heard.mutex);
        if (!std::isnan(c.firstSampleTime))
          heard.times.push_back({heard.samples.size(), c.firstSampleTime});
        heard.samples.insert(heard.samples.end(), c.samples, c.samples + c.count);
      },
      {});
  // Let the monitor's timing settle.
  ASSERT_TRUE(eventually([&] {
    std::lock_guard lock(heard.mutex);
    return heard.samples.size() >= size_t(kRate);
  }));

  Mailbox mailbox;
  std::string error;
  auto player = EditedAudioPlayer::open(clip, {mailbox.post(), {}}, &error);
  ASSERT_TRUE(player) << error;
  std::optional<bool> seeked;
  player->seek(0, [&](bool f) { seeked = f; });
  ASSERT_TRUE(mailbox.runUntil([&] { return seeked.has_value(); }));
  ASSERT_TRUE(*seeked);
  EXPECT_TRUE(player->audible());

  // The clock sampled against the host clock; at 1 s of the edit, on at double speed.
  std::vector<std::pair<double, double>> clock;  // host time, player time
  player->play();
  bool faster = false;
  const double deadline = platform::hostTime() + 10;
  while (platform::hostTime() < deadline) {
    const double t = player->currentTime();
    clock.push_back({platform::hostTime(), t});
    if (!faster && t >= 1.0) {
      player->setRate(2);
      faster = true;
    }
    if (t >= 4.0 - 1.0 / 600) break;
    std::this_thread::sleep_for(2ms);
  }
  std::this_thread::sleep_for(200ms);  // the monitor reports a little late
  monitor.stop();
  ASSERT_GE(clock.back().second, 4.0 - 1.0 / 600) << "the clock did not reach the end";

  std::lock_guard lock(heard.mutex);
  ASSERT_FALSE(heard.times.empty());
  auto hostOf = [&](double seconds) {  // host time of a moment of the recording
    const size_t index = size_t(seconds * kRate);
    auto t = std::find_if(heard.times.rbegin(), heard.times.rend(),
                          [&](const auto& p) { return p.first <= index; });
    if (t == heard.times.rend()) t = std::prev(heard.times.rend());
    return t->second + (double(index) - double(t->first)) / kRate;
  };
  auto clockAt = [&](double host) {
    for (size_t i = 1; i < clock.size(); ++i)
      if (clock[i].first >= host) return clock[i - 1].second;
    return clock.back().second;
  };
  const auto onsets = testing::toneOnsets(heard.samples, kRate);
  ASSERT_EQ(onsets.size(), 2u);
  EXPECT_NEAR(clockAt(hostOf(onsets[0])), 0.5, 0.04);
  // At double speed the stretching smears a tone's start a little ahead.
  EXPECT_NEAR(clockAt(hostOf(onsets[1])), 1.5, 0.06);
  // The second tone was played at double speed, its pitch kept.
  EXPECT_NEAR(frequencyAt(heard.samples, onsets[1] + 0.01, 0.025), 1000, 100);
}

// A 30 s edit of a 4 s sound with a tone at 0.5 s, opened for the sound server.
std::unique_ptr<EditedAudioPlayer> openOnServer(testing::TempDir& dir, Mailbox& mailbox) {
  testing::makeToneSound(dir.file("voice.m4a"), 4, {0.5});
  Clip clip;
  clip.duration = 30;
  clip.audioPath = dir.file("voice.m4a");
  std::string error;
  auto player = EditedAudioPlayer::open(clip, {mailbox.post(), {}}, &error);
  EXPECT_TRUE(player) << error;
  return player;
}

// Seeks and waits for the completion on the sound server; whether it finished there.
bool seekOnServer(EditedAudioPlayer& player, Mailbox& mailbox, double t) {
  std::optional<bool> seeked;
  player.seek(t, [&](bool f) { seeked = f; });
  return mailbox.runUntil([&] { return seeked.has_value(); }) && *seeked && player.audible();
}

// The sound server going away mid-play: the player carries on at the same place on the
// null sink, still playing, with no error.
TEST(AudioPlayerPulse, ServerLeavingMidPlayCarriesOnOnTheNullSink) {
  auto server = std::make_unique<test::PrivateSoundServer>();
  if (!server->ok()) GTEST_SKIP() << "no sound server can be started here";
  testing::TempDir dir;
  Mailbox mailbox;
  auto player = openOnServer(dir, mailbox);
  ASSERT_TRUE(player);
  ASSERT_TRUE(seekOnServer(*player, mailbox, 0));
  player->play();
  ASSERT_TRUE(eventually([&] { return player->currentTime() > 0.3; }));

  server.reset();
  ASSERT_TRUE(eventually([&] { return !player->audible(); }));
  const double after = player->currentTime();
  EXPECT_GT(after, 0.3);
  EXPECT_TRUE(eventually([&] { return player->currentTime() > after + 0.3; }));
  EXPECT_TRUE(player->playing());
  EXPECT_EQ(player->error(), "");
}

// A sink that starts a stream late (a fresh null sink holds a second rendered ahead) or
// reads it in bursts: at each start the clock used to jump ahead, then stand still for up
// to a second while the picture waited with it.
TEST(AudioPlayerPulse, EachStartRunsTheClockFromTheSeekWithoutJumpOrHold) {
  test::PrivateSoundServer server;
  if (!server.ok()) GTEST_SKIP() << "no sound server can be started here";
  testing::TempDir dir;
  Mailbox mailbox;
  auto player = openOnServer(dir, mailbox);
  ASSERT_TRUE(player);

  for (const double at : {5.0, 12.0, 2.0}) {
    ASSERT_TRUE(seekOnServer(*player, mailbox, at));
    const double start = platform::hostTime();
    player->play();
    std::vector<std::pair<double, double>> clock;  // since the start, player time
    while (platform::hostTime() < start + 1.5) {
      clock.push_back({platform::hostTime() - start, player->currentTime()});
      std::this_thread::sleep_for(3ms);
    }
    player->pause();
    EXPECT_NEAR(clock.front().second, at + clock.front().first, 0.015) << "from " << at;
    for (size_t i = 0, j = 0; i < clock.size(); ++i) {
      const auto [host, t] = clock[i];
      ASSERT_LE(t, at + host * 1.1 + 0.015) << "ahead at " << host << " s from " << at;
      while (j < clock.size() && clock[j].first < host + 0.1)
        ++j;
      if (j == clock.size()) break;
      // A tenth of a second later the clock has moved on by about as much.
      const double moved = clock[j].second - t, passed = clock[j].first - host;
      ASSERT_GT(moved, 0.5 * passed) << "held at " << t << " from " << at;
      ASSERT_LT(moved, 1.5 * passed) << "jumped at " << t << " from " << at;
    }
  }
}

}  // namespace
}  // namespace vantry
