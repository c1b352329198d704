// model/: the project document and what is worked out from it: segments, zoom and presenter
// events, springs, the motion timeline, the camera layout, the timeline scale and the
// document's JSON. Plain C++20 without Qt.
//
// The project document: one recording opened for editing, and the values it holds.
// Everything here is a plain value; copies are independent (the pointer track is
// shared between copies until one side changes it).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/point.h"
#include "model/uuid.h"

namespace vantry {

struct PointerSample {
  double time = 0;  // source seconds, never negative when recorded
  double x = 0;     // 0..1 from the left of the captured frame
  double y = 0;     // 0..1 from the top
  bool clicked = false;
};

// Copy-on-write list of pointer samples: a one-hour track holds 216,000 samples and
// the undo stack keeps up to 100 copies of the whole document.
class SampleList {
 public:
  SampleList() = default;
  SampleList(std::vector<PointerSample> samples)  // NOLINT: implicit on purpose
      : data_(std::make_shared<const std::vector<PointerSample>>(std::move(samples))) {}
  SampleList(std::initializer_list<PointerSample> samples)
      : SampleList(std::vector<PointerSample>(samples)) {}

  const std::vector<PointerSample>& get() const { return data_ ? *data_ : none(); }
  operator const std::vector<PointerSample>&() const { return get(); }  // NOLINT

  std::size_t size() const { return get().size(); }
  bool empty() const { return get().empty(); }
  const PointerSample& operator[](std::size_t i) const { return get()[i]; }
  auto begin() const { return get().begin(); }
  auto end() const { return get().end(); }

  // Mutable access; copies the samples first when another document shares them.
  std::vector<PointerSample>& edit();

  // True when both lists use the same storage (a copy nobody has changed yet).
  bool sharesStorageWith(const SampleList& other) const { return data_ == other.data_; }

 private:
  static const std::vector<PointerSample>& none();
  std::shared_ptr<const std::vector<PointerSample>> data_;
};

struct ZoomEvent {
  Uuid id = Uuid::random();
  double start = 0;
  double end = 0;
  Point center;
  std::optional<double> amount;  // absent: EditSettings::zoomAmount applies

  double duration() const { return end - start > 0 ? end - start : 0; }
  friend bool operator==(const ZoomEvent&, const ZoomEvent&) = default;
};

struct SourceRange {
  Uuid id = Uuid::random();
  double start = 0;
  double end = 0;

  double duration() const { return end - start > 0 ? end - start : 0; }
  friend bool operator==(const SourceRange&, const SourceRange&) = default;
};

struct PresenterEvent {
  Uuid id = Uuid::random();
  double time = 0;
  bool fullScreen = false;

  friend bool operator==(const PresenterEvent&, const PresenterEvent&) = default;
};

enum class CameraCorner { bottomRight, bottomLeft, topRight, topLeft };

inline constexpr CameraCorner kAllCameraCorners[] = {CameraCorner::bottomRight,
                                                     CameraCorner::bottomLeft,
                                                     CameraCorner::topRight, CameraCorner::topLeft};

// "bottomRight", "bottomLeft", "topRight", "topLeft".
std::string_view rawValue(CameraCorner corner);
std::optional<CameraCorner> cameraCornerFromRaw(std::string_view raw);
// The corner's name in the interface language.
std::string label(CameraCorner corner);

struct EditSettings {
  bool zoomEnabled = true;
  double zoomAmount = 2.0;
  bool follow = true;
  double smoothness = 0.72;
  double hold = 2.3;
  bool showCamera = true;
  double cameraSize = 0.2;
  CameraCorner corner = CameraCorner::bottomRight;
  std::optional<Point> cameraPosition;
  bool showCursor = true;
  bool showClicks = false;
  double padding = 0.015;
  std::optional<bool> mirrorCamera;  // absent counts as mirrored
  std::int64_t background = 0;

  bool mirrorsCamera() const { return mirrorCamera.value_or(true); }
  // The padding a layout can use: 0 to a quarter of the canvas width (a larger one leaves
  // no screen); below 0 or not a number counts as 0.
  double usablePadding() const { return padding > 0 ? std::min(padding, 0.25) : 0; }
  // Whether the two settings differ in anything the motion timeline depends on.
  bool changesMotion(const EditSettings& other) const;

  friend bool operator==(const EditSettings&, const EditSettings&) = default;
};

// A kept range placed on the output timeline.
struct PlacedRange {
  SourceRange range;
  double start = 0;  // output time where the range begins

