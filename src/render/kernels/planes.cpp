// The planes themselves: their memory, copies inside a rectangle and around a hole, the
// card's clip worked out once for a shape and base that stay (PlaneClip), and BGRA tiles
// converted into them by the platform's BT.709 converter. Scalar only.
#include "render/kernels/pixel_kernels.h"

#include <algorithm>
#include <cstring>

#include "platform/ffmpeg/bgra_to_yuv.h"
#include "render/kernels/kernel_common.h"

namespace vantry::kernels {

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

}  // namespace vantry::kernels
