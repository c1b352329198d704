#include "render/kernels/pixel_kernels.h"

#include <immintrin.h>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "platform/cpu_dispatch.h"

#include "platform/ffmpeg/bgra_to_yuv.h"

namespace vantry::kernels {

namespace {

inline uint32_t coverageWeight(uint8_t e) {
  return e + (e >> 7);
}  // 0..255 -> 0..256

// The source row above output row y and the weight (0..256) of the one below it.
std::pair<int, uint32_t> sourceRow(const Placement& p, int y, int srcH) {
  double v = (y + 0.5 - p.originY) * p.scaleY - 0.5;
  v = std::clamp(v, 0.0, static_cast<double>(srcH - 1));
  const int i = static_cast<int>(v);
  if (i >= srcH - 1) return {srcH - 1, 0};
  return {i, static_cast<uint32_t>(std::lround((v - i) * 256))};
}

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
  const Key key{p.originX, p.scaleX, p.mirrored, srcW, x0, x1};
  if (built_ && key == key_) return;
  key_ = key;
  ++built_;
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
void horizontalRowScalar(const uint32_t* __restrict row, const int32_t* __restrict index,
                         const uint16_t* __restrict weight, int step, uint32_t* __restrict out,
                         int n) {
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

// Eight samples at a time: the two neighbours of each gathered, the blend on 16-bit lanes
// (at most 255 · 256 each) in the same arithmetic as the scalar pass.
__attribute__((target("avx2"))) void horizontalRowGathered(const uint32_t* row,
                                                           const int32_t* index,
                                                           const uint16_t* weight, int step,
                                                           uint32_t* out, int n) {
  const __m256i low = _mm256_set1_epi16(0x00FF);
  const __m256i high = _mm256_set1_epi16(static_cast<int16_t>(0xFF00));
  const __m256i full = _mm256_set1_epi16(256);
  const auto* left = reinterpret_cast<const int*>(row);
  const auto* right = reinterpret_cast<const int*>(row + step);
  int k = 0;
  for (; k + 8 <= n; k += 8) {
    const __m256i at = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(index + k));
    const __m256i a = _mm256_i32gather_epi32(left, at, 4);
    const __m256i b = _mm256_i32gather_epi32(right, at, 4);
    const __m256i w32 =
        _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(weight + k)));
    const __m256i w = _mm256_or_si256(w32, _mm256_slli_epi32(w32, 16));
    const __m256i iw = _mm256_sub_epi16(full, w);
    const __m256i rb =
        _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(_mm256_and_si256(a, low), iw),
                                           _mm256_mullo_epi16(_mm256_and_si256(b, low), w)),
                          8);
    const __m256i ag =
        _mm256_and_si256(_mm256_add_epi16(_mm256_mullo_epi16(_mm256_srli_epi16(a, 8), iw),
                                          _mm256_mullo_epi16(_mm256_srli_epi16(b, 8), w)),
                         high);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k), _mm256_or_si256(rb, ag));
  }
  horizontalRowScalar(row, index + k, weight + k, step, out + k, n - k);
}

void horizontalRow(const uint32_t* row, const int32_t* index, const uint16_t* weight, int step,
                   uint32_t* out, int n) {
  static const bool gathers = __builtin_cpu_supports("avx2");
  if (gathers)
    horizontalRowGathered(row, index, weight, step, out, n);
  else
    horizontalRowScalar(row, index, weight, step, out, n);
}

// The horizontal pass where the picture is doubled: source pixels j and j + 1 give the
// outputs 2j (weight w0) and 2j + 1 (weight w1). The same arithmetic as horizontalRow, with
// neighbouring loads instead of looked-up ones, so the compiler vectorises it.
VANTRY_TARGET_CLONES void doubledRow(const uint32_t* __restrict row, uint32_t w0, uint32_t w1,
                                     uint32_t* __restrict out, int pairs) {
  for (int j = 0; j < pairs; ++j) {
    const uint32_t a = row[j], b = row[j + 1];
    out[2 * j] = lerpPixel(a, b, w0);
    out[2 * j + 1] = lerpPixel(a, b, w1);
  }
}

// Output columns [start, start + 2 * pairs) of a column table that doubles the picture
// (a 1080p frame on a 2160p screen): each pair reads the same two source pixels, with the
// same two weights, one source pixel further on than the pair before.
struct DoubledRun {
  int start = 0;
  int pairs = 0;
  int32_t first = 0;
  uint32_t w0 = 0, w1 = 0;
};

DoubledRun doubledRunFrom(const ColumnTable& t, int start) {
  const int n = static_cast<int>(t.index.size());
  DoubledRun run;
  run.start = start;
  run.first = t.index[start];
  run.w0 = t.weight[start];
  run.w1 = t.weight[start + 1];
  int j = 0;
  for (; start + 2 * j + 1 < n; ++j) {
    const int k = start + 2 * j;
    if (t.index[k] != run.first + j || t.index[k + 1] != run.first + j || t.weight[k] != run.w0 ||
        t.weight[k + 1] != run.w1)
      break;
  }
  run.pairs = j;
  return run;
}

DoubledRun doubledRun(const ColumnTable& t, int step) {
  // The clamped first column can shift the pairs by one.
  if (step != 1 || t.index.size() < 4) return {};
  const DoubledRun even = doubledRunFrom(t, 0), odd = doubledRunFrom(t, 1);
  DoubledRun run = even.pairs >= odd.pairs ? even : odd;
  // Short runs are not worth the split.
  if (run.pairs < 16) run.pairs = 0;
  return run;
}

