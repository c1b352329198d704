// 8-bit planes sampled bilinearly: one plane or the three of a 4:2:0 picture (across, then
// down), and a shrunk plane (down, then across). Across: eight samples from one 16-byte load
// with SSSE3 and SSE4.1, thirty-two from one or two 64-byte loads with AVX-512 (BW, VL,
// VBMI), one by one otherwise; ColumnTable::widest pins the narrower roads for the tests.
// Down: a plain loop built for AVX2 and for the rest (VANTRY_TARGET_CLONES), or thirty-two at
// a time with AVX-512. Every road gives the same bytes.
#include "render/kernels/pixel_kernels.h"

#include <immintrin.h>
#include <algorithm>
#include <cstring>

#include "platform/cpu_dispatch.h"
#include "render/kernels/kernel_common.h"

namespace vantry::kernels {

namespace {

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

}  // namespace vantry::kernels
