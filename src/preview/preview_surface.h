// preview/: the stage's picture.
//
// The composed picture of the controller's current moment: the live capture in live
// preview and while recording, the open project at the playhead otherwise. Whenever the
// camera bubble shows, it can be dragged to a new place; Escape during the drag puts it
// back.
#pragma once

#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "model/clip.h"
#include "model/frame_state.h"
#include "model/point.h"
#include "render/kernels/pixel_kernels.h"
#include "studio/studio.h"

namespace vantry {

class ExportCompositor;
class SerialQueue;

class PreviewSurface : public QWidget {
  Q_OBJECT

 public:
  // How the 16:9 canvas covers the surface: stretched to it (the main window keeps the
  // surface 16:9), or filling it with the overhang cut off (the full-screen player).
  enum class Fit { stretch, fillCrop };

  explicit PreviewSurface(Studio* studio = nullptr, QWidget* parent = nullptr);
  ~PreviewSurface() override;

  void setStudio(Studio* studio);
  Studio* studio() const { return studio_; }
  void setFit(Fit fit);
  Fit fit() const { return fit_; }

  // Where the canvas lies in widget coordinates.
  QRectF canvasRect() const;
  // A widget point on the 1920 x 1080 canvas (origin top left, y down).
  Point canvasPoint(QPointF widgetPoint) const;
  // The bubble can be dragged: a controller, no export, the bubble (not the full-frame
  // presenter) showing, the camera on and a camera picture to show.
  bool canDragCamera() const;
  // The bubble in widget coordinates; empty without a controller.
  QRectF cameraViewRect() const;
  bool dragging() const { return dragStart_.has_value(); }

  // The picture as the last paint composed it (for tests and the benchmark); above 1080p
  // possibly at the capped size, scaled only on the screen.
  const QImage& composed() const { return composed_; }
  // Pictures composed so far (tests and the benchmark count them against paints); one
  // composed ahead while playing counts when a paint shows it (one that the end of playing
  // overtook is dropped uncounted).
  int compositions() const { return compositions_; }
  // Of these, the pictures a paint composed itself, on the main thread.
  int paintCompositions() const { return paintCompositions_; }
  // Composes the current moment at a pixel size without painting (above 1080p composed
  // at the capped size and scaled up).
  const QImage& compose(QSize pixels);
  // Composes the picture the next paint shows, unless it is composed already, so that a
  // window can compose in one turn of the event loop and paint in the next; not while the
  // picture moves on its own (playing, the live capture), when the moment moves between the
  // two turns and the paint would compose again. A picture of a size not composed before is
  // composed on a worker (a new compositor's fresh pictures cost the main thread page faults):
  // `building` until pictureReady() is emitted, which it is whether the picture was made or not.
  enum class Preparation { none, composed, building };
  Preparation prepare();

  // For tests: every composition from now on fails as one that runs out of memory would
  // (false ends it).
  void failCompositionsForTesting(bool fail) { failForTesting_ = fail; }

 signals:
  // The picture prepare() had composed on a worker is ready to be painted, or could not be
  // made: the paint shows what there is.
  void pictureReady();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  // Tells the controller how wide the canvas shows the screen now (nothing while hidden).
  void reportStageWidth();
  // The pictures and the state of the controller's current moment.
  struct Inputs {
    QImage screen;
    QImage camera;
    FrameState state;
  };
  Inputs inputs() const;
  // The controller changed: repaints nothing when the picture would stay the same, only the
  // camera bubble when only the camera picture is new, else the whole surface.
  void studioChanged();
  // Composes for `pixels`, scaled up to them or (`scaleUp` false) at the capped size.
  const QImage& composeFor(QSize pixels, bool scaleUp);
  // Scales the capped picture into the exposed part of a raster paint device; false when
  // the painter does not paint into a plain image.
  bool scaleIntoDevice(QPainter& painter, const QRegion& exposed, const QRectF& target);
  // Copies the picture, composed at the device's size, into the exposed part of such a
  // device; false when it cannot.
  bool copyIntoDevice(QPainter& painter, const QRegion& exposed, const QRectF& target);
  void endDrag();
  void updateCursor(QPointF at);
  // The device pixels the canvas covers.
  QSize canvasPixels() const;
  // A compositor for a new size and its first picture, made on a worker.
  struct Build;
  void startBuild(QSize size);
  void buildDone(const std::shared_ptr<Build>& build);
  void failIfAsked() const;
  // While playing, each new moment is composed on the worker and painted once it is ready:
  // the main thread only paints. One picture at a time, and the next only after the last
  // was painted, so that no picture is composed that is not shown.
  // A moment whose pictures are still being read waits for them (the screen's and the
  // camera's of one tick make one picture, not two or three), a little while at most.
  struct Ahead;
  bool composesAhead() const;
  bool picturesComing() const;
  void composeAhead(bool waited = false);
  void composedAhead(const std::shared_ptr<Ahead>& ahead);
  void compositionMade();
  // A composition threw: the picture stays as it was but is no longer taken for any moment,
  // and the first failure after a success is logged.
  void compositionFailed(const std::string& detail);

  QPointer<Studio> studio_;
  QMetaObject::Connection connections_[4];
  Fit fit_ = Fit::stretch;
  std::unique_ptr<ExportCompositor> compositor_;
  // What composed_ shows: the pictures, the moment, the settings and the size.
  struct ComposedKey {
    qint64 screen = 0;
    qint64 camera = 0;
    FrameState state;
    EditSettings settings;
    QSize size;
    friend bool operator==(const ComposedKey&, const ComposedKey&) = default;
  };
  QImage composed_;
  std::optional<ComposedKey> composedKey_;
  int compositions_ = 0;  // pictures composed so far
  int paintCompositions_ = 0;
  // What lies under the camera picture in composed_ (when a camera picture was drawn), so
  // that a new camera picture alone redraws only the bubble.
  QImage underCamera_;
  bool underCameraValid_ = false;
  kernels::ColumnTable columns_;
  std::optional<Point> dragStart_;
  std::optional<Point> dragCenter_;
  std::optional<Point> dragOriginal_;
  std::optional<QSize> building_;     // the size of the newest build asked for
  std::optional<QSize> failedBuild_;  // the paint composes this size itself
  bool failing_ = false;              // the last composition failed (and was logged)
  std::atomic<bool> failForTesting_{false};
  std::atomic<std::uint64_t> builds_{0};  // a build started before the newest is skipped
  // Composing ahead: the worker's own compositor, the pictures it composes into next, and
  // whether a picture is on its way, waits for its paint, or a newer moment came meanwhile.
  std::unique_ptr<ExportCompositor> aheadCompositor_;  // used on the worker only
  QImage spare_;
  QImage spareUnder_;
  bool aheadBusy_ = false;
  bool aheadUnpainted_ = false;
  bool aheadAgain_ = false;
  QTimer* aheadWait_ = nullptr;  // composes a moment whose pictures came too late
  std::atomic<bool> closing_{false};
  // Last: joined first, while everything its results are posted to exists.
  std::unique_ptr<SerialQueue> builder_;
};

}  // namespace vantry
