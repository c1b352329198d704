#include "timeline/timeline_toolbar.h"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QPainter>

#include <cmath>

#include "design/buttons.h"
#include "design/icons.h"
#include "design/neon_slider.h"
#include "design/painting.h"
#include "design/theme.h"
#include "localization/qt/qt_text.h"
#include "model/timeline_scale.h"
#include "timeline/timeline_geometry.h"

namespace vantry::timeline {

class TimelineToolbar::Title : public QWidget {
 public:
  explicit Title(QWidget* parent) : QWidget(parent) { retranslate(); }
  void retranslate() {
    text_ = QL("镜头时间线");
    updateGeometry();
    update();
  }
  QSize sizeHint() const override {
    return tightLabelSize(QStringLiteral("timeline.selection"), 15, text_, font_())
        .toSize()
        .grownBy({0, 0, 2, 0});
  }
  // The icon and an ellipsis: a narrow card shortens the title, never cuts it mid-letter.
  QSize minimumSizeHint() const override {
    const QFontMetricsF m(font_());
    return QSize(int(std::ceil(kIcon + kGap + m.horizontalAdvance(QStringLiteral("…")))) + 2,
                 sizeHint().height());
  }
  QString shownText() const {
    return QFontMetricsF(font_()).elidedText(text_, Qt::ElideRight, width() - kIcon - kGap);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    paintSymbol(p, QStringLiteral("timeline.selection"),
                QRectF(0, (height() - kIcon) / 2, kIcon, kIcon), Theme::cyan, QFont::DemiBold);
    p.setFont(font_());
    p.setPen(Theme::text);
    p.drawText(QRectF(kIcon + kGap, 0, width() - kIcon - kGap, height()), Qt::AlignVCenter,
               shownText());
  }

 private:
  static constexpr double kIcon = 15;
  static constexpr double kGap = 7;
  static QFont font_() { return uiFont(12, QFont::DemiBold); }
  QString text_;
};

ToolGroup::ToolGroup(QWidget* parent) : QWidget(parent) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(2, 2, 2, 2);
  row->setSpacing(2);
}

void ToolGroup::add(QWidget* widget) {
  static_cast<QHBoxLayout*>(layout())->addWidget(widget, 0, Qt::AlignVCenter);
}

void ToolGroup::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  fillRounded(p, rect(), 10, Color(0x000000, 0.25));
  strokeRoundedInside(p, rect(), 10, Theme::hairline, 1);
}

namespace {

GlassButton* labelButton(const QString& symbol) {
  return new GlassButton(QString(), symbol, GlassButtonStyle{false, Theme::cyan, true});
}

}  // namespace

TimelineToolbar::TimelineToolbar(QWidget* parent) : QWidget(parent) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(10);
  title_ = new Title(this);
  row->addWidget(title_);

  split = labelButton(QStringLiteral("scissors"));
  deleteSegment = new IconButton(QStringLiteral("trash"), QString());
  addZoom = labelButton(QStringLiteral("plus.magnifyingglass"));
  removeZoom = new IconButton(QStringLiteral("minus.magnifyingglass"), QString());
  undo = new IconButton(QStringLiteral("arrow.uturn.backward"), QString());
  redo = new IconButton(QStringLiteral("arrow.uturn.forward"), QString());
  for (auto buttons :
       {std::pair<QWidget*, QWidget*>{split, deleteSegment}, {addZoom, removeZoom}, {undo, redo}}) {
    auto* group = new ToolGroup(this);
    group->add(buttons.first);
    group->add(buttons.second);
    row->addWidget(group);
  }
  row->addSpacing(6);
  row->addStretch(1);

  auto* zoom = new ToolGroup(this);
  zoomOut = new IconButton(QStringLiteral("minus"), QString());
  zoomSlider = new NeonSlider(std::log(TimelineScale::defaultZoom), 0, std::log(maxZoom));
  zoomSlider->setFixedWidth(96);
  auto* sliderHolder = new QWidget(zoom);
  auto* sliderRow = new QHBoxLayout(sliderHolder);
  sliderRow->setContentsMargins(4, 0, 4, 0);
  sliderRow->addWidget(zoomSlider);
  zoomIn = new IconButton(QStringLiteral("plus"), QString());
  fit = new IconButton(QStringLiteral("arrow.left.and.right.square"), QString());
  zoom->add(zoomOut);
  zoom->add(sliderHolder);
  zoom->add(zoomIn);
  zoom->add(fit);
  row->addWidget(zoom);
  connect(zoomSlider, &NeonSlider::valueChanged, this,
          [this](double v) { emit zoomRequested(std::exp(v)); });
  retranslate();
}

void TimelineToolbar::retranslate() {
  title_->retranslate();
  split->setText(QL("分割"));
  split->setToolTip(QL("在播放头处分割（Ctrl+B）"));
  split->setAccessibleName(QL("分割"));
  deleteSegment->setToolTip(QL("删除片段"));
  deleteSegment->setAccessibleName(QL("删除片段"));
  addZoom->setText(QL("添加缩放"));
  addZoom->setToolTip(QL("在播放头添加可编辑缩放"));
  addZoom->setAccessibleName(QL("添加缩放"));
  removeZoom->setToolTip(QL("删除缩放"));
  removeZoom->setAccessibleName(QL("删除缩放"));
  undo->setToolTip(QL("撤销剪辑（Ctrl+Z）"));
  undo->setAccessibleName(QL("撤销剪辑"));
  redo->setToolTip(QL("重做（Ctrl+Shift+Z）"));
  redo->setAccessibleName(QL("重做剪辑"));
  zoomOut->setToolTip(QL("缩小时间线"));
  zoomOut->setAccessibleName(QL("缩小时间线"));
  zoomSlider->setAccessibleName(QL("时间线缩放"));
  zoomIn->setToolTip(QL("放大时间线"));
  zoomIn->setAccessibleName(QL("放大时间线"));
  fit->setToolTip(QL("适应宽度"));
  fit->setAccessibleName(QL("适应宽度"));
}

void TimelineToolbar::showZoom(double zoom) {
  zoomSlider->setValue(std::log(clampZoom(zoom)));
}

void TimelineToolbar::showStates(bool canDeleteSegment, bool canRemoveZoom, bool canUndo,
                                 bool canRedo) {
  deleteSegment->setEnabled(canDeleteSegment);
  removeZoom->setEnabled(canRemoveZoom);
  undo->setEnabled(canUndo);
  redo->setEnabled(canRedo);
}

QString TimelineToolbar::shownTitle() const {
  return title_->shownText();
}

}  // namespace vantry::timeline
