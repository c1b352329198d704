#include "model/clip.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "localization/localization.h"

namespace vantry {

std::vector<PointerSample>& SampleList::edit() {
  if (!data_) {
    data_ = std::make_shared<const std::vector<PointerSample>>();
  } else if (data_.use_count() > 1) {
    data_ = std::make_shared<const std::vector<PointerSample>>(*data_);
  }
  // The storage is ours alone now; it is only ever handed out as const elsewhere.
  return const_cast<std::vector<PointerSample>&>(*data_);
}

const std::vector<PointerSample>& SampleList::none() {
  static const std::vector<PointerSample> none;
  return none;
}

std::string_view rawValue(CameraCorner corner) {
  switch (corner) {
    case CameraCorner::bottomRight:
      return "bottomRight";
    case CameraCorner::bottomLeft:
      return "bottomLeft";
    case CameraCorner::topRight:
      return "topRight";
    case CameraCorner::topLeft:
      return "topLeft";
  }
  return "bottomRight";
}

std::optional<CameraCorner> cameraCornerFromRaw(std::string_view raw) {
  for (CameraCorner corner : kAllCameraCorners) {
    if (rawValue(corner) == raw) return corner;
  }
  return std::nullopt;
}

std::string label(CameraCorner corner) {
  switch (corner) {
    case CameraCorner::bottomRight:
      return L("右下角");
    case CameraCorner::bottomLeft:
      return L("左下角");
    case CameraCorner::topRight:
      return L("右上角");
    case CameraCorner::topLeft:
      return L("左上角");
  }
  return L("右下角");
}

bool EditSettings::changesMotion(const EditSettings& other) const {
  return zoomEnabled != other.zoomEnabled || zoomAmount != other.zoomAmount ||
         follow != other.follow || smoothness != other.smoothness || hold != other.hold;
}

double Clip::cameraTime(double sourceTime) const {
  return std::max(sourceTime + cameraOffset.value_or(0) + cameraSyncAdjustment.value_or(0), 0.0);
}

Uuid derivedZoomID(const Uuid& clipID, double clickTime) {
  // Recorded clicks are never negative; a hand-edited time that is negative, NaN or
  // beyond the 64-bit microsecond range is pinned instead of converted undefined.
  const double micros = std::round(clickTime * 1'000'000.0);
  std::uint64_t n = 0;
  if (micros >= 18446744073709551616.0) {
    n = std::numeric_limits<std::uint64_t>::max();
  } else if (micros > 0) {
    n = static_cast<std::uint64_t>(micros);
  }
  Uuid::Bytes bytes = clipID.bytes();
  for (int k = 0; k < 8; ++k) {
    bytes[k] = static_cast<std::uint8_t>(bytes[k] ^ ((n >> (8 * k)) & 0xFF));
  }
  return Uuid(bytes);
}

}  // namespace vantry

std::size_t std::hash<vantry::PresenterBlock::ID>::operator()(
    const vantry::PresenterBlock::ID& id) const noexcept {
  return std::hash<vantry::Uuid>{}(id.rangeID) * 31 + std::hash<double>{}(id.sourceStart);
}

std::size_t std::hash<vantry::ZoomBlock::ID>::operator()(
    const vantry::ZoomBlock::ID& id) const noexcept {
  std::size_t h = std::hash<vantry::Uuid>{}(id.eventID);
  h = h * 31 + std::hash<vantry::Uuid>{}(id.rangeID);
  return h * 31 + std::hash<double>{}(id.sourceStart);
}
