// studio/: the controller, Studio, in one file a concern (project, editing, playback,
// recording setup and recording, export, the tick), with the services it runs on.
//
// Studio: the one controller of the application. It owns the open project, the live
// preview, the recording in progress, playback, the undo history, autosave and the export
// flow. Views observe it and call its operations; nothing else touches capture, the
// player or the exporter.
//
// Notification: every assignment of a published field (through its setter, also of an
// equal value) stores the value, runs the field's observer, then emits changed(). `time`
// emits timeChanged() instead, and the frame clock emits frameTick() on the ticks that
// move the live motion or the presenter spring, so 60 Hz never rebuilds the window. A live
// picture that replaces another emits liveFrame() instead: only the views that show the
// pictures redraw for it; its coming or going (null or not) is a change().
// Internal writes use the setters. All members belong to the main thread.
#pragma once

#include <QDateTime>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/clip.h"
#include "model/frame_state.h"
#include "model/motion_engine.h"
#include "model/motion_spring.h"
#include "model/motion_timeline.h"
#include "model/timeline_scale.h"
#include "model/uuid.h"
#include "render/export_options.h"
#include "studio/studio_services.h"

class QTimer;

namespace vantry {

class FrameClock;
class FrameRenderer;

enum class RecordingSource { display, window };

// Why a save of the project failed: the file, the system's error number (0 when there is
// none) and the system's own text, or the encoder's when the document could not be encoded.
struct SaveFailure {
  std::string path;
  int errnum = 0;
  std::string detail;
};

// "%02d:%02d" of whole seconds; 00:00 for negative or non-finite values; capped so that
// huge values never overflow.
std::string clock(double seconds);

class Studio : public QObject {
  Q_OBJECT

 public:
  static constexpr double newZoomLength = 3.0;
  static constexpr int undoLimit = 100;

  explicit Studio(StudioServices services = defaultStudioServices(), QObject* parent = nullptr);
  // Flushes a pending save, stops the clock and joins every worker, but for an open of a
  // project that does not return, which is left behind (project_opener.h).
  ~Studio() override;

  // --- Published state: getters ---
  const Clip& clip() const { return clip_; }
  const EditSettings& settings() const { return settings_; }
  double time() const { return time_; }
  bool playing() const { return playing_; }
  double playbackRate() const { return playbackRate_; }
  bool fullscreenPreview() const { return fullscreenPreview_; }
  bool standby() const { return standby_; }
  bool fullPresenter() const { return fullPresenter_; }
  const std::optional<Uuid>& selectedSegment() const { return selectedSegment_; }
  const std::optional<Uuid>& selectedZoomID() const { return selectedZoomID_; }
  const std::optional<PresenterBlock::ID>& selectedPresenterID() const {
    return selectedPresenterID_;
  }
  double timelineZoom() const { return timelineZoom_; }
  const std::vector<Clip>& undoStack() const { return undoStack_; }
  const std::vector<Clip>& redoStack() const { return redoStack_; }
  bool recording() const { return recording_; }
  // A recording starts or stops, or a project opens.
  bool busy() const { return busy_; }
  bool exporting() const { return exporting_; }
  double exportProgress() const { return exportProgress_; }
  bool showingExport() const { return showingExport_; }
  const ExportOptions& exportOptions() const { return exportOptions_; }
  const std::optional<QDateTime>& exportStartedAt() const { return exportStartedAt_; }
  const std::optional<QDateTime>& exportFinishedAt() const { return exportFinishedAt_; }
  const std::optional<std::string>& exportResultURL() const { return exportResultURL_; }
  const std::optional<std::string>& exportFailure() const { return exportFailure_; }
  bool exportCancelling() const { return exportCancelling_; }
  bool exportCancelled() const { return exportCancelled_; }
  const std::optional<std::string>& error() const { return error_; }
  bool screenPermissionNeeded() const { return screenPermissionNeeded_; }
  const std::string& notice() const { return notice_; }
  bool useCamera() const { return useCamera_; }
  bool showingRecordingSetup() const { return showingRecordingSetup_; }
  RecordingSource setupMode() const { return setupMode_; }
  const QImage& liveScreenImage() const { return liveScreenImage_; }  // null: none
  const QImage& liveCameraImage() const { return liveCameraImage_; }  // null: none
  const std::optional<std::string>& setupError() const { return setupError_; }
  bool preparing() const { return preparing_; }
  bool useMicrophone() const { return useMicrophone_; }
  const std::vector<platform::DisplayInfo>& displays() const { return displays_; }
  const std::vector<platform::WindowInfo>& captureWindows() const { return captureWindows_; }
  // Icons of the listed windows by id, read with the list (null image: none).
  QImage captureWindowIcon(platform::WindowId id) const;
  const std::optional<platform::WindowId>& selectedWindowID() const { return selectedWindowID_; }
  bool loadingSources() const { return loadingSources_; }
  const std::optional<std::string>& sourceListError() const { return sourceListError_; }
  platform::DisplayId selectedDisplay() const { return selectedDisplay_; }
  const std::optional<std::string>& projectURL() const { return projectURL_; }

