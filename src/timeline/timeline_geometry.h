// Where everything on the timeline's lane area lies, in the lane content's own points
// (x = output seconds x points per second, 0 at the content's leading edge). Painting,
// hit-testing, the tests and the developer tool all read the same numbers from here.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/clip.h"

namespace vantry::timeline {

// Rows of the lane stack, top to bottom, with `gap` between them.
inline constexpr double rulerHeight = 24;
inline constexpr double videoHeight = 40;
inline constexpr double zoomHeight = 32;
inline constexpr double presenterHeight = 28;
inline constexpr double gap = 6;
inline constexpr double stackHeight =
    rulerHeight + videoHeight + zoomHeight + presenterHeight + 3 * gap;  // 142
inline constexpr double areaHeight = stackHeight + 14;                   // 156
// Horizontal padding of the lane content inside the lane area, on each side.
inline constexpr double contentPadding = 12;
inline constexpr double headerWidth = 92;

inline constexpr double minZoom = 1;
inline constexpr double maxZoom = 32;

// Pointer travel, in points, that turns a press into something else.
inline constexpr double laneClickSlop = 3;     // zoom lane: click versus scrub
inline constexpr double segmentDragSlop = 3;   // video segment: click versus drag
inline constexpr double zoomMoveSlop = 4;      // zoom block: click versus move
inline constexpr double trimSlop = 1;          // trim handle
inline constexpr double trimHandleWidth = 10;  // hit area at each end of the selected zoom
inline constexpr double trimPreviewMinimum = 8;

enum class Row { ruler, video, zoom, presenter };

struct Span {
  double top = 0;
  double height = 0;
  double bottom() const { return top + height; }
  bool contains(double y) const { return y >= top && y < top + height; }
};

// The row's vertical extent in the lane stack.
Span rowSpan(Row row);
// The row under a y of the lane stack, none in the gaps and outside.
std::optional<Row> rowAt(double y);

// Timeline zoom within 1...32 (NaN counts as 1).
double clampZoom(double zoom);
// The zoom at which the edited duration spans a lane area `viewport` points wide; none when
// there is nothing to fit.
std::optional<double> fitToWidthZoom(double viewport, double duration);
// Content width: at least the visible width less its padding, longer when zoomed in.
double contentWidth(double viewport, double pps, double duration);
// A scroll position or range in whole points: 0 and up, capped at what an int holds (a
// hand-edited duration can ask for any width).
int wholePoints(double points);
// The scroll range for content `width` points wide in a `viewport`.
int scrollRange(double width, int viewport);
// The playhead's x; it never leaves the content.
double playheadX(double time, double pps, double width);

struct Rect {
  double x = 0;
  double width = 0;
  double right() const { return x + width; }
  bool contains(double px) const { return px >= x && px < x + width; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

// A kept segment of the video lane.
struct SegmentShape {
  Uuid id;
  int number = 0;       // from 1, in output order
  double start = 0;     // output seconds
  double duration = 0;  // seconds
  Rect rect;            // 1 point in from each end of its span, at least 1 wide
  bool showsDuration = false;
};
std::vector<SegmentShape> segmentShapes(const std::vector<PlacedRange>& ranges, double pps);

// A presenter layout stretch.
struct PresenterShape {
  PresenterBlock block;
  Rect rect;
  bool showsTitle = false;
};
std::vector<PresenterShape> presenterShapes(const std::vector<PresenterBlock>& blocks, double pps);

// One block of a zoom event. A segment boundary cuts an event into several pieces; the
// leading trim handle belongs to the first piece only and the trailing one to the last.
struct ZoomShape {
  ZoomBlock block;
  Rect rect;  // at rest: pps x start, pps x duration - 1, at least 4 wide
  bool firstPiece = true;
  bool lastPiece = true;
};
std::vector<ZoomShape> zoomShapes(const std::vector<ZoomBlock>& blocks, double pps);

// What a zoom block shows at a width: the "Zoom" title past 54 points, the magnification
// past 40.
bool zoomShowsTitle(double width);
bool zoomShowsAmount(double width);

// The live trim preview of a block `rect` dragged by `dx` points at one edge: the other edge
// stays put and the block never gets narrower than 8 points.
Rect trimPreview(Rect rect, bool leading, double dx);

// The whole event of a block: the output span from its first piece's start to its last
// piece's end.
struct EventSpan {
  double start = 0;
  double end = 0;
  double length() const { return end - start; }
};
std::optional<EventSpan> eventSpan(const std::vector<ZoomBlock>& blocks, const Uuid& eventID);

// The start asked for when an event is dropped after a move of `dx` points: the event's own
// start plus the drag, kept so that the whole event stays inside the edit.
double moveTarget(const EventSpan& event, double dx, double pps, double duration);

// The output time of the edge a trim of `dx` points asks for.
double trimTarget(const EventSpan& event, bool leading, double dx, double pps);

// The add-zoom ghost for a hover at output time t: none inside a block. Its width shows a
// zoom of `length` seconds cut short at the next block or the end of the edit.
struct Ghost {
  double time = 0;
  Rect rect;
  bool showsLabel = false;
};
std::optional<Ghost> ghostAt(double t, const std::vector<ZoomBlock>& blocks, double duration,
                             double pps, double length);
double ghostWidth(double t, const std::vector<ZoomBlock>& blocks, double duration, double pps,
                  double length);

// Ruler ticks. Counts are floor(d / step + 1e-9), so a duration that is a whole number of
// steps keeps its last tick even where the division falls just short.
std::size_t tickCount(double duration, double step);

struct Tick {
  double x = 0;
  double time = 0;
  bool major = false;
  std::string label;  // major ticks only
};

// Major ticks (with labels) and minor ticks whose x lies within [from, to], in ascending x,
// majors after minors. Every label is the same as drawing the whole ruler would give.
std::vector<Tick> ticks(double duration, double pps, double from, double to);
// Just the major ticks' x in [from, to] (the grid lines).
std::vector<double> gridLines(double duration, double pps, double from, double to);

// "0.5s" / "12s" below a minute; "01:30" from there on, or "01:00.5" where the major step is
// below a second (minute and second alone would repeat). No locale.
std::string tickLabel(double t, double majorStep);
// Seconds as "mm:ss", truncated, never negative.
std::string clockText(double seconds);

// A fixed number format that no locale touches: "%.1f" and so on.
std::string fixed(double value, int decimals);

// The magnifications of the zoom menu, and the item ticked for a block: its own amount when
// it matches a value within 0.001, none when it follows the default or matches nothing.
inline constexpr double kMagnifications[] = {1.25, 1.5, 1.75, 2.0, 2.5, 3.0, 3.5};
std::optional<int> tickedMagnification(std::optional<double> amount);

}  // namespace vantry::timeline
