// Composes one output frame (background, card with shadow, zoomed screen with click ring
// and pointer, camera bubble) straight at the output resolution. Everything that does not
// change from frame to frame is cached; the base (background, card shadow, card) is
// rebuilt only when the card rectangle, the padding or the palette changes.
//
// The live preview paints with the same compositor:
//   ExportCompositor c(settings, ExportCompositor::composeSize(device),
//                      CompositorStyle::preview());
//   c.setSettings(changed);              // cheap: rebuilds only what the change touches
//   c.renderScaled(screen, camera, state, deviceImage);  // composes, then scales up
// A new compositor is needed only when the device size changes.
#pragma once

#include <QImage>
#include <QRectF>
#include <QSize>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "model/clip.h"
#include "model/frame_state.h"
#include "render/kernels/pixel_kernels.h"

namespace vantry {

// The looks that differ between the export and the live preview.
struct CompositorStyle {
  uint32_t cardColor = 0xFFFFFF;
  // The click ring of a live click shows on the empty card too. The pointer arrow never
  // shows without a screen picture.
  bool ringWithoutScreen = false;

  // The live preview: a light grey card, the ring even before the first screen picture.
  static CompositorStyle preview() { return {0xF4F6FA, true}; }
  friend bool operator==(const CompositorStyle&, const CompositorStyle&) = default;
};

// Camera bubbles painted once per camera picture and shared by the compositors of one
// export: a camera picture serves several output frames, which different workers compose.
// The first to need a bubble paints it; the others wait for it.
class BubbleCache {
 public:
  struct Key {
    qint64 camera = 0;              // the picture's key
    bool planes = false;            // a key of CameraPlanes, else a QImage's cacheKey
    std::array<double, 5> shape{};  // the bubble's x, y, width, height and radius, exactly
    bool mirrored = false;
    QSize output;
    bool operator==(const Key&) const = default;
  };
  using Layer = std::shared_ptr<const kernels::CoveredPlanes>;
  Layer get(const Key& key, const std::function<Layer()>& paint);

 private:
  std::mutex mutex_;
  std::deque<std::pair<Key, std::shared_future<Layer>>> entries_;  // the latest few
};

// A camera picture as planes (YUV 4:2:0 as the screen's, even size) and a key naming it:
// another picture must come with another key.
struct CameraPlanes {
  kernels::Planes planes;
  qint64 key = 0;
};

// What an output picture holds from the frame last composed into it, so that composing
// into it again restores only what that frame painted over the base around the card.
struct PlanesHistory {
  quint64 base = 0;  // the base it holds around the card; 0: not known
  QRect painted;     // where that frame painted over it (the camera bubble and its shadow)
};

class ExportCompositor {
 public:
  // Seconds the click ring shows after a click.
  static constexpr double ringDuration = 0.55;

  ExportCompositor(const EditSettings& settings, QSize output, CompositorStyle style = {});

  QSize outputSize() const { return size_; }
  const EditSettings& settings() const { return settings_; }
  const CompositorStyle& style() const { return style_; }

  // Takes new settings, keeping every cache the change leaves valid: the background
  // gradient is redrawn only for another palette, the base only for another palette or
  // padding. The next frame is pixel for pixel what a new compositor would give.
  void setSettings(const EditSettings& settings);

  // The size to compose at for a target of `target` device pixels: the target itself when
  // it fits in 1920 x 1080, else the largest size of its aspect that does (at least 2 x 2).
  // Above 1080p the preview composes at this size and scales up with renderScaled().
  static QSize composeSize(QSize target);

  // Composes into `out`, which is (re)allocated to the output size when it does not fit.
  // The state's presenterMix is the caller's. Pictures may be null or empty. With
  // `underCamera`, what lies under the camera picture is kept there (within the bubble's
  // pixel bounds; elsewhere it is left as it was), for renderCamera().
  void render(const QImage* screen, const QImage* camera, const FrameState& state, QImage& out,
              QImage* underCamera = nullptr);
  // Only the camera picture changed since render() composed `out` and kept `underCamera`,
  // with the same screen, state and settings: the bubble is painted again over what lay
  // under it, pixel for pixel as render() would paint it. Returns the pixels it changed.
  QRect renderCamera(const QImage* camera, const FrameState& state, const QImage& underCamera,
                     QImage& out);
  QImage image(const QImage* screen, const QImage* camera, const FrameState& state);
  // Composes at the output size and scales the frame bilinearly into `target`, which keeps
  // its size (a null target gets the output size). Same as render() when the sizes agree.
  void renderScaled(const QImage* screen, const QImage* camera, const FrameState& state,
                    QImage& target);