  const Uuid& id() const { return range.id; }
  double end() const { return start + range.duration(); }
};

struct PresenterBlock {
  struct ID {
    Uuid rangeID;
    double sourceStart = 0;
    friend bool operator==(const ID&, const ID&) = default;
  };

  ID id;
  double sourceEnd = 0;
  double outputStart = 0;
  bool fullScreen = false;

  double duration() const { return sourceEnd - id.sourceStart; }
  double outputEnd() const { return outputStart + duration(); }
};

struct ZoomBlock {
  struct ID {
    Uuid eventID;
    Uuid rangeID;
    double sourceStart = 0;
    friend bool operator==(const ID&, const ID&) = default;
  };

  ID id;
  double sourceEnd = 0;
  double outputStart = 0;
  Point center;
  std::optional<double> amount;

  double duration() const { return sourceEnd - id.sourceStart; }
  double outputEnd() const { return outputStart + duration(); }
};

struct Clip {
  Uuid id = Uuid::random();
  std::string title;
  double duration = 0;
  std::optional<std::string> screenPath;
  std::optional<std::string> cameraPath;
  std::optional<std::string> audioPath;
  std::optional<double> cameraOffset;
  std::optional<double> audioOffset;
  std::optional<double> cameraSyncAdjustment;
  SampleList samples;
  bool isDemo = false;
  std::int64_t width = 1920;
  std::int64_t height = 1080;
  std::optional<std::vector<SourceRange>> keptRanges;          // absent: all kept
  std::optional<std::vector<PresenterEvent>> presenterEvents;  // absent: none
  std::optional<std::vector<ZoomEvent>> zoomEventsOverride;    // absent: automatic
  std::optional<EditSettings> savedSettings;

  // Time to read in the camera movie for a source time (never negative).
  double cameraTime(double sourceTime) const;

  // --- Kept ranges and the edited timeline (clip_timeline.cpp) ---
  // The stored ranges clamped into 0..duration, empty ones dropped, order kept.
  std::vector<SourceRange> ranges() const;
  std::vector<PlacedRange> placedRanges() const;
  double editedDuration() const;
  double sourceTime(double outputTime) const;
  std::optional<double> outputTime(double sourceTime) const;
  // Cuts the segment under an output time (snapped to 1/60 s); the new range's id.
  std::optional<Uuid> split(double outputTime);
  bool deleteRange(const Uuid& rangeID);

  // --- Zoom events (clip_zoom.cpp) ---
  std::vector<ZoomEvent> defaultZoomEvents() const;
  // The list in force: the override when stored, else the automatic events; cleaned.
  std::vector<ZoomEvent> zoomEvents() const;
  // Stores the cleaned list as the override.
  void setZoomEvents(std::vector<ZoomEvent> events);
  static std::vector<ZoomEvent> nonOverlapping(std::vector<ZoomEvent> events);
  std::optional<ZoomEvent> zoom(double sourceTime) const;
  std::optional<Uuid> addZoom(double sourceTime, double length, Point center);
  bool moveZoom(const Uuid& eventID, double wantedStart);
  bool resizeZoom(const Uuid& eventID, std::optional<double> start, std::optional<double> end);
  bool setZoomAmount(const Uuid& eventID, std::optional<double> amount);
  void removeZoom(const Uuid& eventID);
  std::vector<ZoomBlock> zoomBlocks() const;

  // --- Presenter layout (clip_presenter.cpp) ---
  bool presenterIsFull(double sourceTime) const;
  // The layout the picture shows at a point of the edited timeline. Its very end shows the
  // last picture of the last kept stretch, so there it is the layout of the block that ends
  // there, not of one that would begin at that source time.
  bool presenterIsFullAtOutput(double outputTime) const;
  void setPresenter(bool fullScreen, double sourceTime);
  void setPresenter(bool fullScreen, const PresenterBlock& block);
  std::vector<PresenterBlock> presenterBlocks() const;
  // 0 = bubble, 1 = full screen, smoothed by a spring across switches.
  double presenterMix(double sourceTime) const;
};

// The id an automatic zoom event gets for a click at a time: the clip's id with its
// first eight bytes mixed with the click's microsecond count.
Uuid derivedZoomID(const Uuid& clipID, double clickTime);

}  // namespace vantry

template <>
struct std::hash<vantry::PresenterBlock::ID> {
  std::size_t operator()(const vantry::PresenterBlock::ID& id) const noexcept;
};

template <>
struct std::hash<vantry::ZoomBlock::ID> {
  std::size_t operator()(const vantry::ZoomBlock::ID& id) const noexcept;
};
