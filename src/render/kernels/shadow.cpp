// The soft drop shadow of a rounded rectangle: a coverage map built at a reduced resolution
// and blurred by three box passes (about a Gaussian), laid by bilinear upsampling over BGRA
// or over planes, and drawn out at its middle for a shape whose size changes often. The
// per-pixel loops are plain loops built for AVX2 and for the rest (VANTRY_TARGET_CLONES).
#include "render/kernels/pixel_kernels.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "platform/cpu_dispatch.h"
#include "render/kernels/kernel_common.h"

namespace vantry::kernels {

namespace {

// Box sizes whose three passes approximate a Gaussian of sigma.
std::array<int, 3> boxesForGauss(double sigma) {
  const int n = 3;
  const double ideal = std::sqrt(12 * sigma * sigma / n + 1);
  int wl = static_cast<int>(std::floor(ideal));
  if (wl % 2 == 0) --wl;
  const int wu = wl + 2;
  const double mIdeal = (12 * sigma * sigma - n * wl * wl - 4 * n * wl - 3 * n) / (-4.0 * wl - 4);
  const int m = static_cast<int>(std::lround(mIdeal));
  std::array<int, 3> sizes{};
  for (int i = 0; i < n; ++i)
    sizes[i] = std::max(1, i < m ? wl : wu);
  return sizes;
}

// Running-sum box blur of one line (stride apart), zero outside.
void boxLine(float* data, int count, int stride, int radius, std::vector<float>& tmp) {
  if (radius <= 0) return;
  tmp.resize(count);
  for (int i = 0; i < count; ++i)
    tmp[i] = data[i * stride];
  const float scale = 1.0f / (2 * radius + 1);
  float sum = 0;
  for (int i = 0; i <= radius && i < count; ++i)
    sum += tmp[i];
  for (int i = 0; i < count; ++i) {
    data[i * stride] = sum * scale;
    const int add = i + radius + 1, remove = i - radius;
    if (add < count) sum += tmp[add];
    if (remove >= 0) sum -= tmp[remove];
  }
}

double cellFor(double sigma) {
  return std::max(1.0, sigma / 3.0);
}
double marginFor(double sigma) {
  return 3 * sigma + 2 * cellFor(sigma);
}

}  // namespace

QRectF Shadow::reach(const RoundedRect& shape, double sigma, double offsetY) {
  // The map spans the shape plus the margin on each side, rounded up by at most two cells.
  const double m = marginFor(sigma), c = cellFor(sigma);
  return QRectF(QPointF(shape.x0 - m, shape.y0 + offsetY - m),
                QPointF(shape.x1 + m + 2 * c, shape.y1 + offsetY + m + 2 * c));
}

bool Shadow::matches(double w, double h, double radius, double sigma, double offsetY,
                     double opacity) const {
  auto near = [](double a, double b) { return std::abs(a - b) < 1e-6; };
  return near(w, shapeW_) && near(h, shapeH_) && near(radius, radius_) && near(sigma, sigma_) &&
         near(offsetY, offsetY_) && near(opacity, opacity_);
}

void Shadow::fit(const RoundedRect& shape, double sigma, double offsetY, double opacity) {
  const double w = shape.x1 - shape.x0, h = shape.y1 - shape.y0;
  const double radius = std::clamp(shape.radius, 0.0, std::min(w, h) / 2);
  // Farther than the radius and the map's margin (the blur's reach) from both sides, the
  // map is the same all along.
  const double least = 2 * (radius + marginFor(sigma));
  if (w < least || h < least) {
    if (!matches(w, h, shape.radius, sigma, offsetY, opacity) || stretchX_ || stretchY_)
      build(shape, sigma, offsetY, opacity);
    else
      moveTo(shape.x0, shape.y0);
    return;
  }
  if (!matches(least, least, radius, sigma, offsetY, opacity))
    build({shape.x0, shape.y0, shape.x0 + least, shape.y0 + least, radius}, sigma, offsetY,
          opacity);
  else
    moveTo(shape.x0, shape.y0);
  stretchX_ = w - least;
  stretchY_ = h - least;
}

void Shadow::build(const RoundedRect& shape, double sigma, double offsetY, double opacity) {
  stretchX_ = stretchY_ = 0;
  shapeW_ = shape.x1 - shape.x0;
  shapeH_ = shape.y1 - shape.y0;
  radius_ = shape.radius;
  sigma_ = sigma;
  offsetY_ = offsetY;
  opacity_ = opacity;
  cell_ = cellFor(sigma);
  const double margin = marginFor(sigma);
  margin_ = margin;
  moveTo(shape.x0, shape.y0);
  mapW_ = static_cast<int>(std::ceil((shapeW_ + 2 * margin) / cell_)) + 1;
  mapH_ = static_cast<int>(std::ceil((shapeH_ + 2 * margin) / cell_)) + 1;
  std::vector<float> field(static_cast<size_t>(mapW_) * mapH_);
  const RoundedRect moved{shape.x0, shape.y0 + offsetY, shape.x1, shape.y1 + offsetY, shape.radius};
  for (int j = 0; j < mapH_; ++j) {
    for (int i = 0; i < mapW_; ++i) {
      const double px = originX_ + (i + 0.5) * cell_, py = originY_ + (j + 0.5) * cell_;
      const double d = signedDistance(moved, px, py) / cell_;
      field[static_cast<size_t>(j) * mapW_ + i] = static_cast<float>(std::clamp(0.5 - d, 0.0, 1.0));
    }
  }
  const double cellSigma = sigma / cell_;
  std::vector<float> tmp;
  if (cellSigma > 0.3) {
    for (int box : boxesForGauss(cellSigma)) {
      const int radius = (box - 1) / 2;
      for (int j = 0; j < mapH_; ++j)
        boxLine(&field[static_cast<size_t>(j) * mapW_], mapW_, 1, radius, tmp);
      for (int i = 0; i < mapW_; ++i)
        boxLine(&field[i], mapH_, mapW_, radius, tmp);
    }
  }
  across_.clear();
  map_.resize(field.size());
  for (size_t k = 0; k < field.size(); ++k)
    map_[k] = static_cast<uint8_t>(std::lround(std::clamp(field[k] * opacity, 0.0, 1.0) * 255));
}

// Computed afresh rather than shifted, so that a moved shadow lands exactly where a new
// one would.
void Shadow::moveTo(double x0, double y0) {
  originX_ = x0 - margin_;
  originY_ = y0 + offsetY_ - margin_;
}

namespace {

// Darkens dst[from, to) by the shadow row `level` (coverage · 256 at map columns) sampled
// through the column table; a zero weight leaves the pixel exactly as it was.
VANTRY_TARGET_CLONES void darkenRun(uint32_t* __restrict dst, const uint32_t* __restrict level,
                                    const int32_t* __restrict index,
                                    const uint32_t* __restrict weight, int step, int n) {
  for (int k = 0; k < n; ++k) {
    const int i = index[k];
    const uint32_t f = weight[k];
    const uint32_t a = (level[i] * (256 - f) + level[i + step] * f) >> 8;  // 0..65280
    const uint32_t w = a < 128 ? 0 : (a * 257 + 32768) >> 16;              // 0..256
    const uint32_t p = dst[k];
    const uint32_t alpha = p >> 24;
    const uint32_t grown = alpha + (((255 - alpha) * w) >> 8);
    const uint32_t rb = ((p & 0x00FF00FFu) * (256 - w) >> 8) & 0x00FF00FFu;
    const uint32_t g = (((p >> 8) & 0xFFu) * (256 - w)) & 0xFF00u;
    dst[k] = rb | g | (grown << 24);
  }
}

}  // namespace

namespace {

// Where a point `d` output pixels past the map's start reads a map drawn out by `stretch` at
// its middle `mid`: before the middle as it is, across the drawn-out part the middle itself,
// after it moved back by the stretch.
double drawnIn(double d, double mid, double stretch) {
  return d <= mid ? d : d <= mid + stretch ? mid : d - stretch;
}

}  // namespace

QRect Shadow::pixelArea(int width, int height) const {
  const int l = std::max(0, static_cast<int>(std::floor(originX_)));
  const int t = std::max(0, static_cast<int>(std::floor(originY_)));
  const int r = std::min(width, static_cast<int>(std::ceil(originX_ + mapW_ * cell_ + stretchX_)));
  const int b = std::min(height, static_cast<int>(std::ceil(originY_ + mapH_ * cell_ + stretchY_)));
  if (map_.empty() || r <= l || b <= t) return {};
  return QRect(QPoint(l, t), QPoint(r - 1, b - 1));
}

void Shadow::columns(int l, int r, std::vector<int32_t>& ci, std::vector<uint32_t>& cf) const {
  ci.resize(r - l);
  cf.resize(r - l);
  for (int x = l; x < r; ++x) {
    const double d = drawnIn(x + 0.5 - originX_, margin_ + shapeW_ / 2, stretchX_);
    const double u = std::clamp(d / cell_ - 0.5, 0.0, mapW_ - 1.0);
    const int i = std::min(static_cast<int>(u), std::max(mapW_ - 2, 0));
    ci[x - l] = i;
    cf[x - l] = mapW_ > 1 ? static_cast<uint32_t>(std::lround((u - i) * 256)) : 0;
  }
}

std::pair<int, uint32_t> Shadow::mapRow(int y) const {
  const double d = drawnIn(y + 0.5 - originY_, margin_ + shapeH_ / 2, stretchY_);
  const double v = std::clamp(d / cell_ - 0.5, 0.0, mapH_ - 1.0);
  const int j = std::min(static_cast<int>(v), std::max(mapH_ - 2, 0));
  return {j, mapH_ > 1 ? static_cast<uint32_t>(std::lround((v - j) * 256)) : 0};
}

// Coverage · 256 along the map's columns at output row y.
void Shadow::level(int y, std::vector<uint32_t>& level) const {
  level.resize(mapW_);
  const auto [j, fy] = mapRow(y);
  const uint8_t* m0 = &map_[static_cast<size_t>(j) * mapW_];
  const uint8_t* m1 = &map_[static_cast<size_t>(std::min(j + 1, mapH_ - 1)) * mapW_];
  for (int i = 0; i < mapW_; ++i)
    level[i] = m0[i] * (256 - fy) + m1[i] * fy;
}

namespace {

// The darkening weights (0..256) of a row between two map rows sampled across (the bilinear
// sum is the same taken across first or down first, so these are darkenRun's weights).
VANTRY_TARGET_CLONES void weightRow(const uint16_t* __restrict top,
                                    const uint16_t* __restrict bottom, uint32_t f,
                                    uint16_t* __restrict out, int n) {
  for (int k = 0; k < n; ++k) {
    const uint32_t a = (top[k] * (256 - f) + bottom[k] * f) >> 8;
    out[k] = static_cast<uint16_t>(a < 128 ? 0 : (a * 257 + 32768) >> 16);
  }
}

// Towards `black` by 0..256: black + (p - black) · (256 - w) / 256 rounded down, as a convex
// sum below 2^16 that 16-bit lanes hold.
VANTRY_TARGET_CLONES void darkenBytes(uint8_t* __restrict p, const uint16_t* __restrict w,
                                      int black, int n) {
  const uint16_t b = static_cast<uint16_t>(black);
  for (int k = 0; k < n; ++k) {
    const uint16_t keep = static_cast<uint16_t>(p[k] * (256 - w[k]));
    p[k] = static_cast<uint8_t>(static_cast<uint16_t>(keep + b * w[k]) >> 8);
  }
}

// The mean of each chroma block's four weights.
VANTRY_TARGET_CLONES void blockWeights(const uint16_t* __restrict a, const uint16_t* __restrict b,
                                       uint16_t* __restrict out, int n) {
  for (int k = 0; k < n; ++k)
    out[k] = static_cast<uint16_t>((a[2 * k] + a[2 * k + 1] + b[2 * k] + b[2 * k + 1] + 2) / 4);
}

}  // namespace

void Shadow::applyPlanes(Planes& out, const CoveredPlanes* over, QPoint at) {
  const QRect area = evenAligned(pixelArea(out.width, out.height), out.width, out.height);
  if (area.isEmpty()) return;
  const int l = area.left(), r = area.right() + 1, n = r - l;
  if (across_.empty() || acrossLeft_ != l || acrossRight_ != r || acrossX_ != originX_ ||
      acrossStretch_ != stretchX_) {
    std::vector<int32_t> ci;
    std::vector<uint32_t> cf;
    columns(l, r, ci, cf);
    const int stepX = mapW_ > 1 ? 1 : 0;
    across_.resize(static_cast<size_t>(mapH_) * n);
    for (int j = 0; j < mapH_; ++j) {
      const uint8_t* m = &map_[static_cast<size_t>(j) * mapW_];
      uint16_t* a = &across_[static_cast<size_t>(j) * n];
      for (int k = 0; k < n; ++k)
        a[k] = static_cast<uint16_t>(m[ci[k]] * (256 - cf[k]) + m[ci[k] + stepX] * cf[k]);
    }
    acrossLeft_ = l;
    acrossRight_ = r;
    acrossX_ = originX_;
    acrossStretch_ = stretchX_;
  }
  std::vector<uint16_t> w(static_cast<size_t>(n) * 2), wc(n / 2);
  // Columns [from, to) (even, relative to l) of the row pair at y, but for the blocks at
  // either end that the shadow does not reach (its margin fades to nothing before its edge).
  auto band = [&](int y, int from, int to) {
    if (to <= from) return;
    for (int row = 0; row < 2; ++row) {
      const auto [j, fy] = mapRow(y + row);
      const uint16_t* top = &across_[static_cast<size_t>(j) * n + from];
      const uint16_t* bottom = &across_[static_cast<size_t>(std::min(j + 1, mapH_ - 1)) * n + from];
      weightRow(top, bottom, fy, &w[static_cast<size_t>(row) * n + from], to - from);
    }
    auto reached = [&](int k) { return w[k] | w[k + 1] | w[n + k] | w[n + k + 1]; };
    while (from < to && !reached(from))
      from += 2;
    while (to > from && !reached(to - 2))
      to -= 2;
    const int m = to - from;
    if (m <= 0) return;
    for (int row = 0; row < 2; ++row)
      darkenBytes(out.data[0] + static_cast<ptrdiff_t>(y + row) * out.stride[0] + l + from,
                  &w[static_cast<size_t>(row) * n + from], 16, m);
    blockWeights(&w[from], &w[static_cast<size_t>(n) + from], wc.data(), m / 2);
    for (int p = 1; p < 3; ++p)
      darkenBytes(out.data[p] + static_cast<ptrdiff_t>(y / 2) * out.stride[p] + (l + from) / 2,
                  wc.data(), 128, m / 2);
  };
  for (int y = area.top(); y <= area.bottom(); y += 2) {
    // The run of the row pair's chroma blocks the layer covers wholly.
    const int pair = over && y >= at.y() ? (y - at.y()) / 2 : -1;
    const RowSpan covered = pair >= 0 && pair < over->height / 2
                                ? over->rows[static_cast<size_t>(over->height) + pair]
                                : RowSpan{};
    if (covered.fullEnd > covered.fullStart) {
      band(y, 0, std::clamp(at.x() + 2 * covered.fullStart, l, r) - l);
      band(y, std::clamp(at.x() + 2 * covered.fullEnd, l, r) - l, n);
    } else {
      band(y, 0, n);
    }
  }
}

void Shadow::apply(QImage& out, const QRect& skip) const {
  const QRect area = pixelArea(out.width(), out.height());
  if (area.isEmpty()) return;
  const int l = area.left(), r = area.right() + 1, t = area.top(), b = area.bottom() + 1;
  std::vector<int32_t> ci;
  std::vector<uint32_t> cf, lv;
  columns(l, r, ci, cf);
  const int stepX = mapW_ > 1 ? 1 : 0;
  for (int y = t; y < b; ++y) {
    level(y, lv);
    const std::vector<uint32_t>& level = lv;
    uint32_t* dst = reinterpret_cast<uint32_t*>(out.scanLine(y));
    auto run = [&](int from, int to) {
      if (to > from)
        darkenRun(dst + from, level.data(), ci.data() + (from - l), cf.data() + (from - l), stepX,
                  to - from);
    };
    if (!skip.isEmpty() && y >= skip.top() && y <= skip.bottom()) {
      run(l, std::clamp(skip.left(), l, r));
      run(std::clamp(skip.right() + 1, l, r), r);
    } else {
      run(l, r);
    }
  }
}

}  // namespace vantry::kernels
