#include "render/pixel_kernels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace vantry::kernels {

namespace {

inline uint32_t coverageWeight(uint8_t e) {
  return e + (e >> 7);
}  // 0..255 -> 0..256

// Signed distance from a point to a rounded rectangle (negative inside).
inline double signedDistance(const RoundedRect& r, double px, double py) {
  const double hw = (r.x1 - r.x0) * 0.5, hh = (r.y1 - r.y0) * 0.5;
  const double rad = std::clamp(r.radius, 0.0, std::min(hw, hh));
  const double qx = std::abs(px - (r.x0 + hw)) - (hw - rad);
  const double qy = std::abs(py - (r.y0 + hh)) - (hh - rad);
  const double ox = std::max(qx, 0.0), oy = std::max(qy, 0.0);
  return std::sqrt(ox * ox + oy * oy) + std::min(std::max(qx, qy), 0.0) - rad;
}

inline uint32_t over(uint32_t src, uint32_t dst) {
  const uint32_t a = src >> 24;
  if (a == 255) return src;
  return src + scalePixel(dst, 256 - (a + (a >> 7)));
}

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

}  // namespace

RoundedRect RoundedRect::from(const QRectF& r, double radius) {
  return {r.left(), r.top(), r.right(), r.bottom(), radius};
}

double RoundedRect::coverage(double px, double py) const {
  return std::clamp(0.5 - signedDistance(*this, px, py), 0.0, 1.0);
}

QRect RoundedRect::pixelBounds(int w, int h) const {
  if (empty()) return {};
  const int l = std::max(0, static_cast<int>(std::floor(x0)));
  const int t = std::max(0, static_cast<int>(std::floor(y0)));
  const int r = std::min(w, static_cast<int>(std::ceil(x1)));
  const int b = std::min(h, static_cast<int>(std::ceil(y1)));
  if (r <= l || b <= t) return {};
  return QRect(QPoint(l, t), QPoint(r - 1, b - 1));
}

void rowSpan(const RoundedRect& r, int y, int width, RowSpan& span, std::vector<uint8_t>& edge) {
  span = {};
  if (static_cast<int>(edge.size()) < width) edge.resize(width);
  const int xs = std::max(0, static_cast<int>(std::floor(r.x0)));
  const int xe = std::min(width, static_cast<int>(std::ceil(r.x1)));
  if (xe <= xs) return;
  const double py = y + 0.5;
  span.partialStart = xs;
  span.partialEnd = xe;
  int x = xs;
  for (; x < xe; ++x) {
    const double c = r.coverage(x + 0.5, py);
    if (c >= 1.0) break;
    edge[x] = static_cast<uint8_t>(std::lround(c * 255));
  }
  span.fullStart = x;
  if (x == xe) {
    span.fullEnd = xe;
    return;
  }
  int e = xe - 1;
  for (; e > x; --e) {
    const double c = r.coverage(e + 0.5, py);
    if (c >= 1.0) break;
    edge[e] = static_cast<uint8_t>(std::lround(c * 255));
  }
  span.fullEnd = e + 1;
}

Placement placementFor(const QRectF& target, int srcW, int srcH, bool mirrored) {
  Placement p;
  p.originX = mirrored ? target.right() : target.left();
  p.originY = target.top();
  p.scaleX = target.width() > 0 ? srcW / target.width() : 0;
  p.scaleY = target.height() > 0 ? srcH / target.height() : 0;
  p.mirrored = mirrored;
  return p;
}

void ColumnTable::build(const Placement& p, int srcW, int x0, int x1) {
  const int n = std::max(0, x1 - x0);
  index.resize(n);
  weight.resize(n);
  const double maxU = srcW - 1;
  for (int k = 0; k < n; ++k) {
    const double ox = x0 + k + 0.5;
    double u = p.mirrored ? (p.originX - ox) * p.scaleX - 0.5 : (ox - p.originX) * p.scaleX - 0.5;
    u = std::clamp(u, 0.0, maxU);
    int i = static_cast<int>(u);
    double f = u - i;
    if (i >= srcW - 1 && srcW > 1) {
      i = srcW - 2;
      f = 1.0;
    }
    index[k] = i;
    weight[k] = static_cast<uint16_t>(std::lround(f * 256));
  }
}

