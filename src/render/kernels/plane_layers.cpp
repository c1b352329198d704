// Layers laid over planes without going through BGRA: a sampled picture with a coverage per
// pixel (CoveredPlanes, the camera bubble), a premultiplied sprite (PlanarSprite) and an
// anti-aliased ring (paintRing). Each blends in Y'CbCr, which is blending R'G'B' as the matrix
// is affine; chroma takes the mean of its four pixels. Scalar only.
#include "render/kernels/pixel_kernels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "platform/ffmpeg/bgra_to_yuv.h"
#include "render/kernels/kernel_common.h"

namespace vantry::kernels {

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
