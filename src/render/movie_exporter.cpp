#include "render/movie_exporter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <exception>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "localization/localization.h"
#include "model/frame_state.h"
#include "model/motion_timeline.h"
#include "model/uuid.h"
#include "platform/durable_file.h"
#include "platform/ffmpeg/audio_source.h"
#include "platform/ffmpeg/bgra_to_yuv.h"
#include "platform/ffmpeg/ff_util.h"
#include "platform/ffmpeg/movie_writer.h"
#include "platform/ffmpeg/remux_sound.h"
#include "render/export_compositor.h"
#include "render/export_workspace.h"
#include "render/file_delivery.h"
#include "render/frame_renderer.h"
#include "render/render_error.h"
#include "render/sound_placement.h"
#include "render/video_frames.h"

namespace vantry {

namespace fs = std::filesystem;

namespace {

double threadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

// A failure of the working file `path`: one of the system's errors people meet (a full
// disk) says why the file could not be written; any other the catalogue's sentence `key`
// says, with the library's text below it.
[[noreturn]] void failWith(const std::string& path, const std::string& libraryText, int errnum,
                           const char* key) {
  if (!systemReason(errnum).empty())
    throwWriteFailure(L("无法写入文件 {0}。", shownPath(path)), errnum, ExportPlace::workingFolder,
                      libraryText);
  throwStudioError(withDetail(L(key), libraryText));
}

[[noreturn]] void soundFailure(const std::string& path, const std::string& reason) {
  throwStudioError(AudioSource::failure(path, reason));
}

// The destination's folder must take the result; found out before any frame is rendered.
void checkDestinationFolder(const fs::path& folder) {
  struct stat st {};
  int err = 0;
  if (::stat(folder.c_str(), &st) != 0)
    err = errno;
  else if (!S_ISDIR(st.st_mode))
    err = ENOTDIR;
  else if (::access(folder.c_str(), W_OK | X_OK) != 0)
    err = errno;
  if (err)
    throwWriteFailure(L("导出文件夹不存在或无法写入：{0}。", shownPath(folder.string())), err,
                      ExportPlace::destination);
}

void checkStop(const std::stop_token& stop) {
  if (stop.stop_requested()) throw CancelledError();
}

bool sameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  if (fs::exists(a, ec) && fs::exists(b, ec)) return fs::equivalent(a, b, ec);
  return fs::weakly_canonical(a, ec) == fs::weakly_canonical(b, ec);
}

// A destination that is one of the project's own files would destroy the recording: the
// document the project was read from, its media, and the files a recording folder holds,
// compared by inode so that links and other spellings of a path are caught too.
void refuseOwnFiles(const Clip& clip, const std::optional<std::string>& document,
                    const fs::path& destination) {
  static const char* kOwnNames[] = {"screen.mp4", "camera.mov",   "voice.m4a",
                                    "edit.json",  "project.json", "capture-timing.json"};
  auto refuse = [] { throwStudioError(L("不能导出到项目自己的文件，请选择其他文件名。")); };
  std::vector<fs::path> folders;
  for (const auto& p : {clip.screenPath, clip.cameraPath, clip.audioPath, document}) {
    if (!p) continue;
    if (sameFile(*p, destination)) refuse();
    folders.push_back(fs::path(*p).parent_path());
  }
  const std::string name = destination.filename().string();
  for (const fs::path& folder : folders) {
    const bool inFolder = sameFile(folder, destination.parent_path());
    for (const char* own : kOwnNames)
      if ((inFolder && name == own) || sameFile(folder / own, destination)) refuse();
  }
}

// ---- The rendering pass: decode -> compose (several workers) -> encode ----

// The pictures are shared, not copied: a camera picture serves the output frames of its
// whole duration, a decoded screen picture is sampled where the decoder left it.
struct Job {
  long long index = 0;
  std::shared_ptr<const AVFrame> screenPlanes;  // or:
  std::optional<QImage> screen;
  std::shared_ptr<const AVFrame> cameraPlanes;  // or:
  std::optional<QImage> camera;
  qint64 cameraKey = 0;  // names the planes' picture
  FrameState state;
};

kernels::Planes planesOf(const AVFrame& frame) {
  kernels::Planes p;
  for (int i = 0; i < 3; ++i) {
    p.data[i] = frame.data[i];
    p.stride[i] = frame.linesize[i];
  }
  p.width = frame.width;
  p.height = frame.height;
  return p;
}

struct Composed {
  std::shared_ptr<AVFrame> picture;
};

class RenderPass {
 public:
  RenderPass(const Clip& clip, const EditSettings& settings, const ExportOptions& options,
             std::string path, std::string named, const MovieExporter::Progress& progress,
             std::stop_token stop, MovieExporter::Statistics& statistics)
      : clip_(clip),
        settings_(settings),
        options_(options),
        path_(std::move(path)),
        named_(std::move(named)),
        progress_(progress),
        stop_(stop),
        statistics_(statistics) {}

