// The timeline card drawn offscreen in a chosen state, without a controller: for the
// developer tool and the screenshot sheets. The live card (TimelineView) uses the same
// layout, toolbar, headers and lane painting.
#pragma once

#include <QImage>

#include <optional>
#include <vector>

#include "model/clip.h"
#include "model/timeline_scale.h"

class QWidget;

namespace vantry::timeline {

struct CardState {
  double zoom = TimelineScale::defaultZoom;
  double time = 0;                       // playhead, output seconds
  std::optional<int> selectedSegment;    // index in the video lane
  std::optional<int> selectedZoom;       // index of a zoom block (its whole event)
  std::optional<int> selectedPresenter;  // index in the presenter lane
  std::optional<double> ghost;           // hover time in the zoom lane
  std::optional<double> hoverX;          // hover line, content points
  double scroll = 0;                     // points scrolled from the content's start
  bool canUndo = false;
  bool canRedo = false;
};

// The states a person looks over, for a project: a selected segment, a selected zoom with
// its trim handles, the add-zoom ghost over free space, a selected presenter block.
struct CardShot {
  const char* name;
  CardState state;
};
std::vector<CardShot> cardShots(const Clip& clip);

// The card `width` points wide at `scale` pixels per point, on the window's dark ground.
QImage renderCard(const Clip& clip, const CardState& state, double width, double scale = 1.0);

// Lays out a card: toolbar above, header column beside the lane area, padded by 12, on a
// glass panel of radius 16.
void arrangeCard(QWidget* card, QWidget* toolbar, QWidget* headers, QWidget* lanes);

}  // namespace vantry::timeline