// Vertical blend of two horizontally scaled rows; a plain loop the compiler vectorises.
VANTRY_TARGET_CLONES void verticalBlend(const uint32_t* __restrict a, const uint32_t* __restrict b,
                                        uint32_t w, uint32_t* __restrict out, int n) {
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

namespace {

// Calls onRow(y, top, bottom, w) for output rows y0..y1 with the two horizontally scaled
// source rows around the row and the vertical weight (0: `top` alone). Each source row is
// scaled once and kept while neighbouring output rows use it (a zoomed picture reuses
// every source row for several output rows).
template <class Emit>
void scaledRows(const QImage& src, const Placement& p, int x0, int n, int y0, int y1,
                ColumnTable& columns, Emit&& onRow) {
  columns.build(p, src.width(), x0, x0 + n);
  const int step = src.width() > 1 ? 1 : 0;
  const DoubledRun run = doubledRun(columns, step);
  const int runEnd = run.start + 2 * run.pairs;
  std::vector<uint32_t>& cache = columns.rows;
  cache.resize(static_cast<size_t>(n) * 2);
  uint32_t* slot[2] = {cache.data(), cache.data() + n};
  int cached[2] = {-1, -1};
  auto scaled = [&](int sourceRow) -> const uint32_t* {
    if (cached[0] == sourceRow) return slot[0];
    if (cached[1] == sourceRow) return slot[1];
    // Replace the slot not holding the other row of the current pair.
    const int victim = cached[0] < cached[1] ? 0 : 1;
    const auto* row = reinterpret_cast<const uint32_t*>(src.constScanLine(sourceRow));
    uint32_t* out = slot[victim];
    if (run.pairs == 0) {
      horizontalRow(row, columns.index.data(), columns.weight.data(), step, out, n);
    } else {
      horizontalRow(row, columns.index.data(), columns.weight.data(), step, out, run.start);
      doubledRow(row + run.first, run.w0, run.w1, out + run.start, run.pairs);
      horizontalRow(row, columns.index.data() + runEnd, columns.weight.data() + runEnd, step,
                    out + runEnd, n - runEnd);
    }
    cached[victim] = sourceRow;
    return slot[victim];
  };
  const int srcH = src.height();
  for (int y = y0; y <= y1; ++y) {
    const auto [i, w] = sourceRow(p, y, srcH);
    if (w == 0) {
      onRow(y, scaled(i), nullptr, 0u);
      continue;
    }
    const uint32_t* bottom = scaled(i + 1);
    const uint32_t* top = scaled(i);  // still cached: the pair occupies both slots
    onRow(y, top, bottom, w);
  }
}

// dst = src over dst for opaque or translucent premultiplied pixels, without branches.
VANTRY_TARGET_CLONES void overRow(uint32_t* __restrict dst, const uint32_t* __restrict src, int n) {
  for (int k = 0; k < n; ++k) {
    const uint32_t a = src[k] >> 24;
    dst[k] = src[k] + scalePixel(dst[k], 256 - (a + (a >> 7)));
  }
}

}  // namespace

void samplePicture(QImage& out, const QImage& src, const Placement& p, const QRect& rect,
                   ColumnTable& columns) {
  if (rect.isEmpty() || src.isNull()) return;
  const int n = rect.width();
  scaledRows(src, p, rect.left(), n, rect.top(), rect.bottom(), columns,
             [&](int y, const uint32_t* top, const uint32_t* bottom, uint32_t w) {
               uint32_t* dst = reinterpret_cast<uint32_t*>(out.scanLine(y)) + rect.left();
               if (w == 0)
                 std::memcpy(dst, top, static_cast<size_t>(n) * 4);
               else
                 verticalBlend(top, bottom, w, dst, n);
             });
}

void samplePictureClipped(QImage& out, const QImage& src, const Placement& p,
                          const RoundedRect& clip, ColumnTable& columns,
                          std::vector<uint8_t>& edge) {
  const QRect bounds = clip.pixelBounds(out.width(), out.height());
  if (bounds.isEmpty() || src.isNull()) return;
  const int x0 = bounds.left(), n = bounds.width();
  std::vector<uint32_t>& line = columns.line;
  line.resize(n);
  RowSpan span;
  scaledRows(src, p, x0, n, bounds.top(), bounds.bottom(), columns,
             [&](int y, const uint32_t* top, const uint32_t* bottom, uint32_t w) {
               const uint32_t* sample = top;
               if (w != 0) {
                 verticalBlend(top, bottom, w, line.data(), n);
                 sample = line.data();
               }
               sample -= x0;  // indexed by output column from here
               rowSpan(clip, y, out.width(), span, edge);
               uint32_t* dst = reinterpret_cast<uint32_t*>(out.scanLine(y));
               auto partial = [&](int x) {
                 const uint32_t m = coverageWeight(edge[x]);
                 if (m != 0) dst[x] = over(scalePixel(sample[x], m), dst[x]);
               };
               for (int x = span.partialStart; x < span.fullStart; ++x)
                 partial(x);
               if (span.fullEnd > span.fullStart)
                 overRow(dst + span.fullStart, sample + span.fullStart,
                         span.fullEnd - span.fullStart);
               for (int x = std::max(span.fullEnd, span.fullStart); x < span.partialEnd; ++x)
                 partial(x);
             });
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

// ---- Planar YUV ----

void OwnedPlanes::allocate(int width, int height) {
  const int cw = width / 2, ch = height / 2;
  const int ys = (width + 63) & ~31, cs = (cw + 63) & ~31;
  memory.assign(static_cast<size_t>(ys) * height + 2 * static_cast<size_t>(cs) * ch + 64, 0);
  planes.width = width;
  planes.height = height;
  planes.stride[0] = ys;
  planes.stride[1] = planes.stride[2] = cs;
  planes.data[0] = memory.data();
  planes.data[1] = planes.data[0] + static_cast<size_t>(ys) * height;
  planes.data[2] = planes.data[1] + static_cast<size_t>(cs) * ch;
}

namespace {

inline uint8_t lerpByte(uint32_t a, uint32_t b, uint32_t w) {
  return static_cast<uint8_t>((a * (256 - w) + b * w) >> 8);
}

void horizontalBytesScalar(const uint8_t* row, const int32_t* index, const uint16_t* weight,
                           int step, uint8_t* out, int from, int n) {
  for (int k = from; k < n; ++k) {
    const int i = index[k];
    out[k] = lerpByte(row[i], row[i + step], weight[k]);
  }
}

// Eight samples from one 16-byte load: a byte shuffle picks both neighbours of each, the
// blend runs on 16-bit lanes (at most 255 · 256, so no overflow).
__attribute__((target("ssse3,sse4.1"))) void horizontalBytesShuffled(const uint8_t* row,
                                                                     const ColumnTable& t, int step,
                                                                     uint8_t* out, int n) {
  const __m128i full = _mm_set1_epi16(256);
  const int blocks = n / 8;
  for (int b = 0; b < blocks; ++b) {
    const int k = 8 * b;
    const int start = t.blockStart[b];
    if (start < 0) {
      horizontalBytesScalar(row, t.index.data(), t.weight.data(), step, out, k, k + 8);
      continue;
    }
    const __m128i src = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + start));
    const __m128i pick = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&t.shuffle[16 * b]));
    const __m128i ab = _mm_shuffle_epi8(src, pick);
    const __m128i a = _mm_cvtepu8_epi16(ab);
    const __m128i c = _mm_cvtepu8_epi16(_mm_srli_si128(ab, 8));
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&t.weight[k]));
    const __m128i r = _mm_srli_epi16(
        _mm_add_epi16(_mm_mullo_epi16(a, _mm_sub_epi16(full, w)), _mm_mullo_epi16(c, w)), 8);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k), _mm_packus_epi16(r, r));
  }
  horizontalBytesScalar(row, t.index.data(), t.weight.data(), step, out, 8 * blocks, n);
}

// 64 bytes of a row from `p` on, of which `readable` (may be 0 or less) are the row's.
__attribute__((target("avx512bw,avx512vl"))) inline __m512i window(const uint8_t* p, int readable) {
  if (readable >= 64) return _mm512_loadu_si512(p);
  return _mm512_maskz_loadu_epi8(readable > 0 ? (__mmask64{1} << readable) - 1 : 0, p);
}