  // --- Published state: setters (store, observer, changed()) ---
  void setClip(Clip value);
  void setSettings(EditSettings value);  // observer: rebuild when motion changes; autosave
  void setTime(double value);            // emits timeChanged()
  void setPlaying(bool value);           // observer: anchor the clock / pause the sound
  void setPlaybackRate(double value);    // observer: keep the playhead continuous
  void setFullscreenPreview(bool value);
  void setStandby(bool value);
  void setFullPresenter(bool value);
  void setSelectedSegment(std::optional<Uuid> value);
  void setSelectedZoomID(std::optional<Uuid> value);
  void setSelectedPresenterID(std::optional<PresenterBlock::ID> value);
  void setTimelineZoom(double value);
  void setRecording(bool value);
  void setBusy(bool value);
  void setExporting(bool value);
  void setExportProgress(double value);
  void setShowingExport(bool value);
  void setExportOptions(ExportOptions value);
  void setError(std::optional<std::string> value);
  void setScreenPermissionNeeded(bool value);
  void setNotice(std::string value);
  void setShowingRecordingSetup(bool value);
  void setSetupMode(RecordingSource value);
  void setLiveScreenImage(QImage value);
  void setLiveCameraImage(QImage value);
  void setSetupError(std::optional<std::string> value);
  void setPreparing(bool value);
  void setUseMicrophone(bool value);
  void setSelectedWindowID(std::optional<platform::WindowId> value);
  void setSelectedDisplay(platform::DisplayId value);
  void setProjectURL(std::optional<std::string> value);

  // --- Derived state (no side effects) ---
  bool live() const { return standby_ || recording_; }
  bool previewing() const { return standby_ || showingRecordingSetup_; }
  bool canStartRecording() const;
  double duration() const;
  double sourceTime() const;
  FrameState state() const;
  bool presenterFull() const;
  bool hasCamera() const;
  std::optional<PresenterBlock> selectedPresenterBlock() const;
  std::string selectedScreenName() const;
  std::optional<ZoomEvent> selectedZoom() const;
  bool canUndo() const { return !undoStack_.empty(); }
  bool canRedo() const { return !redoStack_.empty(); }
  // Editing is allowed: a project is open and nothing records, exports, starts or stops a
  // recording, or opens a project.
  bool canEdit() const { return !editRefused(); }
  const MotionTimeline& motion() const { return motion_; }
  const FrameRenderer& renderer() const { return *renderer_; }
  // A stage shows the whole screen picture, unzoomed, this many device pixels wide (0: it
  // shows none now). While playing, the screen's pictures are read no larger than the
  // widest stage needs at the zoom of the moment; at rest they are read whole.
  void setStageWidth(const void* stage, int pixels);
  // Frame sources of the open project (null without a movie), for the preview surface.
  FrameSource* screenFrames() const { return source_.get(); }
  FrameSource* cameraFrames() const { return face_.get(); }
  // The audio player's time while it drives playback, else `time`.
  double displayTime() const;
  bool seeking() const { return seeking_; }
  bool hasVoice() const { return voice_ != nullptr; }

  // --- Frame clock ---
  void tick();
  // The clock ticks only while something moves by itself: a recording, playback, or the
  // presenter spring on its way while live.
  bool clockRunning() const;

  // --- Live preview and capture sources ---
  void launchPreview();
  void enterStandby();
  void prepareRecording();
  void cancelRecordingSetup();
  void dismissRecordingSetup();
  void setUseCamera(bool on);
  void refreshCaptureSources();  // asynchronous; publishes the lists when done
  void openScreenPermissionSettings();

  // --- Recording ---
  void record();
  void startPreparedRecording();
  // Refused unless recording and not busy.
  void stop();

  // --- Editing ---
  void checkpoint();
  // A view's direct change of the document or settings (slider drags): begin pushes the
  // undo snapshot at the first accepted change, at most once per gesture. Guarded.
  void beginEditGesture();
  void endEditGesture();
  // Camera audio sync through the controller's guards (with an undo step per gesture).
  void setCameraSync(std::optional<double> seconds);
  void undoEdit();
  void redoEdit();
  void split();
  void deleteSelection();
  void selectZoom(const Uuid& id);
  void addZoomAtPlayhead();
  void addZoom(double atOutput);
  void setZoomAmount(const Uuid& id, std::optional<double> amount, bool recordUndo = true);
  void removeSelectedZoom();
  void resizeZoom(const Uuid& id, bool leading, double to);
  void moveZoom(const Uuid& id, double to);
  void selectPresenterBlock(const PresenterBlock::ID& id);
  void setPresenter(bool fullScreen);

