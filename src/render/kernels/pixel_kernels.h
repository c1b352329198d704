// The CPU kernels the compositors are built from (render/kernels/), one file a family:
// geometry (shapes, placements, column tables), picture_sampling (BGRA pictures),
// plane_sampling (4:2:0 planes sampled), planes (their memory, copies and the card's clip),
// plane_layers (layers laid over planes) and shadow; kernel_common.h holds what they share.
//
// Pictures are 32-bit premultiplied (QImage::Format_ARGB32_Premultiplied or RGB32);
// coordinates are output pixels with pixel centres at +0.5.
#pragma once

#include <QImage>
#include <QRectF>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

namespace vantry::kernels {

// A rounded rectangle with analytic anti-aliased coverage.
struct RoundedRect {
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0, radius = 0;

  static RoundedRect from(const QRectF& r, double radius);
  bool empty() const { return !(x1 > x0 && y1 > y0); }
  // Coverage 0..1 of the pixel whose centre is (px, py), from the signed distance.
  double coverage(double px, double py) const;
  // Pixel rows/columns touched, cut to [0, w) x [0, h).
  QRect pixelBounds(int w, int h) const;
};

// Per-row coverage layout: [partialStart, fullStart) and [fullEnd, partialEnd) have
// partial coverage (given in `edge`), [fullStart, fullEnd) is fully covered.
struct RowSpan {
  int partialStart = 0, fullStart = 0, fullEnd = 0, partialEnd = 0;
};
void rowSpan(const RoundedRect& r, int y, int width, RowSpan& span, std::vector<uint8_t>& edge);

// How output pixels map into a source picture: u = (x + 0.5 - originX) * scaleX - 0.5,
// likewise v; mirrored pictures use a negative scale from the right edge.
struct Placement {
  double originX = 0, originY = 0;  // output position of the picture's left/top edge
  double scaleX = 1, scaleY = 1;    // source pixels per output pixel
  bool mirrored = false;            // source read right to left
};
// The placement that stretches `src` (srcW x srcH) to fill `target` (output pixels).
Placement placementFor(const QRectF& target, int srcW, int srcH, bool mirrored);

// Reusable bilinear column table for one placement and column range.
struct ColumnTable {
  std::vector<int32_t> index;    // left source column
  std::vector<uint16_t> weight;  // 0..256 towards the right column
  std::vector<uint32_t> rows;    // scratch: horizontally scaled source rows
  std::vector<uint8_t> bytes;    // the same for 8-bit planes
  std::vector<uint32_t> line;    // scratch: one output row
  // 8-bit planes, eight samples at a time: the 16 source bytes from `blockStart` hold all
  // sixteen neighbours, picked by `shuffle` (-1: the block is done one by one).
  std::vector<int32_t> blockStart;
  std::vector<uint8_t> shuffle;  // 16 per block: left neighbours, then right ones
  void buildBlocks(int srcW, int step);
  // The same 32 samples at a time from 64 source bytes, or 128 (`wideTwo`), the last block
  // may be shorter; `pick` holds each sample's left neighbour in the low byte of a 16-bit lane.
  std::vector<int32_t> wideStart;
  std::vector<uint8_t> wideTwo;
  std::vector<uint8_t> pick;  // 64 per block
  void buildWideBlocks(int step);
  // The widest kernel samplePlane may use; tests pin the narrower ones to compare them.
  enum class Lanes { Scalar, Sixteen, Sixtyfour };
  Lanes widest = Lanes::Sixtyfour;
  // Builds the table, or keeps it when it was built last for the same columns (a held zoom).
  void build(const Placement& p, int srcW, int x0, int x1);