// Thirty-two samples from one 64-byte load, or two for a shrunk picture (masked at the
// row's end): a byte permute picks the left neighbours straight into 16-bit lanes, the same
// indices plus `step` the right ones; the blend is that of the scalar pass.
__attribute__((target("avx512bw,avx512vl,avx512vbmi"))) void horizontalBytesPermuted(
    const uint8_t* row, int srcW, const ColumnTable& t, int step, uint8_t* out, int n) {
  const __m512i full = _mm512_set1_epi16(256);
  const __m512i next = _mm512_set1_epi16(static_cast<int16_t>(step));
  constexpr __mmask64 kLow = 0x5555555555555555ull;
  const int blocks = static_cast<int>(t.wideStart.size());
  for (int b = 0; b < blocks; ++b) {
    const int k = 32 * b;
    const int count = std::min(32, n - k);
    const int start = t.wideStart[b];
    if (start < 0) {
      horizontalBytesScalar(row, t.index.data(), t.weight.data(), step, out, k, k + count);
      continue;
    }
    const __m512i src = window(row + start, srcW - start);
    const __m512i left = _mm512_loadu_si512(&t.pick[64 * static_cast<size_t>(b)]);
    const __m512i right = _mm512_add_epi16(left, next);
    __m512i a, c;
    if (t.wideTwo[b]) {
      const __m512i more = window(row + start + 64, srcW - start - 64);
      a = _mm512_maskz_permutex2var_epi8(kLow, src, left, more);
      c = _mm512_maskz_permutex2var_epi8(kLow, src, right, more);
    } else {
      a = _mm512_maskz_permutexvar_epi8(kLow, left, src);
      c = _mm512_maskz_permutexvar_epi8(kLow, right, src);
    }
    const __mmask32 lanes = count == 32 ? ~__mmask32{0} : (__mmask32{1} << count) - 1;
    const __m512i w = _mm512_maskz_loadu_epi16(lanes, &t.weight[k]);
    const __m512i r =
        _mm512_srli_epi16(_mm512_add_epi16(_mm512_mullo_epi16(a, _mm512_sub_epi16(full, w)),
                                           _mm512_mullo_epi16(c, w)),
                          8);
    _mm512_mask_cvtepi16_storeu_epi8(out + k, lanes, r);
  }
}

ColumnTable::Lanes lanesFor(const ColumnTable& t) {
  static const ColumnTable::Lanes supported =
      __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
              __builtin_cpu_supports("avx512vbmi")
          ? ColumnTable::Lanes::Sixtyfour
      : __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("sse4.1")
          ? ColumnTable::Lanes::Sixteen
          : ColumnTable::Lanes::Scalar;
  return std::min(supported, t.widest);
}

void horizontalBytes(const uint8_t* row, int srcW, const ColumnTable& t, ColumnTable::Lanes lanes,
                     int step, uint8_t* out, int n) {
  if (lanes == ColumnTable::Lanes::Sixtyfour)
    horizontalBytesPermuted(row, srcW, t, step, out, n);
  else if (lanes == ColumnTable::Lanes::Sixteen)
    horizontalBytesShuffled(row, t, step, out, n);
  else
    horizontalBytesScalar(row, t.index.data(), t.weight.data(), step, out, 0, n);
}

VANTRY_TARGET_CLONES void verticalBytes(const uint8_t* __restrict a, const uint8_t* __restrict b,
                                        uint32_t w, uint8_t* __restrict out, int n) {
  const uint16_t iw = static_cast<uint16_t>(256 - w), ww = static_cast<uint16_t>(w);
  for (int k = 0; k < n; ++k)
    out[k] = static_cast<uint8_t>((a[k] * iw + b[k] * ww) >> 8);
}

// verticalBytes 32 at a time on 16-bit lanes, the bytes widened as they are loaded and
// narrowed as they are stored (the row's end masked).
__attribute__((target("avx512bw,avx512vl"))) void verticalBytesWide(const uint8_t* __restrict a,
                                                                    const uint8_t* __restrict b,
                                                                    uint32_t w,
                                                                    uint8_t* __restrict out,
                                                                    int n) {
  const __m512i iw = _mm512_set1_epi16(static_cast<int16_t>(256 - w));
  const __m512i ww = _mm512_set1_epi16(static_cast<int16_t>(w));
  for (int k = 0; k < n; k += 32) {
    const __mmask32 m = n - k >= 32 ? ~__mmask32{0} : (__mmask32{1} << (n - k)) - 1;
    const __m512i x = _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(m, a + k));
    const __m512i y = _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(m, b + k));
    _mm512_mask_cvtepi16_storeu_epi8(
        out + k, m,
        _mm512_srli_epi16(_mm512_add_epi16(_mm512_mullo_epi16(x, iw), _mm512_mullo_epi16(y, ww)),
                          8));
  }
}

}  // namespace

void ColumnTable::buildBlocks(int srcW, int step) {
  if (blocksFor_ == built_) return;
  blocksFor_ = built_;
  const int blocks = static_cast<int>(index.size()) / 8;
  blockStart.resize(blocks);
  shuffle.resize(static_cast<size_t>(blocks) * 16);
  for (int b = 0; b < blocks; ++b) {
    const int32_t* i = &index[8 * b];
    const int lo = *std::min_element(i, i + 8), hi = *std::max_element(i, i + 8) + step;
    // Wider than 16 bytes (a picture shrunk more than twice) or past the row's end.
    if (hi - lo >= 16 || lo + 16 > srcW) {
      blockStart[b] = -1;
      continue;
    }
    blockStart[b] = lo;
    for (int j = 0; j < 8; ++j) {
      shuffle[16 * b + j] = static_cast<uint8_t>(i[j] - lo);
      shuffle[16 * b + 8 + j] = static_cast<uint8_t>(i[j] + step - lo);
    }
  }
}

void ColumnTable::buildWideBlocks(int step) {
  if (wideFor_ == built_) return;
  wideFor_ = built_;
  const int n = static_cast<int>(index.size());
  const int blocks = (n + 31) / 32;
  wideStart.resize(blocks);
  wideTwo.assign(blocks, 0);
  pick.assign(static_cast<size_t>(blocks) * 64, 0);
  for (int b = 0; b < blocks; ++b) {
    const int32_t* i = &index[32 * b];
    const int count = std::min(32, n - 32 * b);
    const int lo = *std::min_element(i, i + count), hi = *std::max_element(i, i + count) + step;
    // Wider than 128 bytes: a picture shrunk about four times or more.
    if (hi - lo >= 128) {
      wideStart[b] = -1;
      continue;
    }
    wideStart[b] = lo;
    wideTwo[b] = hi - lo >= 64;
    for (int j = 0; j < count; ++j)
      pick[64 * b + 2 * j] = static_cast<uint8_t>(i[j] - lo);
  }
}

