#pragma once

// The recording setup for one window: a sheet over the main window that lists the windows
// that can be recorded, with a search, a live picture of the chosen one, the camera,
// microphone and presenter choices, and the start button. It keeps only the search text;
// everything else is the controller's.

#include <QAbstractButton>
#include <QImage>

#include <optional>
#include <vector>

#include "design/sheet.h"
#include "platform/screen_source.h"

class QLineEdit;

namespace vantry {

class CoalescedRefresh;
class Studio;

// The name a window is listed under: its application's, or "Window" when it has none.
QString windowOwnerName(const platform::WindowInfo& window);
// The windows whose "application title" text (the application's name, empty when it has
// none, one space, the title) contains `query`, ignoring case, in their order; every window
// for an empty query. The query is used as typed.
std::vector<platform::WindowInfo> filterWindows(const std::vector<platform::WindowInfo>& windows,
                                                const QString& query);

// One entry of the window list: icon, application and title, size, and a check when chosen.
class WindowRow : public QAbstractButton {
  Q_OBJECT

 public:
  WindowRow(platform::WindowInfo window, QImage icon, QWidget* parent = nullptr);

  const platform::WindowInfo& window() const { return window_; }
  const QImage& icon() const { return icon_; }
  bool selected() const { return selected_; }
  void setSelected(bool selected);
  void retranslate();

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }

 private:
  platform::WindowInfo window_;
  QImage icon_;
  bool selected_ = false;
  bool hovering_ = false;
};

class WindowSheet : public Sheet {
  Q_OBJECT

 public:
  static constexpr int kWidth = 780;

  explicit WindowSheet(Studio& studio, QWidget* parent = nullptr);
  ~WindowSheet() override;

  QString query() const;
  void setQuery(const QString& query);
  // The rows shown now, in order.
  std::vector<WindowRow*> rows() const;
  // The preview box shows a live picture (not its placeholder).
  bool pictureShown() const;
  // The list's progress indicator shows (loading, and no window known yet).
  bool loadingShown() const;
  void refreshNow();

 protected:
  void askToDismiss() override;
  void pressed(Key key) override;
  void showEvent(QShowEvent* event) override;

 private:
  void refresh();
  void rebuildRows();
  void choose(platform::WindowId id);

  Studio& studio_;
  CoalescedRefresh* refresh_;
  bool listed_ = false;
  std::optional<bool> windowManager_;
  struct Parts;
  Parts* parts_;
};

}  // namespace vantry