  // --- Playback ---
  void seek(double outputTime);
  void togglePlayback();
  void showFullscreenPreview();
  // Told by the full-screen window when it closes.
  void fullscreenClosed();
  FullscreenPreviewController* fullscreenController() const { return fullscreenController_; }

  // --- Projects and autosave ---
  // Writes the open project now (waits for a save in flight); false when it failed (the
  // alert is in `error`, the reason in saveFailure()). True when there was nothing to save:
  // no project file, or no change since the file was last written or read.
  bool saveNow();
  // Why the last saveNow() failed; none once one succeeded or had nothing to write.
  const std::optional<SaveFailure>& saveFailure() const { return saveFailure_; }
  void scheduleSave();
  // All or nothing: false (with `error` set) leaves the open project as it was. Opens the
  // movies on the calling thread (tools and tests); the application opens projects through
  // openProjectFile() and the recording stop, which open on a worker.
  bool load(const Clip& clip);
  void openProject();
  // Opens a project file as openProject() does after its dialog. The document is read and
  // its movies opened on a worker while `busy` is set; the project is then installed all
  // or nothing (a failure in `error`, the open project unchanged). A newer open, demo()
  // or enterStandby() overtakes it. False when refused; otherwise `done`, when given, runs
  // on the main thread once the open ended, telling whether the project opened.
  bool openProjectFile(const std::string& path, std::function<void(bool opened)> done = {});
  // A project chosen by the user is being opened (`busy` meanwhile).
  bool opening() const;
  // Drops the project still being opened (quitting); the open project stays as it is.
  void cancelOpening();
  // What main() returns once every controller is gone: `status`. While an open left running
  // on storage that stopped answering may still return, the process ends here instead, at
  // once with `status` (stdio flushed, no static destructors), so that the open's tail never
  // runs among them.
  static int exitStatus(int status);
  void demo();
  // What the desktop cannot open (no file manager or default application) is told in
  // `error`, naming the path so that the person can open it themselves.
  void revealRecordings();
  // The last exported movie in the file manager, or played with the default application.
  void revealExportResult();
  void openExportResult();
  // The privacy notes the application ships, at `path`, with the default application.
  void openPrivacyNotes(const std::string& path);

  // --- Export ---
  void exportMovie();  // the sheet's opener ("export" in the design)
  void resetExportResult();
  void dismissExport();
  void beginExport();
  // Exports to a chosen destination without the dialog (tools and tests).
  void beginExportTo(const std::string& destination);
  void cancelExport();
  static std::string exportFileName(const QDateTime& date, bool demo);

 signals:
  void changed();
  void timeChanged();
  void frameTick();
  void liveFrame();

 private:
  // The implementation's private state; each concern lives in its own file.
  friend class StudioTestAccess;

  void rebuild();
  // Starts the frame clock when something moves by itself, stops it when nothing does.
  void updateClock();
  void edited();
  void configureAudio();
  void synchronizePlayback();
  double now() const { return services_.clock(); }
  // Refuses editing in live preview, while recording, exporting, and while a recording
  // starts or stops or a project opens (the project is being left).
  bool editRefused() const { return standby_ || recording_ || exporting_ || busy_; }
  // The undo snapshot of one edit; inside an open gesture only the first one is taken.
  void recordUndo();
  void stopForSelection();
  // Asks the frame sources for the pictures at the playhead.
  void requestFrames();
  // The width the screen's picture is read for at a source time (0: whole).
  int screenWidthShown(double source) const;
  // A frame source delivered a picture or a failure (main thread).
  void framesArrived();
  void setSeeking(bool value) { seeking_ = value; }
  // Puts the project set aside by a recording's start back, as it was (a failed start or
  // stop).
  void reattachProject();
  // The pending autosave fired: writes on the save worker without waiting.
  void autosave();
  // Queues a write of the open project without waiting for it; nothing when there is
  // nothing to save.
  std::optional<std::shared_future<std::optional<SaveFailure>>> submitSave();