namespace {

// samplePlane, calling written(y, top, bottom, w) once output row y is written as
// verticalBytes(top, bottom, w) (`top` alone for w = 0).
template <class Written>
void samplePlaneRows(uint8_t* dst, int dstStride, const uint8_t* src, int srcStride, int srcW,
                     int srcH, const Placement& p, const QRect& rect, ColumnTable& columns,
                     Written&& written) {
  if (rect.isEmpty() || srcW <= 0 || srcH <= 0) return;
  columns.build(p, srcW, rect.left(), rect.right() + 1);
  const int step = srcW > 1 ? 1 : 0;
  const ColumnTable::Lanes lanes = lanesFor(columns);
  if (lanes == ColumnTable::Lanes::Sixtyfour)
    columns.buildWideBlocks(step);
  else if (lanes == ColumnTable::Lanes::Sixteen)
    columns.buildBlocks(srcW, step);
  const int n = rect.width();
  std::vector<uint8_t>& cache = columns.bytes;
  cache.resize(static_cast<size_t>(n) * 2);
  uint8_t* slot[2] = {cache.data(), cache.data() + n};
  int cached[2] = {-1, -1};
  const auto [low, high] = std::minmax_element(columns.index.begin(), columns.index.end());
  const std::pair<int, int> reach{*low, *high + step};  // the source columns read
  auto scaled = [&](int sourceRow) -> const uint8_t* {
    if (cached[0] == sourceRow) return slot[0];
    if (cached[1] == sourceRow) return slot[1];
    const int victim = cached[0] < cached[1] ? 0 : 1;
    horizontalBytes(src + static_cast<ptrdiff_t>(sourceRow) * srcStride, srcW, columns, lanes, step,
                    slot[victim], n);
    cached[victim] = sourceRow;
    // The next source row is fetched while the output rows of this one are written: a
    // decoded picture is seldom in the cache, and the loads of a row stall on it otherwise.
    if (sourceRow + 1 < srcH) {
      const uint8_t* next = src + static_cast<ptrdiff_t>(sourceRow + 1) * srcStride;
      for (uintptr_t at = reinterpret_cast<uintptr_t>(next + reach.first) & ~uintptr_t{63};
           at <= reinterpret_cast<uintptr_t>(next + reach.second); at += 64)
        __builtin_prefetch(reinterpret_cast<const void*>(at));
    }
    return slot[victim];
  };
  for (int y = rect.top(); y <= rect.bottom(); ++y) {
    const auto [i, w] = sourceRow(p, y, srcH);
    uint8_t* out = dst + static_cast<ptrdiff_t>(y) * dstStride + rect.left();
    const uint8_t* top = scaled(i);
    const uint8_t* bottom = top;
    if (w == 0) {
      std::memcpy(out, top, static_cast<size_t>(n));
    } else {
      bottom = scaled(i + 1);
      top = scaled(i);
      if (lanes == ColumnTable::Lanes::Sixtyfour)
        verticalBytesWide(top, bottom, w, out, n);
      else
        verticalBytes(top, bottom, w, out, n);
    }
    written(y, top, bottom, w);
  }
}

}  // namespace

void samplePlane(uint8_t* dst, int dstStride, const uint8_t* src, int srcStride, int srcW, int srcH,
                 const Placement& p, const QRect& rect, ColumnTable& columns) {
  samplePlaneRows(dst, dstStride, src, srcStride, srcW, srcH, p, rect, columns,
                  [](int, const uint8_t*, const uint8_t*, uint32_t) {});
}

namespace {

// Output columns in blocks of sixteen over one row of source columns [lo, lo + span).
struct ShrunkColumns {
  int lo = 0, span = 0;
  std::vector<int32_t> start;    // per block, in the row; -1: the block is done one by one
  std::vector<uint8_t> pick;     // 64 per block: left neighbours in the low bytes of 16 lanes
  std::vector<uint16_t> weight;  // the table's, padded to whole blocks with zeros
};

void pickScalar(const uint8_t* row, const ColumnTable& t, int lo, int step, uint8_t* out, int from,
                int to) {
  for (int k = from; k < to; ++k) {
    const int i = t.index[k] - lo;
    out[k] = lerpByte(row[i], row[i + step], t.weight[k]);
  }
}

// `row` holds the window's 64 bytes past the last block's start. Each sample's neighbours
// are permuted straight into 16-bit lanes (the upper half of the lanes goes unused).
__attribute__((target("avx512bw,avx512vl,avx512vbmi"))) void pickPermuted(const uint8_t* row,
                                                                          const ColumnTable& t,
                                                                          const ShrunkColumns& c,
                                                                          int step, uint8_t* out,
                                                                          int n) {
  const __m512i full = _mm512_set1_epi16(256);
  const __m512i next = _mm512_set1_epi16(static_cast<int16_t>(step));
  constexpr __mmask64 kLow = 0x5555555555555555ull;
  for (int b = 0; b < static_cast<int>(c.start.size()); ++b) {
    const int k = 16 * b, count = std::min(16, n - k);
    if (c.start[b] < 0) {
      pickScalar(row, t, c.lo, step, out, k, k + count);
      continue;
    }
    const __m512i src = _mm512_loadu_si512(row + c.start[b]);
    const __m512i left = _mm512_loadu_si512(&c.pick[64 * static_cast<size_t>(b)]);
    const __m512i a = _mm512_maskz_permutexvar_epi8(kLow, left, src);
    const __m512i d = _mm512_maskz_permutexvar_epi8(kLow, _mm512_add_epi16(left, next), src);
    const __m512i w = _mm512_maskz_loadu_epi16(0xFFFF, &c.weight[k]);
    const __m512i r =
        _mm512_srli_epi16(_mm512_add_epi16(_mm512_mullo_epi16(a, _mm512_sub_epi16(full, w)),
                                           _mm512_mullo_epi16(d, w)),
                          8);
    _mm512_mask_cvtepi16_storeu_epi8(out + k, static_cast<__mmask32>((1u << count) - 1), r);
  }
}

void buildShrunk(const ColumnTable& t, int step, ShrunkColumns& c) {
  const int n = static_cast<int>(t.index.size());
  const auto [lo, hi] = std::minmax_element(t.index.begin(), t.index.end());
  c.lo = *lo;
  c.span = *hi + step - *lo + 1;
  const int blocks = (n + 15) / 16;
  c.start.resize(blocks);
  c.pick.assign(static_cast<size_t>(blocks) * 64, 0);
  c.weight.assign(static_cast<size_t>(blocks) * 16, 0);
  std::copy(t.weight.begin(), t.weight.end(), c.weight.begin());
  for (int b = 0; b < blocks; ++b) {
    const int32_t* i = &t.index[16 * b];
    const int count = std::min(16, n - 16 * b);
    const int first = *std::min_element(i, i + count),
              last = *std::max_element(i, i + count) + step;
    // Wider than 64 bytes: a picture shrunk about four times or more.
    if (last - first >= 64) {
      c.start[b] = -1;
      continue;
    }
    c.start[b] = first - c.lo;
    for (int j = 0; j < count; ++j)
      c.pick[64 * b + 2 * j] = static_cast<uint8_t>(i[j] - first);
  }
}

}  // namespace

