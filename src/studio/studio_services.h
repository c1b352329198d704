// What the controller needs of the world around it, behind interfaces so that tests can
// decide when asynchronous work completes: the clock, the pointer, movie frame sources,
// the edited-sound player, dialogs, the desktop, screen names, capture and the full-screen
// player. `defaultStudioServices()` gives the real ones.
#pragma once

#include <QImage>
#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "model/clip.h"
#include "platform/screen_source.h"

class QFileDialog;
class QWidget;

namespace vantry {

class Studio;
struct ExportOptions;

// Seconds of the monotonic host clock (the clock capture timestamps use).
using HostClock = std::function<double()>;

// A movie's pictures for the preview. Reading blocks, so an implementation decodes on its
// own worker: the main thread posts the wanted time (the newest request wins) and paints
// the newest picture that has arrived.
class FrameSource {
 public:
  virtual ~FrameSource() = default;
  // Asks for the picture at a source time; returns at once. `shownWidth`: the widest the
  // picture is shown (0: at its full size); a smaller picture at least that wide may come.
  virtual void request(double seconds, int shownWidth = 0) = 0;
  // The newest decoded picture (null until one arrived) and the time it was asked for.
  virtual QImage latest() const = 0;
  virtual double latestTime() const = 0;
  // A reading failure (translated text), reported once: taking it clears it until the
  // next failure after a new request.
  virtual std::optional<std::string> takeError() = 0;
  // A request is still being read (its picture, if a new one, is on its way).
  virtual bool reading() const { return false; }
  // Called on any thread when a requested picture or a failure arrived (the controller
  // posts a repaint to the main thread).
  std::function<void()> onReady;
};
// Opens a movie; throws StudioError (or a translated runtime_error) when it cannot be read.
using FrameSourceFactory = std::function<std::unique_ptr<FrameSource>(const std::string& path)>;

// The edited sound as the playback clock.
class PlaybackAudio {
 public:
  virtual ~PlaybackAudio() = default;
  virtual void pause() = 0;
  // Plays from the current place at a rate (0.5 to 2, pitch kept).
  virtual void play(double rate) = 0;
  // Exact seek to an output time; `done(finished)` may run on any thread. A newer seek
  // supersedes an older one, which completes with finished = false.
  virtual void seek(double seconds, std::function<void(bool finished)> done) = 0;
  // Output seconds of what is heard now; NaN before the first seek completed.
  virtual double currentTime() const = 0;
  // A failure while playing, translated; empty while all is well.
  virtual std::string error() const = 0;
  // Lays the sound out again for an edited document over the same file, keeping the file
  // open. False: the controller builds a new player instead.
  virtual bool configure(const Clip& /*clip*/) { return false; }
};
// Builds the player for a project's sound; nullptr when there is nothing to play. Throws a
// translated error when the sound cannot be read.
using PlaybackAudioFactory =
    std::function<std::unique_ptr<PlaybackAudio>(const Clip& clip, const std::string& audioPath)>;

// Modal dialogs. Each returns the chosen path, or nothing when cancelled.
class StudioDialogs {
 public:
  virtual ~StudioDialogs() = default;
  virtual std::optional<std::string> chooseProject() = 0;
  virtual std::optional<std::string> chooseExportDestination(const std::string& suggestedName,
                                                             const ExportOptions& options) = 0;
};

// Told, on the main thread and maybe later, whether the desktop took a path: false when it
// has no program to open it with.
using DesktopDone = std::function<void(bool opened)>;

// The desktop: file manager, default applications, in-app help. Each call returns at once.
class StudioDesktop {
 public:
  virtual ~StudioDesktop() = default;
  virtual void openFolder(const std::string& path, DesktopDone done) = 0;
  // Shows a file selected in the file manager, or at least its folder.
  virtual void revealFile(const std::string& path, DesktopDone done) = 0;
  // Opens a file with the desktop's default application.
  virtual void openFile(const std::string& path, DesktopDone done) = 0;
  // The help on display access, the video group and the sound server.
  virtual void openPermissionHelp() = 0;
};

// Names of the connected screens.
class ScreenNames {
 public:
  virtual ~ScreenNames() = default;
  // The shown name of a display, nothing when it is not connected.
  virtual std::optional<std::string> displayName(platform::DisplayId id) const = 0;
  virtual platform::DisplayId primaryDisplay() const = 0;
};

// --- Capture, as the controller drives it. Every call may block: the controller makes
// them on its setup worker, never on the main thread. Callbacks arrive on capture threads.

class LivePreview {
 public:
  virtual ~LivePreview() = default;
  std::function<void(const QImage&)> onFrame;
  std::function<void(const std::string&)> onError;
  // Throws a translated error.
  virtual void start(platform::DisplayId display, std::optional<platform::WindowId> window) = 0;
  virtual void stop() = 0;
};

class LiveCamera {
 public:
  virtual ~LiveCamera() = default;
  virtual void setOnFrame(std::function<void(const QImage&)> handler) = 0;
  virtual void preparePreview() = 0;  // throws a translated error
  virtual void stopPreview() = 0;
};

class Recording {
 public:
  virtual ~Recording() = default;
  std::function<void(const QImage&)> onFrame;
  // A failure while recording; the recording goes on (translated).
  std::function<void(const std::string&)> onFailure;
  // The stream ended for good (lost display or server): the controller stops as if the
  // user pressed stop.
  std::function<void()> onEnded;
  // Throws a translated error.
  virtual void start(platform::DisplayId display, std::optional<platform::WindowId> window,
                     bool camera, bool microphone, std::shared_ptr<LiveCamera> preparedCamera) = 0;
  // Throws a translated error when nothing could be kept.
  virtual Clip stop() = 0;
  virtual std::string warning() const = 0;
  // Host-clock time of the first frame, once known. Thread-safe.
  virtual std::optional<double> startClock() const = 0;
  virtual platform::Rect screenRect() const = 0;
  virtual platform::Size captureSize() const = 0;
};

class StudioCapture {
 public:
  virtual ~StudioCapture() = default;
  virtual platform::ShareableContent shareableContent() = 0;  // throws a translated error
  virtual platform::ApplicationInfo ownApplication() = 0;
  virtual std::unique_ptr<LivePreview> makePreview() = 0;
  virtual std::shared_ptr<LiveCamera> makeCamera() = 0;
  virtual std::unique_ptr<Recording> makeRecording() = 0;
  // The pointer as the frame clock reads it (main thread).
  virtual std::unique_ptr<platform::PointerSource> makePointer() = 0;
  // Small icon of a window (empty when it has none).
  virtual QImage windowIcon(platform::WindowId, int /*size*/) { return {}; }
};

// The full-screen player window. Made by the views; the controller holds it and releases
// it with deleteLater() once it closed.
class FullscreenPreviewController : public QObject {
 public:
  using QObject::QObject;
  // Opens the window full screen on the active window's screen.
  virtual void present() = 0;
  // Brings the open window forward.
  virtual void raise() = 0;
};
using FullscreenFactory = std::function<FullscreenPreviewController*(Studio&)>;

struct StudioServices {
  HostClock clock;  // empty: platform::hostTime
  FrameSourceFactory openFrames;
  PlaybackAudioFactory makeAudio;
  std::shared_ptr<StudioDialogs> dialogs;
  std::shared_ptr<StudioDesktop> desktop;
  std::shared_ptr<ScreenNames> screens;
  std::shared_ptr<StudioCapture> capture;
  FullscreenFactory makeFullscreen;  // set by the views; empty: no full-screen player
  // Where recordings live (empty: the recorder's default folder).
  std::string recordingsFolder;
  // Autosave delay and frame-clock interval, for tests.
  int autosaveDelayMs = 350;
  bool startClock = true;  // false: tests call tick() themselves
};

// The X11 capture, the camera and the microphone as the controller drives them.
std::shared_ptr<StudioCapture> defaultStudioCapture();

// The running system's services (X11 capture, FFmpeg readers, the sound server, Qt
// dialogs and desktop services). Dialog, desktop and screen services need a
// QGuiApplication.
StudioServices defaultStudioServices();
// The file dialog in which those services let the person choose a project (also shown by
// the shots).
std::unique_ptr<QFileDialog> projectFileDialog(QWidget* owner);

}  // namespace vantry
