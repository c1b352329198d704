// Composes one output frame (background, card with shadow, zoomed screen with click ring
// and pointer, camera bubble) straight at the output resolution. Everything that does not
// change from frame to frame is cached; the base (background, card shadow, card) is
// rebuilt only when the card rectangle changes.
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

// The looks that may differ between the export and the live preview.
struct CompositorStyle {
  uint32_t cardColor = 0xFFFFFF;  // the preview draws a light grey card
};

class ExportCompositor {
 public:
  ExportCompositor(const EditSettings& settings, QSize output, CompositorStyle style = {});

  QSize outputSize() const { return size_; }
  const EditSettings& settings() const { return settings_; }

  // Composes into `out`, which is (re)allocated to the output size when it does not fit.
  // The state's presenterMix is the caller's. Pictures may be null or empty.
  void render(const QImage* screen, const QImage* camera, const FrameState& state, QImage& out);
  QImage image(const QImage* screen, const QImage* camera, const FrameState& state);

  // Canvas-to-output mapping of a rectangle.
  QRectF toOutput(const QRectF& canvasRect) const;
  // Number of times the base has been built (for tests of the cache).
  int baseBuilds() const { return baseBuilds_; }

 private:
  void ensureBase(const QRectF& card);
  void drawScreen(const QImage& screen, const FrameState& state, const QRectF& r, QImage& out);
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
  int baseBuilds_ = 0;
};

}  // namespace vantry