void sampleShrunkPlane(uint8_t* dst, int dstStride, const uint8_t* src, int srcStride, int srcW,
                       int srcH, const Placement& p, const QRect& rect, ColumnTable& columns,
                       bool wide) {
  if (rect.isEmpty() || srcW <= 0 || srcH <= 0) return;
  columns.build(p, srcW, rect.left(), rect.right() + 1);
  const int step = srcW > 1 ? 1 : 0;
  static const bool permutes = __builtin_cpu_supports("avx512bw") &&
                               __builtin_cpu_supports("avx512vl") &&
                               __builtin_cpu_supports("avx512vbmi");
  wide = wide && permutes;
  ShrunkColumns c;
  buildShrunk(columns, step, c);
  // One blended source row, with room for a whole window past its end.
  std::vector<uint8_t>& row = columns.bytes;
  row.assign(static_cast<size_t>(c.span) + 64, 0);
  const int n = rect.width();
  // The source rows lie apart, past what the processor fetches ahead on its own: the next
  // output row's two are asked for while this one is made.
  auto fetch = [&](int y) {
    if (y > rect.bottom()) return;
    const int i = sourceRow(p, y, srcH).first;
    const uint8_t* top = src + static_cast<ptrdiff_t>(i) * srcStride + c.lo;
    const uint8_t* bottom = i + 1 < srcH ? top + srcStride : top;
    for (int k = 0; k < c.span; k += 64) {
      __builtin_prefetch(top + k);
      __builtin_prefetch(bottom + k);
    }
  };
  fetch(rect.top());
  for (int y = rect.top(); y <= rect.bottom(); ++y) {
    fetch(y + 1);
    const auto [i, w] = sourceRow(p, y, srcH);
    const uint8_t* top = src + static_cast<ptrdiff_t>(i) * srcStride + c.lo;
    if (w == 0)
      std::memcpy(row.data(), top, static_cast<size_t>(c.span));
    else
      verticalBytes(top, top + srcStride, w, row.data(), c.span);
    uint8_t* out = dst + static_cast<ptrdiff_t>(y) * dstStride + rect.left();
    if (wide)
      pickPermuted(row.data(), columns, c, step, out, n);
    else
      pickScalar(row.data(), columns, c.lo, step, out, 0, n);
  }
}

void samplePlanes(Planes& out, const Planes& src, const Placement& p, const QRect& rect,
                  PlaneColumns& columns, const PlaneClip* clip, int laterFrom, int laterTo) {
  if (rect.isEmpty()) return;
  // A row is clipped as it is sampled.
  auto sample = [&](int c, const Placement& placement, const QRect& area, int srcW, int srcH,
                    int from, int to) {
    samplePlaneRows(out.data[c], out.stride[c], src.data[c], src.stride[c], srcW, srcH, placement,
                    area, c == 0 ? columns.luma : columns.chroma,
                    [&](int y, const uint8_t* top, const uint8_t* bottom, uint32_t w) {
                      if (clip && (y < from || y > to))
                        clip->applySampled(out, c, y, top, bottom, w, area.left(), area.width());
                    });
  };
  const bool later = laterTo >= laterFrom;
  sample(0, p, rect, src.width, src.height, later ? laterFrom : 0, later ? laterTo : -1);
  // A chroma sample sits at the centre of its 2x2 block: the same mapping at half scale.
  const Placement half{p.originX / 2, p.originY / 2, p.scaleX, p.scaleY, p.mirrored};
  const QRect blocks(QPoint(rect.left() / 2, rect.top() / 2),
                     QPoint(rect.right() / 2, rect.bottom() / 2));
  for (int c = 1; c < 3; ++c)
    sample(c, half, blocks, src.width / 2, src.height / 2, later ? laterFrom / 2 : 0,
           later ? laterTo / 2 : -1);
}

namespace {

void copyRowOutside(uint8_t* dst, const uint8_t* src, int w, int left, int right, bool inside) {
  if (!inside) {
    std::memcpy(dst, src, static_cast<size_t>(w));
    return;
  }
  std::memcpy(dst, src, static_cast<size_t>(left));
  if (right + 1 < w)
    std::memcpy(dst + right + 1, src + right + 1, static_cast<size_t>(w - right - 1));
}

}  // namespace

void copyPlanesInside(Planes& out, const Planes& src, const QRect& rect) {
  if (rect.isEmpty()) return;
  for (int p = 0; p < 3; ++p) {
    const int shift = p ? 1 : 0;
    const int x = rect.left() >> shift, n = rect.width() >> shift;
    for (int y = rect.top() >> shift; y <= rect.bottom() >> shift; ++y)
      std::memcpy(out.data[p] + static_cast<ptrdiff_t>(y) * out.stride[p] + x,
                  src.data[p] + static_cast<ptrdiff_t>(y) * src.stride[p] + x,
                  static_cast<size_t>(n));
  }
}

void copyPlanesOutside(Planes& out, const Planes& src, const QRect& hole) {
  const int w = out.width, h = out.height;
  for (int y = 0; y < h; ++y)
    copyRowOutside(out.data[0] + static_cast<ptrdiff_t>(y) * out.stride[0],
                   src.data[0] + static_cast<ptrdiff_t>(y) * src.stride[0], w, hole.left(),
                   hole.right(), !hole.isEmpty() && y >= hole.top() && y <= hole.bottom());
  const int cl = hole.left() / 2, cr = hole.right() / 2, ct = hole.top() / 2,
            cb = hole.bottom() / 2;
  for (int c = 1; c < 3; ++c)
    for (int y = 0; y < h / 2; ++y)
      copyRowOutside(out.data[c] + static_cast<ptrdiff_t>(y) * out.stride[c],
                     src.data[c] + static_cast<ptrdiff_t>(y) * src.stride[c], w / 2, cl, cr,
                     !hole.isEmpty() && y >= ct && y <= cb);
}

void PlaneClip::build(const RoundedRect& clip, const Planes& base) {
  luma_.clear();
  chroma_.clear();
  weights_.clear();
  for (auto& u : under_)
    u.clear();
  for (auto& f : firstRun_)
    f.assign(1, 0);
  top_ = 0;
  const int width = base.width, height = base.height;
  const QRect bounds = evenAligned(clip.pixelBounds(width, height), width, height);
  if (bounds.isEmpty()) return;
  buildRuns(clip, base, bounds);
  top_ = bounds.top();
  // Where each row's runs begin, and one past the last row's.
  auto index = [&](const std::vector<Run>& runs, int top, int rows, std::vector<uint32_t>& first) {
    first.assign(rows + 1, static_cast<uint32_t>(runs.size()));
    for (size_t k = runs.size(); k-- > 0;)
      first[runs[k].row - top] = static_cast<uint32_t>(k);
    for (int r = rows; r-- > 0;)  // rows without runs start where the next one does
      first[r] = std::min(first[r], first[r + 1]);
  };
  index(luma_, bounds.top(), bounds.height(), firstRun_[0]);
  index(chroma_, bounds.top() / 2, bounds.height() / 2, firstRun_[1]);
}

