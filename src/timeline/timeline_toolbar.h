// The timeline card's toolbar: title, the three tool groups (segments, zooms, undo) and the
// timeline zoom control. It only shows states and reports clicks; the card wires it.
#pragma once

#include <QWidget>

namespace vantry {

class GlassButton;
class IconButton;
class NeonSlider;

namespace timeline {

// A row of buttons in a dark rounded frame with a hairline border.
class ToolGroup : public QWidget {
  Q_OBJECT

 public:
  explicit ToolGroup(QWidget* parent = nullptr);
  void add(QWidget* widget);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class TimelineToolbar : public QWidget {
  Q_OBJECT

 public:
  explicit TimelineToolbar(QWidget* parent = nullptr);

  // The timeline zoom the slider shows (its value is the natural logarithm).
  void showZoom(double zoom);
  void showStates(bool canDeleteSegment, bool canRemoveZoom, bool canUndo, bool canRedo);
  // Texts in the interface language of the moment.
  void retranslate();
  // The title as drawn at the current width.
  QString shownTitle() const;

  GlassButton* split;
  IconButton* deleteSegment;
  GlassButton* addZoom;
  IconButton* removeZoom;
  IconButton* undo;
  IconButton* redo;
  IconButton* zoomOut;
  NeonSlider* zoomSlider;
  IconButton* zoomIn;
  IconButton* fit;

 signals:
  // The slider asks for this timeline zoom.
  void zoomRequested(double zoom);

 private:
  class Title;
  Title* title_;
};

}  // namespace timeline
}  // namespace vantry