namespace {

// One bilinear source row pair for output row y.
struct RowPair {
  const uint32_t* r0;
  const uint32_t* r1;
  uint32_t w;
};

inline RowPair rowsFor(const QImage& src, const Placement& p, int y) {
  const int srcH = src.height();
  double v = (y + 0.5 - p.originY) * p.scaleY - 0.5;
  v = std::clamp(v, 0.0, static_cast<double>(srcH - 1));
  int i = static_cast<int>(v);
  double f = v - i;
  if (i >= srcH - 1) {
    i = srcH - 1;
    f = 0;
  }
  const int j = std::min(i + 1, srcH - 1);
  return {reinterpret_cast<const uint32_t*>(src.constScanLine(i)),
          reinterpret_cast<const uint32_t*>(src.constScanLine(j)),
          static_cast<uint32_t>(std::lround(f * 256))};
}

inline uint32_t sampleAt(const RowPair& rp, const ColumnTable& t, int k, int step) {
  const int i = t.index[k];
  const uint32_t w = t.weight[k];
  const uint32_t top = lerpPixel(rp.r0[i], rp.r0[i + step], w);
  if (rp.w == 0) return top;
  const uint32_t bottom = lerpPixel(rp.r1[i], rp.r1[i + step], w);
  return lerpPixel(top, bottom, rp.w);
}

}  // namespace

namespace {

// Horizontal pass of one source row through the column table.
__attribute__((target_clones("avx2", "default"))) void horizontalRow(
    const uint32_t* __restrict row, const int32_t* __restrict index,
    const uint16_t* __restrict weight, int step, uint32_t* __restrict out, int n) {
  for (int k = 0; k < n; ++k) {
    const int i = index[k];
    const uint32_t a = row[i], b = row[i + step];
    const uint32_t w = weight[k], iw = 256 - w;
    const uint32_t rb = (((a & 0x00FF00FFu) * iw + (b & 0x00FF00FFu) * w) >> 8) & 0x00FF00FFu;
    const uint32_t ag =
        (((a >> 8) & 0x00FF00FFu) * iw + ((b >> 8) & 0x00FF00FFu) * w) & 0xFF00FF00u;
    out[k] = rb | ag;
  }
}

// Vertical blend of two horizontally scaled rows; a plain loop the compiler vectorises.
__attribute__((target_clones("avx2", "default"))) void verticalBlend(const uint32_t* __restrict a,
                                                                     const uint32_t* __restrict b,
                                                                     uint32_t w,
                                                                     uint32_t* __restrict out,
                                                                     int n) {
  const uint32_t iw = 256 - w;
  for (int k = 0; k < n; ++k) {
    const uint32_t pa = a[k], pb = b[k];
    const uint32_t rb = (((pa & 0x00FF00FFu) * iw + (pb & 0x00FF00FFu) * w) >> 8) & 0x00FF00FFu;
    const uint32_t ag =
        (((pa >> 8) & 0x00FF00FFu) * iw + ((pb >> 8) & 0x00FF00FFu) * w) & 0xFF00FF00u;
    out[k] = rb | ag;
  }
}

}  // namespace

void samplePicture(QImage& out, const QImage& src, const Placement& p, const QRect& rect,
                   ColumnTable& columns) {
  if (rect.isEmpty() || src.isNull()) return;
  columns.build(p, src.width(), rect.left(), rect.right() + 1);
  const int step = src.width() > 1 ? 1 : 0;
  const int n = rect.width();
  // Each source row is scaled horizontally once and kept while neighbouring output rows
  // use it (a zoomed picture reuses every source row for several output rows).
  std::vector<uint32_t>& cache = columns.rows;
  cache.resize(static_cast<size_t>(n) * 2);
  uint32_t* slot[2] = {cache.data(), cache.data() + n};
  int cached[2] = {-1, -1};
  auto scaled = [&](int sourceRow) -> const uint32_t* {
    if (cached[0] == sourceRow) return slot[0];
    if (cached[1] == sourceRow) return slot[1];
    // Replace the slot not holding the other row of the current pair.
    const int victim = cached[0] < cached[1] ? 0 : 1;
    horizontalRow(reinterpret_cast<const uint32_t*>(src.constScanLine(sourceRow)),
                  columns.index.data(), columns.weight.data(), step, slot[victim], n);
    cached[victim] = sourceRow;
    return slot[victim];
  };
  const int srcH = src.height();
  for (int y = rect.top(); y <= rect.bottom(); ++y) {
    double v = (y + 0.5 - p.originY) * p.scaleY - 0.5;
    v = std::clamp(v, 0.0, static_cast<double>(srcH - 1));
    int i = static_cast<int>(v);
    uint32_t w = static_cast<uint32_t>(std::lround((v - i) * 256));
    if (i >= srcH - 1) {
      i = srcH - 1;
      w = 0;
    }
    uint32_t* dst = reinterpret_cast<uint32_t*>(out.scanLine(y)) + rect.left();
    const uint32_t* top = scaled(i);
    if (w == 0) {
      std::memcpy(dst, top, static_cast<size_t>(n) * 4);
      continue;
    }
    const uint32_t* bottom = scaled(i + 1);
    top = scaled(i);  // still cached: the pair occupies both slots
    verticalBlend(top, bottom, w, dst, n);
  }
}