void PlaneClip::buildRuns(const RoundedRect& clip, const Planes& base, const QRect& bounds) {
  const int width = base.width;
  const int left = bounds.left(), right = bounds.right(), n = bounds.width();
  // A weight of 256 leaves the pixel as it is: only the others make runs.
  auto add = [&](std::vector<Run>& runs, int row, int x, uint32_t m) {
    if (m >= 256) return;
    if (runs.empty() || runs.back().row != row || runs.back().x + runs.back().n != x)
      runs.push_back({row, x, 0, static_cast<uint32_t>(weights_.size())});
    ++runs.back().n;
    weights_.push_back(static_cast<uint16_t>(m));
    const bool chromaRun = &runs == &chroma_;
    for (int p = 0; p < 3; ++p) {
      const bool mine = chromaRun == (p > 0);
      const uint8_t u = mine ? base.data[p][static_cast<ptrdiff_t>(row) * base.stride[p] + x] : 0;
      under_[p].push_back(static_cast<uint16_t>(u * (256 - m)));
    }
  };
  // Coverage (0..256) of the two luma rows of a chroma row; only the columns outside the
  // fully covered run of each row are filled in and read.
  std::vector<uint16_t> cover(static_cast<size_t>(n) * 2);
  std::vector<uint8_t> edge;
  RowSpan spans[2];
  auto coverage = [&](int row, int x) -> uint32_t {
    const RowSpan& s = spans[row];
    if (x >= s.fullStart && x < s.fullEnd) return 256;
    return cover[static_cast<size_t>(row) * n + (x - left)];
  };
  for (int y = bounds.top(); y <= bounds.bottom(); ++y) {
    const int row = y & 1;
    RowSpan& span = spans[row];
    rowSpan(clip, y, width, span, edge);
    const int fullStart = std::max(span.fullStart, left);
    const int fullEnd = std::max(std::min(span.fullEnd, right + 1), fullStart);
    span.fullStart = fullStart;
    span.fullEnd = fullEnd;
    uint16_t* c = &cover[static_cast<size_t>(row) * n];
    auto edgeRun = [&](int from, int to) {
      for (int x = from; x < to; ++x) {
        const uint32_t m =
            x >= span.partialStart && x < span.partialEnd ? coverageWeight(edge[x]) : 0;
        c[x - left] = static_cast<uint16_t>(m);
        add(luma_, y, x, m);
      }
    };
    edgeRun(left, fullStart);
    edgeRun(fullEnd, right + 1);
    if (row == 0) continue;
    const int innerStart = std::max(spans[0].fullStart, spans[1].fullStart);
    const int innerEnd = std::max(std::min(spans[0].fullEnd, spans[1].fullEnd), innerStart);
    for (int x = left; x <= right; x += 2) {
      if (x >= innerStart && x + 1 < innerEnd) {
        x = (innerEnd - 2) & ~1;  // past the last block inside both rows' full runs
        continue;
      }
      add(chroma_, y / 2, x / 2,
          (coverage(0, x) + coverage(0, x + 1) + coverage(1, x) + coverage(1, x + 1) + 2) / 4);
    }
  }
}

void PlaneClip::applyRows(Planes& out, int p, int from, int to) const {
  const std::vector<Run>& runs = p == 0 ? luma_ : chroma_;
  const std::vector<uint32_t>& at = firstRun_[p == 0 ? 0 : 1];
  const int top = p == 0 ? top_ : top_ / 2, count = static_cast<int>(at.size()) - 1;
  from = std::max(from - top, 0);
  to = std::min(to - top, count - 1);
  if (to < from) return;
  const auto first = runs.begin() + at[from], last = runs.begin() + at[to + 1];
  // The runs sit at the card's edges, one or two per row: the rows of a large frame are far
  // apart and, unless just written, not in the cache; the rows a few runs ahead are fetched
  // meanwhile.
  constexpr ptrdiff_t kAhead = 8;
  const bool ahead = to > from;
  for (auto r = first; r != last; ++r) {
    if (ahead && last - r > kAhead)
      __builtin_prefetch(
          out.data[p] + static_cast<ptrdiff_t>(r[kAhead].row) * out.stride[p] + r[kAhead].x, 1);
    uint8_t* d = out.data[p] + static_cast<ptrdiff_t>(r->row) * out.stride[p] + r->x;
    const uint16_t* w = &weights_[r->at];
    const uint16_t* u = &under_[p][r->at];
    for (int k = 0; k < r->n; ++k)
      d[k] = static_cast<uint8_t>((u[k] + d[k] * w[k]) >> 8);
  }
}

void PlaneClip::applySampled(Planes& out, int p, int row, const uint8_t* top, const uint8_t* bottom,
                             uint32_t w, int left, int n) const {
  const std::vector<Run>& runs = p == 0 ? luma_ : chroma_;
  const std::vector<uint32_t>& at = firstRun_[p == 0 ? 0 : 1];
  const int k = row - (p == 0 ? top_ : top_ / 2);
  if (k < 0 || k + 1 >= static_cast<int>(at.size())) return;
  uint8_t* d = out.data[p] + static_cast<ptrdiff_t>(row) * out.stride[p];
  for (uint32_t r = at[k]; r < at[k + 1]; ++r) {
    const Run& run = runs[r];
    // Outside the sampled columns `out` holds the base, which the clip leaves as it is.
    const int from = std::max(run.x, left), to = std::min(run.x + run.n, left + n);
    for (int x = from; x < to; ++x) {
      const uint32_t s =
          w == 0 ? top[x - left] : (top[x - left] * (256 - w) + bottom[x - left] * w) >> 8;
      const uint32_t e = run.at + (x - run.x);
      d[x] = static_cast<uint8_t>((under_[p][e] + s * weights_[e]) >> 8);
    }
  }
}

void PlaneClip::apply(Planes& out, int from, int to) const {
  if (to < from) return;
  applyRows(out, 0, from, to);
  for (int p = 1; p < 3; ++p)
    applyRows(out, p, from / 2, to / 2);
}

QRect evenAligned(const QRect& r, int w, int h) {
  if (r.isEmpty()) return {};
  const int l = std::max(0, r.left() & ~1), t = std::max(0, r.top() & ~1);
  const int rr = std::min(w - 1, r.right() | 1), b = std::min(h - 1, r.bottom() | 1);
  if (rr < l || b < t) return {};
  return QRect(QPoint(l, t), QPoint(rr, b));
}

void tileToPlanes(const QImage& tile, const QRect& rect, Planes& out) {
  const int x = rect.left(), y = rect.top();
  ff::bgraToYuv420Bt709(
      tile.constBits(), static_cast<int>(tile.bytesPerLine()), rect.width(), rect.height(),
      out.data[0] + static_cast<ptrdiff_t>(y) * out.stride[0] + x, out.stride[0],
      out.data[1] + static_cast<ptrdiff_t>(y / 2) * out.stride[1] + x / 2, out.stride[1],
      out.data[2] + static_cast<ptrdiff_t>(y / 2) * out.stride[2] + x / 2, out.stride[2]);
}

