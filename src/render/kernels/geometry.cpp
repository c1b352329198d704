// What every family starts from: the rounded rectangle's analytic coverage and its spans
// per row, where a picture lands in the output, and the bilinear column table of one
// placement. Scalar only.
#include "render/kernels/pixel_kernels.h"

#include <algorithm>
#include <cmath>

#include "render/kernels/kernel_common.h"

namespace vantry::kernels {

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

}  // namespace vantry::kernels