  // Opening projects (the worker's part in project_opener.h).
  struct Opened;
  struct Opener;
  // Leaving the open project is refused: while recording or exporting, and while a
  // recording starts or stops (an open of a chosen project may be overtaken).
  bool leavingRefused() const;
  // The sound of `clip`, or none, with `error` saying why it could not be read.
  std::unique_ptr<PlaybackAudio> openAudio(const Clip& clip,
                                           std::optional<std::string>* error) const;
  // Main thread: the opened project becomes the open one (busy must be clear).
  void install(Opened opened);
  // The stopped recording's project, opened on the worker; `busy` stays set until then.
  void openRecording(Clip clip, std::string warning);

  StudioServices services_;

  // Document and playback
  Clip clip_;
  EditSettings settings_;
  double time_ = 0;
  bool playing_ = false;
  double playbackRate_ = 1.0;
  bool fullscreenPreview_ = false;
  QPointer<FullscreenPreviewController> fullscreenController_;
  double playbackAnchorTime_ = 0;
  double playbackAnchorHost_ = 0;
  std::int64_t seekGeneration_ = 0;
  bool seeking_ = false;

  // Mode, selection and undo
  bool standby_ = true;
  bool fullPresenter_ = false;
  std::optional<Uuid> selectedSegment_;
  std::optional<Uuid> selectedZoomID_;
  std::optional<PresenterBlock::ID> selectedPresenterID_;
  double timelineZoom_ = TimelineScale::defaultZoom;
  std::vector<Clip> undoStack_;
  std::vector<Clip> redoStack_;
  std::optional<std::string> projectURL_;
  // Counts the changes of `clip` and `settings`: the project file is up to date when it
  // was last written or read at the present count.
  std::uint64_t revision_ = 0;
  std::optional<SaveFailure> saveFailure_;
  bool hasLaunched_ = false;
  MotionSpring presenterSpring_;
  std::vector<PresenterEvent> recordingLayouts_;
  bool gestureOpen_ = false;
  bool gestureCheckpointed_ = false;

  // Recording and export status
  bool recording_ = false;
  bool busy_ = false;
  bool exporting_ = false;
  double exportProgress_ = 0;
  bool showingExport_ = false;
  ExportOptions exportOptions_;
  std::optional<QDateTime> exportStartedAt_;
  std::optional<QDateTime> exportFinishedAt_;
  std::optional<std::string> exportResultURL_;
  std::optional<std::string> exportFailure_;
  bool exportCancelling_ = false;
  bool exportCancelled_ = false;
  Uuid exportID_ = Uuid::random();
  std::optional<std::string> error_;
  bool screenPermissionNeeded_ = false;
  std::string notice_;

  // Recording setup and capture sources
  bool useCamera_ = true;
  bool showingRecordingSetup_ = false;
  RecordingSource setupMode_ = RecordingSource::display;
  QImage liveScreenImage_;
  QImage liveCameraImage_;
  std::optional<std::string> setupError_;
  bool preparing_ = false;
  std::int64_t setupGeneration_ = 0;
  bool livePressed_ = false;
  bool useMicrophone_ = true;
  std::vector<platform::DisplayInfo> displays_;
  std::vector<platform::WindowInfo> captureWindows_;
  std::vector<platform::ApplicationInfo> captureApplications_;
  std::optional<platform::WindowId> selectedWindowID_;
  bool loadingSources_ = false;
  std::optional<std::string> sourceListError_;
  platform::DisplayId selectedDisplay_ = 0;

  // Runtime engine
  MotionTimeline motion_;
  std::unique_ptr<FrameSource> source_;
  std::unique_ptr<FrameSource> face_;
  std::map<const void*, int> stageWidths_;
  std::unique_ptr<PlaybackAudio> voice_;
  FrameClock* clock_ = nullptr;
  QTimer* saveTimer_ = nullptr;
  double lastTick_ = 0;
  double recordingStart_ = 0;
  FrameState liveState_;
  MotionEngine liveMotion_;
  Point livePointer_{0.5, 0.5};
  double liveClick_ = -100;
  Point liveFocus_{0.5, 0.5};
  std::unique_ptr<FrameRenderer> renderer_;

  // Capture objects (live preview, prepared camera, running recording, pointer).
  std::unique_ptr<LivePreview> preview_;
  std::shared_ptr<LiveCamera> preparedCamera_;
  std::unique_ptr<Recording> recorder_;
  std::unique_ptr<platform::PointerSource> pointer_;

  // Workers of the separate concerns, each defined in its own file: the autosave writer,
  // the capture setup queue, the export run.
  struct SaveWorker;
  std::unique_ptr<SaveWorker> saver_;
  struct CaptureWorker;
  std::unique_ptr<CaptureWorker> captureWorker_;
  struct ExportRun;
  std::unique_ptr<ExportRun> exportRun_;
  std::unique_ptr<Opener> opener_;
};

}  // namespace vantry