  // Composes straight into the encoder's planes (YUV 4:2:0, BT.709 limited range, the
  // output size): the base, the zoomed screen, the camera bubble, the pointer and the click
  // ring are all written as planes. The screen
  // picture comes as planes of the same kind (`screenPlanes`, even size) or as `screen`
  // (converted once and kept while the same picture comes again); the camera likewise, as
  // `cameraPlanes` or `camera`. The picture is that of render() converted, within rounding.
  // With `history`, `out` is taken to hold what it says, and it is brought up to date: a
  // picture composed into again has only the last frame's bubble restored around the card.
  void renderPlanes(const kernels::Planes* screenPlanes, const QImage* screen, const QImage* camera,
                    const FrameState& state, kernels::Planes& out,
                    const CameraPlanes* cameraPlanes = nullptr, PlanesHistory* history = nullptr);

  // Shares the camera bubbles of renderPlanes() with other compositors of the same settings.
  void shareBubbles(std::shared_ptr<BubbleCache> cache) { bubbles_ = std::move(cache); }

  // Canvas-to-output mapping of a rectangle.
  QRectF toOutput(const QRectF& canvasRect) const;
  // Number of times the base has been built (for tests of the cache).
  int baseBuilds() const { return baseBuilds_; }

 private:
  // The base for the card, as BGRA or (`planes`) as planes.
  void ensureBase(const QRectF& card, bool planes = false);
  void drawScreen(const QImage& screen, const FrameState& state, const QRectF& r, QImage& out);
  // The drawing steps take `out` as the part of the frame whose top-left corner is `origin`.
  void drawPointer(const QRectF& source, const FrameState& state, bool arrow, QImage& out);
  void drawCamera(const QImage& camera, const FrameState& state, QImage& out, QPoint origin = {},
                  bool shadow = true, QImage* under = nullptr);
  // The pixels the camera picture covers (its shadow left out), cut to the output.
  QRect bubblePixels(const FrameState& state) const;
  bool placeCameraShadow(const QRectF& bubble, double mix);
  QRectF bubbleRect(const FrameState& state) const;
  const kernels::Planes* planesOf(const QImage& screen);
  const kernels::Planes& cameraPlanesOf(const QImage& camera);
  void pointerPlanes(const QRectF& source, const FrameState& state, bool arrow,
                     kernels::Planes& out);
  QRect pointerReach(const QRectF& source, const FrameState& state) const;
  QRect paintBubble(const QImage* camera, const CameraPlanes* cameraPlanes, const FrameState& state,
                    kernels::Planes& out);
  static std::optional<QPointF> pointerAt(const QRectF& source, const FrameState& state);

  EditSettings settings_;
  QSize size_;
  CompositorStyle style_;
  double sx_, sy_;  // output pixels per canvas point
  QImage background_;
  QImage cursor_;  // the pointer sprite at output scale, tip at (8, 8) · sx
  std::optional<QRectF> cachedRect_;
  QImage base_;
  kernels::RoundedRect cardShape_;
  QRect cardPixels_;
  kernels::Shadow cameraShadow_;
  kernels::ColumnTable columns_;
  kernels::PlaneColumns planeColumns_;  // the screen's, for the planes
  std::vector<uint8_t> edge_;
  QImage scaled_;  // the composed frame renderScaled() scales from
  // The planes path: the base as planes, the last QImage screen and camera as planes.
  kernels::OwnedPlanes basePlanes_;
  bool basePlanesBuilt_ = false;
  kernels::PlaneClip cardClip_;
  quint64 baseKey_ = 0;  // names the planes base: equal keys, equal pixels  // the card's rounded
                         // corners, for the planes
  kernels::OwnedPlanes screenPlanes_;
  qint64 screenKey_ = 0;
  kernels::OwnedPlanes cameraPlanes_;  // the last QImage camera, grown to an even size
  qint64 cameraKey_ = 0;
  kernels::PlanarSprite sprite_;  // cursor_ as planes, made when first laid over planes
  std::vector<uint16_t> overMemory_;
  std::shared_ptr<BubbleCache> bubbles_ = std::make_shared<BubbleCache>();
  QImage fallback_;
  int baseBuilds_ = 0;
};

}  // namespace vantry