void samplePictureClipped(QImage& out, const QImage& src, const Placement& p,
                          const RoundedRect& clip, ColumnTable& columns,
                          std::vector<uint8_t>& edge) {
  const QRect bounds = clip.pixelBounds(out.width(), out.height());
  if (bounds.isEmpty() || src.isNull()) return;
  const int x0 = bounds.left();
  columns.build(p, src.width(), x0, bounds.right() + 1);
  const int step = src.width() > 1 ? 1 : 0;
  RowSpan span;
  for (int y = bounds.top(); y <= bounds.bottom(); ++y) {
    rowSpan(clip, y, out.width(), span, edge);
    const RowPair rp = rowsFor(src, p, y);
    uint32_t* dst = reinterpret_cast<uint32_t*>(out.scanLine(y));
    auto partial = [&](int x) {
      const uint32_t m = coverageWeight(edge[x]);
      if (m == 0) return;
      dst[x] = over(scalePixel(sampleAt(rp, columns, x - x0, step), m), dst[x]);
    };
    for (int x = span.partialStart; x < span.fullStart; ++x)
      partial(x);
    for (int x = span.fullStart; x < span.fullEnd; ++x)
      dst[x] = over(sampleAt(rp, columns, x - x0, step), dst[x]);
    for (int x = std::max(span.fullEnd, span.fullStart); x < span.partialEnd; ++x)
      partial(x);
  }
}

void clipToRoundedRect(QImage& out, const QImage& base, const RoundedRect& clip,
                       std::vector<uint8_t>& edge) {
  const QRect bounds = clip.pixelBounds(out.width(), out.height());
  if (bounds.isEmpty()) return;
  RowSpan span;
  for (int y = bounds.top(); y <= bounds.bottom(); ++y) {
    rowSpan(clip, y, out.width(), span, edge);
    uint32_t* dst = reinterpret_cast<uint32_t*>(out.scanLine(y));
    const uint32_t* under = reinterpret_cast<const uint32_t*>(base.constScanLine(y));
    auto partial = [&](int x) { dst[x] = lerpPixel(under[x], dst[x], coverageWeight(edge[x])); };
    for (int x = bounds.left(); x < span.partialStart; ++x)
      dst[x] = under[x];
    for (int x = span.partialStart; x < span.fullStart; ++x)
      partial(x);
    for (int x = std::max(span.fullEnd, span.fullStart); x < span.partialEnd; ++x)
      partial(x);
    for (int x = std::max(span.partialEnd, bounds.left()); x <= bounds.right(); ++x)
      dst[x] = under[x];
  }
}

void fillRoundedRect(QImage& out, const RoundedRect& r, uint32_t argb, std::vector<uint8_t>& edge) {
  const QRect bounds = r.pixelBounds(out.width(), out.height());
  if (bounds.isEmpty()) return;
  RowSpan span;
  for (int y = bounds.top(); y <= bounds.bottom(); ++y) {
    rowSpan(r, y, out.width(), span, edge);
    uint32_t* dst = reinterpret_cast<uint32_t*>(out.scanLine(y));
    auto partial = [&](int x) { dst[x] = over(scalePixel(argb, coverageWeight(edge[x])), dst[x]); };
    for (int x = span.partialStart; x < span.fullStart; ++x)
      partial(x);
    for (int x = span.fullStart; x < span.fullEnd; ++x)
      dst[x] = over(argb, dst[x]);
    for (int x = std::max(span.fullEnd, span.fullStart); x < span.partialEnd; ++x)
      partial(x);
  }
}