void CoveredPlanes::sample(const Planes& src, const Placement& p, const RoundedRect& clip,
                           const QRect& tile, ColumnTable& columns, std::vector<uint8_t>& edge) {
  width = tile.width();
  height = tile.height();
  planes.allocate(width, height);
  Placement local = p;
  local.originX -= tile.left();
  local.originY -= tile.top();
  // A chroma sample sits at the centre of its 2x2 block: the same mapping at half scale. A
  // camera is mostly shrunk into the bubble, where no source row serves two output rows.
  const Placement half{local.originX / 2, local.originY / 2, local.scaleX, local.scaleY,
                       local.mirrored};
  for (int k = 0; k < 3; ++k) {
    const Placement& q = k ? half : local;
    const int sw = k ? src.width / 2 : src.width, sh = k ? src.height / 2 : src.height;
    const QRect rect(0, 0, k ? width / 2 : width, k ? height / 2 : height);
    Planes& own = planes.planes;
    if (q.scaleY >= 1)
      sampleShrunkPlane(own.data[k], own.stride[k], src.data[k], src.stride[k], sw, sh, q, rect,
                        columns);
    else
      samplePlane(own.data[k], own.stride[k], src.data[k], src.stride[k], sw, sh, q, rect, columns);
  }

  const RoundedRect shape{clip.x0 - tile.left(), clip.y0 - tile.top(), clip.x1 - tile.left(),
                          clip.y1 - tile.top(), clip.radius};
  const int cw = width / 2, ch = height / 2;
  rows.assign(static_cast<size_t>(height) + ch, RowSpan{});
  cover.assign(static_cast<size_t>(width) * height, 0);
  chromaCover.assign(static_cast<size_t>(cw) * ch, 0);
  for (int y = 0; y < height; ++y) {
    RowSpan& s = rows[y];
    rowSpan(shape, y, width, s, edge);
    uint16_t* c = &cover[static_cast<size_t>(y) * width];
    for (int x = s.partialStart; x < s.fullStart; ++x)
      c[x] = static_cast<uint16_t>(coverageWeight(edge[x]));
    for (int x = std::max(s.fullEnd, s.fullStart); x < s.partialEnd; ++x)
      c[x] = static_cast<uint16_t>(coverageWeight(edge[x]));
    for (int x = s.fullStart; x < s.fullEnd; ++x)
      c[x] = 256;
  }
  for (int r = 0; r < ch; ++r) {
    const RowSpan& a = rows[2 * r];
    const RowSpan& b = rows[2 * r + 1];
    RowSpan& s = rows[height + r];
    s.partialStart = std::min(a.partialStart, b.partialStart) / 2;
    s.partialEnd = (std::max(a.partialEnd, b.partialEnd) + 1) / 2;
    s.fullStart = (std::max(a.fullStart, b.fullStart) + 1) / 2;
    s.fullEnd = std::max(std::min(a.fullEnd, b.fullEnd) / 2, s.fullStart);
    if (s.partialEnd <= s.partialStart) s = {};
    s.fullStart = std::clamp(s.fullStart, s.partialStart, s.partialEnd);
    s.fullEnd = std::clamp(s.fullEnd, s.fullStart, s.partialEnd);
    const uint16_t* c0 = &cover[static_cast<size_t>(2 * r) * width];
    const uint16_t* c1 = c0 + width;
    uint16_t* cc = &chromaCover[static_cast<size_t>(r) * cw];
    for (int k = s.partialStart; k < s.partialEnd; ++k)
      cc[k] =
          static_cast<uint16_t>((c0[2 * k] + c0[2 * k + 1] + c1[2 * k] + c1[2 * k + 1] + 2) / 4);
  }
}

namespace {

// A row drawn towards the layer's by its coverage (0..256) in the span's partial runs, the
// layer's copied in its covered run.
void coverRow(uint8_t* dst, const uint8_t* layer, const uint16_t* cover, const RowSpan& s) {
  for (int x = s.partialStart; x < s.fullStart; ++x)
    dst[x] = lerpByte(dst[x], layer[x], cover[x]);
  if (s.fullEnd > s.fullStart)
    std::memcpy(dst + s.fullStart, layer + s.fullStart,
                static_cast<size_t>(s.fullEnd - s.fullStart));
  for (int x = std::max(s.fullEnd, s.fullStart); x < s.partialEnd; ++x)
    dst[x] = lerpByte(dst[x], layer[x], cover[x]);
}

}  // namespace

void CoveredPlanes::paint(Planes& out, QPoint origin) const {
  const Planes& own = planes.planes;
  for (int y = 0; y < height; ++y)
    coverRow(out.data[0] + static_cast<ptrdiff_t>(origin.y() + y) * out.stride[0] + origin.x(),
             own.data[0] + static_cast<ptrdiff_t>(y) * own.stride[0],
             &cover[static_cast<size_t>(y) * width], rows[y]);
  const int cx = origin.x() / 2, cy = origin.y() / 2, cw = width / 2;
  for (int p = 1; p < 3; ++p)
    for (int r = 0; r < height / 2; ++r)
      coverRow(out.data[p] + static_cast<ptrdiff_t>(cy + r) * out.stride[p] + cx,
               own.data[p] + static_cast<ptrdiff_t>(r) * own.stride[p],
               &chromaCover[static_cast<size_t>(r) * cw], rows[height + r]);
}