 private:
  struct Key {
    double originX = 0, scaleX = 0;
    bool mirrored = false;
    int srcW = -1, x0 = 0, x1 = 0;
    bool operator==(const Key&) const = default;
  };
  Key key_;
  // Counts the builds; the blocks remember the one they were made for.
  uint64_t built_ = 0, blocksFor_ = 0, wideFor_ = 0;
};

// Writes the bilinear samples of `src` into `out` over `rect` (no blending).
void samplePicture(QImage& out, const QImage& src, const Placement& p, const QRect& rect,
                   ColumnTable& columns);
// Composites the samples of `src` over `out`, clipped by a rounded rectangle.
void samplePictureClipped(QImage& out, const QImage& src, const Placement& p,
                          const RoundedRect& clip, ColumnTable& columns,
                          std::vector<uint8_t>& edge);
// Restores `base` where the rounded rectangle does not fully cover the pixel, within
// the rectangle's pixel bounds: out = out * coverage + base * (1 - coverage).
void clipToRoundedRect(QImage& out, const QImage& base, const RoundedRect& clip,
                       std::vector<uint8_t>& edge);
// Fills the rounded rectangle with an opaque colour (anti-aliased edges).
void fillRoundedRect(QImage& out, const RoundedRect& r, uint32_t argb, std::vector<uint8_t>& edge);
// Copies `src` to `out` everywhere except inside `hole` (same sizes).
void copyOutside(QImage& out, const QImage& src, const QRect& hole);

// ---- Planar YUV 4:2:0 (8 bits, the encoder's own format) ----

// Three planes; `width` x `height` is the luma size (even), chroma is half of it each way.
struct Planes {
  uint8_t* data[3] = {nullptr, nullptr, nullptr};
  int stride[3] = {0, 0, 0};
  int width = 0, height = 0;
};
// Planes with their own memory.
struct OwnedPlanes {
  std::vector<uint8_t> memory;
  Planes planes;
  void allocate(int width, int height);
};

// Writes the bilinear samples of one 8-bit plane (srcW x srcH) over `rect` of `dst`, the
// same arithmetic as samplePicture per channel.
void samplePlane(uint8_t* dst, int dstStride, const uint8_t* src, int srcStride, int srcW, int srcH,
                 const Placement& p, const QRect& rect, ColumnTable& columns);
// The same for a picture shrunk (no source row serves two output rows): each output row
// blends its two source rows first, over the columns it reads, then picks across that row,
// sixteen samples from a 64-byte window where the processor can (`wide`; the plain loop
// otherwise, which gives the same bytes). Within rounding of samplePlane.
void sampleShrunkPlane(uint8_t* dst, int dstStride, const uint8_t* src, int srcStride, int srcW,
                       int srcH, const Placement& p, const QRect& rect, ColumnTable& columns,
                       bool wide = true);
class PlaneClip;
// Samples all three planes of a 4:2:0 picture over `rect` (luma pixels; chroma covers the
// 2x2 blocks it touches). `p` is the luma placement. With `clip`, each row is clipped as
// soon as it is written, but for the luma rows [laterFrom, laterTo] (even aligned) and their
// chroma rows, which the caller clips once it has painted over them.
// The tables are kept apart for luma and chroma, so that a held zoom builds neither again.
struct PlaneColumns {
  ColumnTable luma, chroma;
};
void samplePlanes(Planes& out, const Planes& src, const Placement& p, const QRect& rect,
                  PlaneColumns& columns, const PlaneClip* clip = nullptr, int laterFrom = 0,
                  int laterTo = -1);
// Copies `src` to `out` everywhere except inside `hole` (luma pixels; chroma keeps the
// blocks the hole touches).
void copyPlanesOutside(Planes& out, const Planes& src, const QRect& hole);
// Copies `src` to `out` inside `rect` (even aligned, within the planes).
void copyPlanesInside(Planes& out, const Planes& src, const QRect& rect);
// clipToRoundedRect for planes, worked out once for a shape and base that stay (the card of
// an export): the runs of pixels and chroma blocks the shape does not fully cover, with
// their weights and the base under them; chroma blocks take the mean coverage of their
// four pixels.
class PlaneClip {
 public:
  void build(const RoundedRect& clip, const Planes& base);
  // out = out * weight + base * (1 - weight) over the runs of the luma rows [from, to] and
  // their chroma rows.
  void apply(Planes& out, int from = 0, int to = std::numeric_limits<int>::max()) const;
  // The same over the rows [from, to] of plane `p`.
  void applyRows(Planes& out, int p, int from, int to) const;
  // The same over row `row` of plane `p` just sampled as verticalBytes(top, bottom, w) over
  // the columns [left, left + n): the samples are taken from those rows rather than read
  // back from `out`, whose lines may not have arrived yet.
  void applySampled(Planes& out, int p, int row, const uint8_t* top, const uint8_t* bottom,
                    uint32_t w, int left, int n) const;