void copyOutside(QImage& out, const QImage& src, const QRect& hole) {
  const int w = out.width();
  for (int y = 0; y < out.height(); ++y) {
    uint32_t* dst = reinterpret_cast<uint32_t*>(out.scanLine(y));
    const uint32_t* from = reinterpret_cast<const uint32_t*>(src.constScanLine(y));
    if (hole.isEmpty() || y < hole.top() || y > hole.bottom()) {
      std::memcpy(dst, from, static_cast<size_t>(w) * 4);
      continue;
    }
    std::memcpy(dst, from, static_cast<size_t>(hole.left()) * 4);
    const int right = hole.right() + 1;
    if (right < w) std::memcpy(dst + right, from + right, static_cast<size_t>(w - right) * 4);
  }
}

bool Shadow::matches(double w, double h, double radius, double sigma, double offsetY,
                     double opacity) const {
  auto near = [](double a, double b) { return std::abs(a - b) < 1e-6; };
  return near(w, shapeW_) && near(h, shapeH_) && near(radius, radius_) && near(sigma, sigma_) &&
         near(offsetY, offsetY_) && near(opacity, opacity_);
}

void Shadow::build(const RoundedRect& shape, double sigma, double offsetY, double opacity) {
  shapeW_ = shape.x1 - shape.x0;
  shapeH_ = shape.y1 - shape.y0;
  radius_ = shape.radius;
  sigma_ = sigma;
  offsetY_ = offsetY;
  opacity_ = opacity;
  cell_ = std::max(1.0, sigma / 3.0);
  const double margin = 3 * sigma + 2 * cell_;
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

void Shadow::apply(QImage& out, const QRect& skip) const {
  if (map_.empty()) return;
  const int l = std::max(0, static_cast<int>(std::floor(originX_)));
  const int t = std::max(0, static_cast<int>(std::floor(originY_)));
  const int r = std::min(out.width(), static_cast<int>(std::ceil(originX_ + mapW_ * cell_)));
  const int b = std::min(out.height(), static_cast<int>(std::ceil(originY_ + mapH_ * cell_)));
  if (r <= l || b <= t) return;
  std::vector<int> ci(r - l);
  std::vector<float> cf(r - l);
  for (int x = l; x < r; ++x) {
    const double u = std::clamp((x + 0.5 - originX_) / cell_ - 0.5, 0.0, mapW_ - 1.0);
    int i = std::min(static_cast<int>(u), mapW_ - 2 >= 0 ? mapW_ - 2 : 0);
    ci[x - l] = i;
    cf[x - l] = static_cast<float>(mapW_ > 1 ? u - i : 0);
  }
  const int stepX = mapW_ > 1 ? 1 : 0;
  for (int y = t; y < b; ++y) {
    const double v = std::clamp((y + 0.5 - originY_) / cell_ - 0.5, 0.0, mapH_ - 1.0);
    const int j = std::min(static_cast<int>(v), std::max(mapH_ - 2, 0));
    const float fy = static_cast<float>(mapH_ > 1 ? v - j : 0);
    const uint8_t* m0 = &map_[static_cast<size_t>(j) * mapW_];
    const uint8_t* m1 = &map_[static_cast<size_t>(std::min(j + 1, mapH_ - 1)) * mapW_];
    uint32_t* dst = reinterpret_cast<uint32_t*>(out.scanLine(y));
    const bool holed = !skip.isEmpty() && y >= skip.top() && y <= skip.bottom();
    for (int x = l; x < r; ++x) {
      if (holed && x == skip.left()) {
        x = skip.right();
        continue;
      }
      const int i = ci[x - l];
      const float fx = cf[x - l];
      const float top = m0[i] + (m0[i + stepX] - m0[i]) * fx;
      const float bottom = m1[i] + (m1[i + stepX] - m1[i]) * fx;
      const float a = top + (bottom - top) * fy;
      if (a < 0.5f) continue;
      // Black at coverage a over the pixel: colour scaled down, alpha grows towards 1.
      const uint32_t w = static_cast<uint32_t>(a * (256.0f / 255.0f) + 0.5f);
      const uint32_t alpha = dst[x] >> 24;
      const uint32_t grown = alpha + (((255 - alpha) * w) >> 8);
      dst[x] = (scalePixel(dst[x], 256 - w) & 0x00FFFFFFu) | (grown << 24);
    }
  }
}

}  // namespace vantry::kernels