namespace {

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

// ---- Premultiplied Y'CbCr laid over planes ----

namespace {

// Two rows of premultiplied Y'CbCr and alpha (in PlanarSprite's units) for the luma columns
// [x, x + n) of a row pair, zero where nothing is laid; `x` and `n` even.
struct OverRows {
  int x, n;
  uint16_t *y[2], *u[2], *v[2], *a[2];
  OverRows(std::vector<uint16_t>& scratch, int x0, int count) : x(x0), n(count) {
    scratch.assign(static_cast<size_t>(8) * n, 0);
    for (int k = 0; k < 2; ++k) {
      y[k] = scratch.data() + static_cast<size_t>(k) * n;
      u[k] = y[k] + 2 * n;
      v[k] = u[k] + 2 * n;
      a[k] = v[k] + 2 * n;
    }
  }
};

// out = laid + (1 - alpha) out; chroma by the sums over each 2x2 block. The 257 / 256 stands
// for 256 / 255 and keeps a transparent pixel exactly as it was.
void layOver(Planes& out, int y, const OverRows& rows) {
  for (int k = 0; k < 2; ++k) {
    uint8_t* d = out.data[0] + static_cast<ptrdiff_t>(y + k) * out.stride[0] + rows.x;
    const uint16_t *py = rows.y[k], *pa = rows.a[k];
    for (int i = 0; i < rows.n; ++i)
      d[i] = static_cast<uint8_t>((py[i] + ((d[i] * (255 - pa[i]) * 257) >> 8) + 128) >> 8);
  }
  for (int p = 1; p < 3; ++p) {
    uint8_t* d = out.data[p] + static_cast<ptrdiff_t>(y / 2) * out.stride[p] + rows.x / 2;
    const uint16_t* c0 = p == 1 ? rows.u[0] : rows.v[0];
    const uint16_t* c1 = p == 1 ? rows.u[1] : rows.v[1];
    const uint16_t *a0 = rows.a[0], *a1 = rows.a[1];
    for (int j = 0; j < rows.n / 2; ++j) {
      const int i = 2 * j;
      const int alpha = a0[i] + a0[i + 1] + a1[i] + a1[i + 1];
      const int laid = c0[i] + c0[i + 1] + c1[i] + c1[i + 1];
      d[j] = static_cast<uint8_t>((laid + ((d[j] * (1020 - alpha) * 257) >> 8) + 512) >> 10);
    }
  }
}

// A premultiplied pixel's luma + 16 alpha and chroma + 128 alpha, in 1/256 of a level.
std::array<uint16_t, 3> premultipliedYuv(int r, int g, int b, int a) {
  using namespace ff::bt709;
  auto level = [&](int kr, int kg, int kb, int offset) {
    const double v = (kr * r + kg * g + kb * b) / 32768.0 + offset * a / 255.0;
    return static_cast<uint16_t>(std::lround(v * 256));
  };
  return {level(kYR, kYG, kYB, 16), level(kUR, kUG, kUB, 128), level(kVR, kVG, kVB, 128)};
}

// The part of a pixel (a unit square) on the inner side of a straight edge `s` pixels
// beyond its centre, the edge running across the direction (dx, dy) of length d: the area
// the rasteriser gives a large circle's rim, where 0.5 + s alone is exact only for edges
// along the pixel grid.
double squareCoverage(double s, double dx, double dy, double d) {
  double a = d > 0 ? std::abs(dx) / d : 1, b = d > 0 ? std::abs(dy) / d : 0;
  if (a < b) std::swap(a, b);
  const double half = (a + b) / 2;
  if (s <= -half) return 0;
  if (s >= half) return 1;
  if (std::abs(s) <= (a - b) / 2) return 0.5 + s / a;
  const double corner = (half - std::abs(s)) * (half - std::abs(s)) / (2 * a * b);
  return s > 0 ? 1 - corner : corner;
}

}  // namespace

void PlanarSprite::build(const QImage& sprite) {
  const QImage src = sprite.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  width = src.width();
  height = src.height();
  const size_t n = static_cast<size_t>(width) * height;
  for (auto* plane : {&y, &u, &v, &alpha})
    plane->assign(n, 0);
  rows.assign(height, {0, 0});
  for (int r = 0; r < height; ++r) {
    const uint32_t* line = reinterpret_cast<const uint32_t*>(src.constScanLine(r));
    int first = width, last = -1;
    for (int c = 0; c < width; ++c) {
      const uint32_t p = line[c];
      const int a = static_cast<int>(p >> 24);
      if (!a) continue;
      const size_t i = static_cast<size_t>(r) * width + c;
      const auto [py, pu, pv] = premultipliedYuv((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF, a);
      y[i] = py;
      u[i] = pu;
      v[i] = pv;
      alpha[i] = static_cast<uint16_t>(a);
      first = std::min(first, c);
      last = c;
    }
    if (last >= first) rows[r] = {first, last + 1};
  }
}

void PlanarSprite::paint(Planes& out, QPoint at, const QRect& clip,
                         std::vector<uint16_t>& scratch) const {
  const QRect area = QRect(at, QSize(width, height)) & clip & QRect(0, 0, out.width, out.height);
  if (area.isEmpty()) return;
  for (int pair = area.top() & ~1; pair <= area.bottom(); pair += 2) {
    // The columns either row of the pair lays something on.
    int l = area.right() + 1, r = area.left();
    for (int k = 0; k < 2; ++k) {
      if (pair + k < area.top() || pair + k > area.bottom()) continue;
      const auto [first, second] = rows[pair + k - at.y()];
      if (second <= first) continue;
      l = std::min(l, std::max(area.left(), at.x() + first));
      r = std::max(r, std::min(area.right() + 1, at.x() + second));
    }
    if (r <= l) continue;
    OverRows over(scratch, l & ~1, ((r + 1) & ~1) - (l & ~1));
    for (int k = 0; k < 2; ++k) {
      if (pair + k < area.top() || pair + k > area.bottom()) continue;
      const size_t from = static_cast<size_t>(pair + k - at.y()) * width + (l - at.x());
      const size_t bytes = static_cast<size_t>(r - l) * sizeof(uint16_t);
      const int to = l - over.x;
      std::memcpy(over.y[k] + to, &y[from], bytes);
      std::memcpy(over.u[k] + to, &u[from], bytes);
      std::memcpy(over.v[k] + to, &v[from], bytes);
      std::memcpy(over.a[k] + to, &alpha[from], bytes);
    }
    layOver(out, pair, over);
  }
}

void paintRing(Planes& out, QPointF centre, double inner, double outer, uint32_t rgb, int alpha,
               const QRect& clip, std::vector<uint16_t>& scratch) {
  if (alpha <= 0 || !(outer > inner) || !(outer > 0)) return;
  alpha = std::min(alpha, 255);
  const double cx = centre.x(), cy = centre.y();
  // Pixels whose centre lies beyond `reach` or within `hole` have no coverage.
  const double reach = outer + 0.5, hole = inner - 0.5;
  const QRect area = QRect(QPoint(static_cast<int>(std::floor(cx - reach)),
                                  static_cast<int>(std::floor(cy - reach))),
                           QPoint(static_cast<int>(std::ceil(cx + reach)),
                                  static_cast<int>(std::ceil(cy + reach)))) &
                     clip & QRect(0, 0, out.width, out.height);
  if (area.isEmpty()) return;
  // The colour at full alpha, in 1/256 of a level.
  const auto colour = premultipliedYuv((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF, 255);
  auto halfWidth = [](double radius, double dy) {
    return radius > 0 && radius * radius > dy * dy ? std::sqrt(radius * radius - dy * dy) : -1.0;
  };
  for (int y = area.top() & ~1; y <= area.bottom(); y += 2) {
    double wide = -1, narrow = -1;  // the pair's widest reach and narrowest hole
    for (int k = 0; k < 2; ++k) {
      const double dy = y + k + 0.5 - cy;
      wide = std::max(wide, halfWidth(reach, dy));
      narrow = k ? std::min(narrow, halfWidth(hole, dy)) : halfWidth(hole, dy);
    }
    if (wide < 0) continue;
    const int l = std::max(area.left(), static_cast<int>(std::floor(cx - wide)));
    const int r = std::min(area.right() + 1, static_cast<int>(std::ceil(cx + wide)));
    // Whole chroma blocks inside the hole in both rows are left alone.
    int holeL = r, holeR = r;
    if (narrow > 0) {
      holeL = (static_cast<int>(std::ceil(cx - narrow)) + 1) & ~1;
      holeR = static_cast<int>(std::floor(cx + narrow)) & ~1;
      if (holeR <= holeL) holeL = holeR = r;
    }
    auto segment = [&](int from, int to) {
      from = std::max(from, l);
      to = std::min(to, r);
      if (to <= from) return;
      OverRows over(scratch, from & ~1, ((to + 1) & ~1) - (from & ~1));
      for (int k = 0; k < 2; ++k) {
        if (y + k < area.top() || y + k > area.bottom()) continue;
        const double dy = y + k + 0.5 - cy;
        for (int x = from; x < to; ++x) {
          const double dx = x + 0.5 - cx, d = std::sqrt(dx * dx + dy * dy);
          const double cover =
              squareCoverage(outer - d, dx, dy, d) - squareCoverage(inner - d, dx, dy, d);
          const int a = static_cast<int>(alpha * cover + 0.5);
          if (!a) continue;
          const int i = x - over.x;
          over.y[k][i] = static_cast<uint16_t>((colour[0] * a + 127) / 255);
          over.u[k][i] = static_cast<uint16_t>((colour[1] * a + 127) / 255);
          over.v[k][i] = static_cast<uint16_t>((colour[2] * a + 127) / 255);
          over.a[k][i] = static_cast<uint16_t>(a);
        }
      }
      layOver(out, y, over);
    };
    segment(l, holeL);
    segment(holeR, r);
  }
}

}  // namespace vantry::kernels
