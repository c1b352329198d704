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
#include <cstdint>
#include <optional>
#include <vector>

#include "model/clip.h"
#include "model/frame_state.h"
#include "render/pixel_kernels.h"

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

class ExportCompositor {
 public:
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
  // The state's presenterMix is the caller's. Pictures may be null or empty.
  void render(const QImage* screen, const QImage* camera, const FrameState& state, QImage& out);
  QImage image(const QImage* screen, const QImage* camera, const FrameState& state);
  // Composes at the output size and scales the frame bilinearly into `target`, which keeps
  // its size (a null target gets the output size). Same as render() when the sizes agree.
  void renderScaled(const QImage* screen, const QImage* camera, const FrameState& state,
                    QImage& target);

  // Canvas-to-output mapping of a rectangle.
  QRectF toOutput(const QRectF& canvasRect) const;
  // Number of times the base has been built (for tests of the cache).
  int baseBuilds() const { return baseBuilds_; }

 private:
  void ensureBase(const QRectF& card);
  void drawScreen(const QImage& screen, const FrameState& state, const QRectF& r, QImage& out);
  void drawPointer(const QRectF& source, const FrameState& state, bool arrow, QImage& out);
  void drawCamera(const QImage& camera, const FrameState& state, QImage& out);

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
  std::vector<uint8_t> edge_;
  QImage scaled_;  // the composed frame renderScaled() scales from
  int baseBuilds_ = 0;
};

}  // namespace vantry
