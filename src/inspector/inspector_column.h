#pragma once

// inspector/: the column at the main window's right: the settings tabs and the footer.
//
// The inspector column: a strip of four tabs (motion, presenter, canvas, cursor), the
// chosen tab's settings in a scroll area without scroll bars, and the footer with the
// export progress and the utility buttons. It follows the controller without writing back;
// every change goes through a `Studio` operation.

#include <QAbstractButton>
#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>
#include <vector>

#include "model/clip.h"

namespace vantry {

class CoalescedRefresh;
class GlassButton;
class NeonSlider;
class NeonSwitch;
class PillSegment;
class Studio;
class InspectorSliderRow;
class InspectorSection;

enum class InspectorTab { motion, presenter, canvas, cursor };
inline constexpr InspectorTab kAllInspectorTabs[] = {InspectorTab::motion, InspectorTab::presenter,
                                                     InspectorTab::canvas, InspectorTab::cursor};
QString inspectorTabTitle(InspectorTab tab);
QString inspectorTabIcon(InspectorTab tab);

class InspectorColumn : public QWidget {
  Q_OBJECT

 public:
  // `openPrivacy` opens the privacy notes of the current language.
  InspectorColumn(Studio& studio, std::function<void()> openPrivacy, QWidget* parent = nullptr);

  InspectorTab tab() const { return tab_; }
  void setTab(InspectorTab tab);
  // Applies a pending refresh now (tests, shots).
  void refreshNow();

  // The controls, by name, for tests and shots.
  template <typename T>
  T* control(const char* name) const {
    return findChild<T*>(QString::fromLatin1(name));
  }
  QWidget* tabPage(InspectorTab tab) const { return pages_[static_cast<int>(tab)]; }
  // The opacity of the chosen tab's content, below 1 while it fades in.
  double tabOpacity() const;

 private:
  void build();
  void rebuild();
  QWidget* buildMotion();
  QWidget* buildPresenter();
  QWidget* buildCanvas();
  QWidget* buildCursor();
  QWidget* buildFooter();
  void refresh();
  void writeSetting(const std::function<void(EditSettings&)>& change);
  void followFade();

  Studio& studio_;
  std::function<void()> openPrivacy_;
  InspectorTab tab_ = InspectorTab::motion;
  std::array<QWidget*, 4> pages_{};
  std::array<QAbstractButton*, 4> tabButtons_{};
  std::vector<std::function<void()>> followers_;
  CoalescedRefresh* refresh_;
  class Animated* fadeIn_;
  QPointer<QWidget> fading_;
};

}  // namespace vantry