 private:
  struct Run {
    int row, x, n;  // plane row, first column, count
    uint32_t at;    // first entry
  };
  void buildRuns(const RoundedRect& clip, const Planes& base, const QRect& bounds);
  std::vector<Run> luma_, chroma_;
  std::vector<uint16_t> weights_;  // 0..255 towards `out`
  // base · (256 - weight) per plane at the same entries (luma ones in [0], chroma in [1], [2])
  std::vector<uint16_t> under_[3];
  int top_ = 0;  // the first luma row of the runs
  // Per luma (0) and chroma (1) row from the top, its first run; one more past the last row.
  std::vector<uint32_t> firstRun_[2] = {{0}, {0}};
};
// A rectangle grown to even coordinates (whole chroma blocks), cut to w x h.
QRect evenAligned(const QRect& r, int w, int h);
// Converts a BGRA tile to `rect` (even aligned, the tile's size) of the planes.
void tileToPlanes(const QImage& tile, const QRect& rect, Planes& out);

// A layer of planes with a coverage per pixel (0..256), laid over planes many times: each
// plane is drawn towards the layer by the coverage (chroma by the mean of its four pixels),
// and copied where it is wholly covered. Blending Y'CbCr is blending R'G'B' (the matrix is
// affine), so this gives, within rounding, the pixels of painting the layer in BGRA.
struct CoveredPlanes {
  int width = 0, height = 0;  // even
  OwnedPlanes planes;
  std::vector<uint16_t> cover;        // per luma pixel, filled in the rows' partial runs
  std::vector<uint16_t> chromaCover;  // the same per chroma sample
  std::vector<RowSpan> rows;          // per luma row, then per chroma row (chroma columns)
  // Samples `src` (even size, `p` its luma placement) over `tile` (even aligned, output
  // pixels) with the coverage of `clip` (output pixels).
  void sample(const Planes& src, const Placement& p, const RoundedRect& clip, const QRect& tile,
              ColumnTable& columns, std::vector<uint8_t>& edge);
  // Lays the layer over `out` with its top-left corner at `origin` (even).
  void paint(Planes& out, QPoint origin) const;
};

// A premultiplied BGRA sprite kept as premultiplied Y'CbCr and alpha, laid over planes at
// whole-pixel positions without going through BGRA: luma and each pixel's chroma carry the
// sprite's own colour, so the result is that of src-over in R'G'B' (the matrix is affine),
// within rounding; chroma blocks take the mean alpha of their four pixels.
struct PlanarSprite {
  int width = 0, height = 0;
  // Per pixel: luma + 16 alpha and chroma + 128 alpha in 1/256 of a level; alpha 0..255.
  std::vector<uint16_t> y, u, v, alpha;
  std::vector<std::pair<int, int>> rows;  // per row, the columns [first, second) not transparent
  // Takes a Format_ARGB32_Premultiplied picture.
  void build(const QImage& sprite);
  bool empty() const { return width == 0; }
  // Lays the sprite over `out` with its top-left pixel at `at`, changing only pixels
  // within `clip`. `scratch` is reused between calls.
  void paint(Planes& out, QPoint at, const QRect& clip, std::vector<uint16_t>& scratch) const;
};

// Lays a ring of one colour (0xRRGGBB at `alpha` 0..255) over planes: between the radii
// `inner` and `outer` round `centre`, with analytic anti-aliased coverage, changing only
// pixels within `clip`.
void paintRing(Planes& out, QPointF centre, double inner, double outer, uint32_t rgb, int alpha,
               const QRect& clip, std::vector<uint16_t>& scratch);

// A soft drop shadow of a rounded rectangle, computed at a reduced resolution (it is
// blurred anyway) and applied by bilinear upsampling.
class Shadow {
 public:
  // `shape` in output pixels; sigma and the downward offset in output pixels.
  void build(const RoundedRect& shape, double sigma, double offsetY, double opacity);
  // Darkens `out` by the shadow, except inside `skip` (pixels something opaque covers next).
  void apply(QImage& out, const QRect& skip = {}) const;
  // The same on planes: luma and chroma drawn towards black (16 and 128), chroma by the mean
  // weight of its four pixels. The chroma blocks `over` (laid at `at` next) covers wholly
  // are left alone. Keeps the map's rows sampled across the columns for the next frame
  // while the shadow stays where it is.
  void applyPlanes(Planes& out, const CoveredPlanes* over = nullptr, QPoint at = {});
  bool matches(double w, double h, double radius, double sigma, double offsetY,
               double opacity) const;
  // build() or moveTo() as the shape needs, for a shape whose size changes often: once
  // it is wide and tall enough for a flat middle past its corners and the blur, every size
  // shares the map of the least such size, its middle column and row drawn out.
  void fit(const RoundedRect& shape, double sigma, double offsetY, double opacity);
  // The output area a shadow of `shape` may darken.
  static QRectF reach(const RoundedRect& shape, double sigma, double offsetY);
  // The pixels the shadow as placed darkens, within width x height.
  QRect area(int width, int height) const { return pixelArea(width, height); }
  void moveTo(double x0, double y0);