  void run();

 private:
  void produce();
  void compose();
  // An output picture of the pool, with what it holds from the frame last composed into it.
  struct Pooled {
    std::shared_ptr<AVFrame> frame;
    PlanesHistory* history = nullptr;
  };
  Pooled takePicture();
  void abort(std::exception_ptr error);
  void report(double value) {
    if (progress_) progress_(value);
  }

  const Clip& clip_;
  const EditSettings& settings_;
  const ExportOptions& options_;
  std::string path_;
  std::string named_;  // the file as messages name it (path_ may be an unnamed file)
  const MovieExporter::Progress& progress_;
  std::stop_token stop_;
  MovieExporter::Statistics& statistics_;  // written under mutex_

  long long count_ = 1;
  int fps_ = 60;
  MotionTimeline timeline_;
  std::optional<QImage> demoScreen_, demoCamera_;
  std::unique_ptr<VideoFrames> screenReader_, cameraReader_;
  std::shared_ptr<const AVFrame> lastCamera_;  // held, so that a new picture has a new address
  qint64 cameraKey_ = 0;

  std::mutex mutex_;
  // One condition per waiter, so a finished frame wakes only the stage that needs it.
  std::condition_variable roomCv_;  // producer: a frame left the pipeline
  std::condition_variable jobCv_;   // workers: a job is ready (or no more will come)
  std::condition_variable doneCv_;  // writer loop: a frame is composed
  void wakeAll() {
    roomCv_.notify_all();
    jobCv_.notify_all();
    doneCv_.notify_all();
  }
  std::deque<Job> jobs_;
  std::map<long long, Composed> done_;
  long long inFlight_ = 0;  // produced and not yet handed to the writer
  long long maxInFlight_ = 8;
  bool producerFinished_ = false;
  bool aborted_ = false;
  std::exception_ptr error_;
  std::vector<std::pair<std::shared_ptr<AVFrame>, std::unique_ptr<PlanesHistory>>> pictures_;
  // A camera picture serves consecutive output frames, which different workers compose.
  std::shared_ptr<BubbleCache> bubbles_ = std::make_shared<BubbleCache>();
};

void RenderPass::abort(std::exception_ptr error) {
  std::lock_guard lock(mutex_);
  if (!error_) error_ = error;
  aborted_ = true;
  wakeAll();
}

RenderPass::Pooled RenderPass::takePicture() {
  {
    std::lock_guard lock(mutex_);
    for (auto& [p, history] : pictures_)
      if (p.use_count() == 1 && av_frame_is_writable(p.get())) return {p, history.get()};
  }
  std::shared_ptr<AVFrame> frame(av_frame_alloc(), [](AVFrame* f) { av_frame_free(&f); });
  if (!frame) return {};
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = options_.width();
  frame->height = options_.height();
  frame->color_primaries = AVCOL_PRI_BT709;
  frame->color_trc = AVCOL_TRC_IEC61966_2_1;
  frame->colorspace = AVCOL_SPC_BT709;
  frame->color_range = AVCOL_RANGE_MPEG;
  if (av_frame_get_buffer(frame.get(), 0) < 0) return {};
  std::lock_guard lock(mutex_);
  pictures_.emplace_back(frame, std::make_unique<PlanesHistory>());
  statistics_.pictures = static_cast<long long>(pictures_.size());
  return {frame, pictures_.back().second.get()};
}

void RenderPass::produce() {
  try {
    for (long long i = 0; i < count_; ++i) {
      {
        std::unique_lock lock(mutex_);
        roomCv_.wait(
            lock, [&] { return aborted_ || stop_.stop_requested() || inFlight_ < maxInFlight_; });
        if (aborted_ || stop_.stop_requested()) return;
      }
      const double cpuStart = threadCpuSeconds();
      Job job;
      job.index = i;
      const double t = clip_.sourceTime(static_cast<double>(i) / fps_);
      job.state = timeline_.state(t);
      job.state.presenterMix = clip_.presenterMix(t);
      if (screenReader_) {
        VideoFrames::Picture picture =
            namingFailures(*clip_.screenPath, [&] { return screenReader_->picture(t); });
        job.screenPlanes = std::move(picture.planes);
        job.screen = std::move(picture.image);
      }
      if (!job.screen && !job.screenPlanes) job.screen = demoScreen_;
      if (cameraReader_) {
        VideoFrames::Picture picture = namingFailures(
            *clip_.cameraPath, [&] { return cameraReader_->picture(clip_.cameraTime(t)); });
        if (picture.planes && picture.planes != lastCamera_) {
          lastCamera_ = picture.planes;
          ++cameraKey_;
        }
        job.cameraPlanes = std::move(picture.planes);
        job.cameraKey = cameraKey_;
        job.camera = std::move(picture.image);
      }
      if (!job.camera && !job.cameraPlanes) job.camera = demoCamera_;
      const double spent = threadCpuSeconds() - cpuStart;
      std::lock_guard lock(mutex_);
      statistics_.readSeconds += spent;
      jobs_.push_back(std::move(job));
      ++inFlight_;
      jobCv_.notify_one();
    }
    std::lock_guard lock(mutex_);
    producerFinished_ = true;
    jobCv_.notify_all();
  } catch (...) {
    abort(std::current_exception());
  }
}

void RenderPass::compose() {
  try {
    ExportCompositor compositor(settings_, QSize(options_.width(), options_.height()));
    compositor.shareBubbles(bubbles_);
    for (;;) {
      Job job;
      {
        std::unique_lock lock(mutex_);
        jobCv_.wait(lock, [&] {
          return aborted_ || stop_.stop_requested() || !jobs_.empty() || producerFinished_;
        });
        if (aborted_ || stop_.stop_requested()) return;
        if (jobs_.empty()) return;  // producer finished
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      const double cpuStart = threadCpuSeconds();
      auto [picture, history] = takePicture();
      if (!picture) throwStudioError(L("导出内存分配失败。"));
      kernels::Planes out = planesOf(*picture);
      const kernels::Planes in = job.screenPlanes ? planesOf(*job.screenPlanes) : kernels::Planes{};
      const CameraPlanes camera{job.cameraPlanes ? planesOf(*job.cameraPlanes) : kernels::Planes{},
                                job.cameraKey};
      compositor.renderPlanes(job.screenPlanes ? &in : nullptr, job.screen ? &*job.screen : nullptr,
                              job.camera ? &*job.camera : nullptr, job.state, out,
                              job.cameraPlanes ? &camera : nullptr, history);
      const long long index = job.index;
      job = {};  // the pictures go back to their readers at once
      const double spent = threadCpuSeconds() - cpuStart;
      std::lock_guard lock(mutex_);
      statistics_.composeSeconds += spent;
      ++statistics_.frames;
      done_[index] = Composed{std::move(picture)};
      doneCv_.notify_one();
    }
  } catch (...) {
    abort(std::current_exception());
  }
}

void RenderPass::run() {
  fps_ = options_.frameRate();
  const double edited = clip_.editedDuration();
  count_ = MovieExporter::frameCount(edited, fps_);
  timeline_ = MotionTimeline(clip_, settings_);
  if (clip_.isDemo) {
    demoScreen_ = drawDemoScreen();
    demoCamera_ = drawDemoCamera();
  }
  // Decoding is a small part of the export's work, and every frame thread of a decoder
  // holds pictures of its own (a dozen threads at 2160p cost hundreds of MB): two keep the
  // decoder ahead of the composition.
  constexpr int kDecoderThreads = 2;
  if (clip_.screenPath)
    screenReader_ = namingFailures(*clip_.screenPath, [&] {
      return std::make_unique<VideoFrames>(*clip_.screenPath, kDecoderThreads);
    });
  // A damaged document can claim any length; beyond its screen movie it would only render
  // the last picture for ever.
  if (screenReader_ && screenReader_->duration() > 0 && edited > screenReader_->duration() + 1)
    throwStudioError(LF("剪辑时长 %.1f 秒超出录屏的 %.1f 秒，项目文件可能已损坏。", edited,
                        screenReader_->duration()));
  if (clip_.cameraPath)
    cameraReader_ = namingFailures(*clip_.cameraPath, [&] {
      return std::make_unique<VideoFrames>(*clip_.cameraPath, kDecoderThreads);
    });
  for (const auto* reader : {screenReader_.get(), cameraReader_.get()})
    if (reader)
      statistics_.decoderThreads = std::max(statistics_.decoderThreads, reader->decoderThreads());

  MovieWriterSettings ws;
  ws.path = path_;
  ws.container = options_.fileType();
  ws.crashSafe = false;
  // The encoder copies each picture as it takes it; the queue only smooths the hand-over,
  // and the composed frames waiting in order already do that.
  ws.queueFrames = 2;
  ws.video = options_.writerSettings();
  MovieWriter writer(ws);
  if (!writer.start()) {
    if (writer.videoEncoderName().empty())
      throwStudioError(L("当前设备不支持所选导出设置，请尝试 H.264 / 1080p。"));
    failWith(named_, writer.error(), writer.errorNumber(), "无法开始导出。");
  }

  const unsigned cores = std::max(2u, std::thread::hardware_concurrency());
  // Composition is a small part of a frame's cost next to the encoder: a few workers keep
  // it ahead, and the frames in flight (each holding an output picture and a decoded
  // source) stay few, whatever the length of the recording.
  const int workers = static_cast<int>(std::clamp(cores / 4, 2u, 4u));
  maxInFlight_ = 2 * workers + 2;

  std::vector<std::jthread> threads;
  auto stopThreads = [&] {
    {
      std::lock_guard lock(mutex_);
      aborted_ = true;
      wakeAll();
    }
    threads.clear();  // joins
  };
  std::stop_callback wake(stop_, [&] {
    std::lock_guard lock(mutex_);
    wakeAll();
  });
  try {
    threads.emplace_back([this] { produce(); });
    for (int w = 0; w < workers; ++w)
      threads.emplace_back([this] { compose(); });

    const double frameLength = 1.0 / fps_;
    for (long long i = 0; i < count_; ++i) {
      Composed frame;
      {
        std::unique_lock lock(mutex_);
        doneCv_.wait(lock, [&] { return aborted_ || stop_.stop_requested() || done_.count(i); });
        if (error_) std::rethrow_exception(error_);
        checkStop(stop_);
        if (aborted_) throw CancelledError();
        frame = std::move(done_[i]);
        done_.erase(i);
      }
      VideoFrameView view;
      view.picture = frame.picture.get();
      view.width = options_.width();
      view.height = options_.height();
      view.format = AV_PIX_FMT_YUV420P;
      view.owner = frame.picture;
      const double time = static_cast<double>(i) * frameLength;
      std::optional<double> duration;
      if (i == count_ - 1) {
        // The movie ends at the edited duration; an empty edit still shows its one frame
        // for a whole frame's length.
        const double rest = edited - time;
        duration = rest > 1e-9 ? std::min(rest, frameLength) : frameLength;
      }
      checkStop(stop_);
      if (!writer.appendVideo(std::move(view), time, duration, true)) {
        checkStop(stop_);
        failWith(
            named_, writer.error(), writer.errorNumber(),
            writer.state() == MovieWriter::State::writing ? "导出帧写入失败。" : "视频编码失败。");
      }
      {
        std::lock_guard lock(mutex_);
        --inFlight_;
        roomCv_.notify_one();
      }
      if (i % 8 == 0) report(static_cast<double>(i) / count_ * 0.94);
    }
    stopThreads();
    report(0.94);
    if (!writer.finish()) failWith(named_, writer.error(), writer.errorNumber(), "导出未完成。");
    checkStop(stop_);
  } catch (...) {
    stopThreads();
    writer.cancel();
    throw;
  }
}

}  // namespace

long long MovieExporter::frameCount(double editedDuration, int fps) {
  const double exact = editedDuration * fps;
  if (std::isnan(exact) || exact <= 0) return 1;
  // At most a day of frames: nothing longer is meant, and the cast must stay defined.
  const double most = 24.0 * 3600 * std::max(fps, 1);
  if (exact >= most) return static_cast<long long>(most);
  const double frames = std::ceil(exact - 1e-9 * std::max(1.0, exact));
  return std::max(1LL, static_cast<long long>(frames));
}

std::string MovieExporter::temporaryRoot() {
  if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp) return tmp;
  return "/var/tmp";
}

