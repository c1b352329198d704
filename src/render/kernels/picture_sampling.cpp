// Pictures in 32-bit BGRA: bilinear sampling into the output, plain or composited under a
// rounded clip; the clip against a base; a filled rounded rectangle; the copy around a hole.
// The horizontal pass takes eight pixels at a time with AVX2, picked from sixteen neighbouring
// ones where they lie that close (shrunk less than twice) and gathered elsewhere, scalar where
// the processor lacks AVX2 (the same bytes); a doubled picture reads neighbouring pixels instead.
// The vertical blend and the compositing rows are plain loops built for AVX2 and for the rest
// (VANTRY_TARGET_CLONES).
#include "render/kernels/pixel_kernels.h"

#include <immintrin.h>
#include <algorithm>
#include <cstring>

#include "platform/cpu_dispatch.h"
#include "render/kernels/kernel_common.h"

namespace vantry::kernels {

namespace {

inline uint32_t over(uint32_t src, uint32_t dst) {
  const uint32_t a = src >> 24;
  if (a == 255) return src;
  return src + scalePixel(dst, 256 - (a + (a >> 7)));
}

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

// Lane i of lo:hi (0..15) for each lane of `at`.
__attribute__((target("avx2"))) inline __m256i pick(__m256i lo, __m256i hi, __m256i at) {
  return _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(lo, at),
                            _mm256_permutevar8x32_epi32(hi, at),
                            _mm256_cmpgt_epi32(at, _mm256_set1_epi32(7)));
}

// Eight samples at a time: the two neighbours of each picked from two registers of source
// pixels when all sixteen lie within them and the row, else gathered (several times slower);
// the blend on 16-bit lanes (at most 255 · 256 each) in the same arithmetic as the scalar
// pass.
__attribute__((target("avx2"))) void horizontalRowGathered(const uint32_t* row, int srcW,
                                                           const int32_t* index,
                                                           const uint16_t* weight, int step,
                                                           uint32_t* out, int n) {
  const __m256i low = _mm256_set1_epi16(0x00FF);
  const __m256i high = _mm256_set1_epi16(static_cast<int16_t>(0xFF00));
  const __m256i full = _mm256_set1_epi16(256);
  const __m256i next = _mm256_set1_epi32(step);
  const auto* left = reinterpret_cast<const int*>(row);
  const auto* right = reinterpret_cast<const int*>(row + step);
  int k = 0;
  for (; k + 8 <= n; k += 8) {
    const __m256i at = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(index + k));
    __m256i a, b;
    // The columns run one way (both ways for a mirrored picture): the ends bound them.
    const int from = std::min(index[k], index[k + 7]);
    const int to = std::max(index[k], index[k + 7]) + step;
    if (to - from < 16 && from + 16 <= srcW) {
      const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + from));
      const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + from + 8));
      const __m256i relative = _mm256_sub_epi32(at, _mm256_set1_epi32(from));
      a = pick(lo, hi, relative);
      b = pick(lo, hi, _mm256_add_epi32(relative, next));
    } else {
      a = _mm256_i32gather_epi32(left, at, 4);
      b = _mm256_i32gather_epi32(right, at, 4);
    }
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

void horizontalRow(const uint32_t* row, int srcW, const int32_t* index, const uint16_t* weight,
                   int step, uint32_t* out, int n) {
  static const bool gathers = __builtin_cpu_supports("avx2");
  if (gathers)
    horizontalRowGathered(row, srcW, index, weight, step, out, n);
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
    const int srcW = src.width();
    if (run.pairs == 0) {
      horizontalRow(row, srcW, columns.index.data(), columns.weight.data(), step, out, n);
    } else {
      horizontalRow(row, srcW, columns.index.data(), columns.weight.data(), step, out, run.start);
      doubledRow(row + run.first, run.w0, run.w1, out + run.start, run.pairs);
      horizontalRow(row, srcW, columns.index.data() + runEnd, columns.weight.data() + runEnd, step,
                    out + runEnd, n - runEnd);
    }
    cached[victim] = sourceRow;
    return slot[victim];
  };
  const int srcH = src.height();
  const auto [low, high] = std::minmax_element(columns.index.begin(), columns.index.end());
  const std::pair<int, int> reach{*low, *high + step};  // the source columns read
  // A shrunk picture's rows lie apart, past what the processor fetches ahead on its own:
  // the next output row's two are asked for while this one is made.
  auto fetch = [&](int y) {
    if (y > y1) return;
    const int i = sourceRow(p, y, srcH).first;
    for (int r = i; r <= std::min(i + 1, srcH - 1); ++r) {
      if (r == cached[0] || r == cached[1]) continue;
      const auto* row = reinterpret_cast<const uint32_t*>(src.constScanLine(r));
      for (uintptr_t at = reinterpret_cast<uintptr_t>(row + reach.first) & ~uintptr_t{63};
           at <= reinterpret_cast<uintptr_t>(row + reach.second); at += 64)
        __builtin_prefetch(reinterpret_cast<const void*>(at));
    }
  };
  fetch(y0);
  fetch(y0 + 1);
  for (int y = y0; y <= y1; ++y) {
    fetch(y + 2);
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

}  // namespace vantry::kernels