 private:
  QRect pixelArea(int width, int height) const;
  void columns(int l, int r, std::vector<int32_t>& ci, std::vector<uint32_t>& cf) const;
  void level(int y, std::vector<uint32_t>& level) const;
  // The map row above output row y and the weight (0..256) of the one below it.
  std::pair<int, uint32_t> mapRow(int y) const;

  double shapeW_ = -1, shapeH_ = -1, radius_ = -1, sigma_ = -1, offsetY_ = 0, opacity_ = 0;
  double originX_ = 0, originY_ = 0;  // output position of map cell (0, 0)'s top-left corner
  double margin_ = 0;                 // map border around the shape, output pixels
  double cell_ = 1;                   // output pixels per map cell
  int mapW_ = 0, mapH_ = 0;
  // Output pixels the map's middle column and row are drawn out by (fit()).
  double stretchX_ = 0, stretchY_ = 0;
  std::vector<uint8_t> map_;
  // Each map row sampled across the output columns [acrossLeft_, acrossRight_) for the map
  // placed at acrossX_ and drawn out by acrossStretch_ (coverage · 256); empty after a build.
  std::vector<uint16_t> across_;
  int acrossLeft_ = 0, acrossRight_ = 0;
  double acrossX_ = 0, acrossStretch_ = 0;
};

// Packed-pixel helpers.
inline uint32_t scalePixel(uint32_t p, uint32_t w /*0..256*/) {
  const uint32_t rb = ((p & 0x00FF00FFu) * w >> 8) & 0x00FF00FFu;
  const uint32_t ag = (((p >> 8) & 0x00FF00FFu) * w) & 0xFF00FF00u;
  return rb | ag;
}
inline uint32_t lerpPixel(uint32_t a, uint32_t b, uint32_t w /*0..256 towards b*/) {
  const uint32_t iw = 256 - w;
  const uint32_t rb = (((a & 0x00FF00FFu) * iw + (b & 0x00FF00FFu) * w) >> 8) & 0x00FF00FFu;
  const uint32_t ag = (((a >> 8) & 0x00FF00FFu) * iw + ((b >> 8) & 0x00FF00FFu) * w) & 0xFF00FF00u;
  return rb | ag;
}

}  // namespace vantry::kernels