void MovieExporter::exportMovie(const Clip& clip, const EditSettings& settings,
                                const ExportOptions& options, const std::string& destination,
                                const Progress& progress, std::stop_token stop) {
  auto report = [&](double v) {
    if (progress) progress(v);
  };
  const fs::path dest = fs::absolute(destination);
  refuseOwnFiles(clip, documentPath_, dest);
  checkDestinationFolder(dest.parent_path());
  // Every input is opened before the first frame, so that a missing or damaged file is
  // reported at once rather than after the whole render.
  std::unique_ptr<AudioSource> sound;
  if (clip.audioPath) {
    std::string error;
    sound = AudioSource::open(*clip.audioPath, 48000, &error);
    if (!sound) throwStudioError(error);
  }
  checkStop(stop);
  ExportWorkspace work(temporaryRoot());
  const std::string ext = options.fileExtension();
  const fs::path rendered = work.file("render." + ext);
  statistics_ = {};
  RenderPass(clip, settings, options, rendered.string(), (work.path() / ("render." + ext)).string(),
             progress, stop, statistics_)
      .run();
  checkStop(stop);
  report(0.95);

  fs::path deliver = rendered;
  if (sound) {
    std::string error;
    std::vector<PlacedSound> placed;
    if (sound->hasAudio()) {
      for (const SoundPiece& p : soundPieces(clip, sound->duration()))
        placed.push_back({p.read, p.length, p.at});
    }
    const fs::path withAudio = work.file("with-audio." + ext);
    const RemuxResult result = remuxWithSound(
        rendered.string(), withAudio.string(), options.fileType(), *sound, placed,
        [&] { return stop.stop_requested(); }, &error);
    if (result == RemuxResult::cancelled) throw CancelledError();
    if (result == RemuxResult::noVideo) throwStudioError(L("无法合成导出视频。"));
    if (result == RemuxResult::soundFailed) soundFailure(*clip.audioPath, error);
    if (result == RemuxResult::failed)
      failWith((work.path() / ("with-audio." + ext)).string(), error, systemErrorNumberOf(error),
               "无法合并麦克风音轨。");
    deliver = withAudio;
  }

  checkStop(stop);
  report(0.99);
  const fs::path hidden =
      dest.parent_path() / (".pexilar-" + Uuid::random().toString() + "." + ext);
  struct HiddenCopy {
    fs::path path;
    ~HiddenCopy() {
      std::error_code ec;
      fs::remove(path, ec);
    }
  } guard{hidden};
  work.note(hidden);
  // A re-export keeps the replaced file's permissions (a private movie stays private); a
  // link at the destination is replaced, and what it leads to lends nothing.
  const std::string cannotWrite = L("无法写入文件 {0}。", shownPath(dest.string()));
  try {
    copyToNewFile(deliver, hidden, platform::modeToKeep(dest),
                  [&] { return stop.stop_requested(); });
  } catch (const std::system_error& e) {
    throwWriteFailure(cannotWrite, e.code().value(), ExportPlace::destination);
  }
  // The copy is on disk: from here to the rename only a moment passes, and a cancel that
  // came before it still wins.
  checkStop(stop);
  // fsync, one rename over the destination, folder sync; the hidden copy goes on failure.
  if (const std::string error = platform::replaceDurably(hidden, dest); !error.empty())
    throwWriteFailure(cannotWrite, systemErrorNumberOf(error), ExportPlace::destination, error);
  report(1.0);
}

}  // namespace vantry
