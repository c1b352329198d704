// timeline/: the timeline card: toolbar, lane headers, lanes, their geometry and painting,
// and what screen readers see of them.
//
// The timeline card of the main window: toolbar, lane headers and the lane area. It
// observes the controller and the interface language, and every edit is one controller
// call. Disabled as a whole while the controller exports.
#pragma once

#include <QWidget>

namespace vantry {

class Animated;
class Studio;

namespace timeline {
class LaneHeaders;
class TimelineLanes;
class TimelineToolbar;
}  // namespace timeline

class TimelineView : public QWidget {
  Q_OBJECT

 public:
  explicit TimelineView(Studio& studio, QWidget* parent = nullptr);

  timeline::TimelineToolbar* toolbar() const { return toolbar_; }
  timeline::TimelineLanes* lanes() const { return lanes_; }

  // Sets the timeline zoom, clamped to 1...32.
  void setZoom(double zoom);
  // The zoom at which the edited duration fits the lane area, eased in over 0.2 s;
  // nothing for an empty edit.
  void fitToWidth();

 private:
  void sync();
  void retranslate();

  Studio& studio_;
  timeline::TimelineToolbar* toolbar_;
  timeline::LaneHeaders* headers_;
  timeline::TimelineLanes* lanes_;
  Animated* fit_;
};

}  // namespace vantry
