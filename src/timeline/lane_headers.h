// The column of lane headers beside the lane area: a spacer the height of the ruler, then
// one badge and title for the video, zoom and presenter lanes.
#pragma once

#include <QWidget>

namespace vantry::timeline {

class LaneHeaders : public QWidget {
  Q_OBJECT

 public:
  explicit LaneHeaders(QWidget* parent = nullptr);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace vantry::timeline
