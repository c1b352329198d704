// vantry-tool gallery OUT_DIR: renders every design-system control in each of its states, in
// both interface languages, to PNG sheets (OUT_DIR/<language>/<control>.png) for a person to
// look over. Animations are frozen at their end values.

#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "command.h"
#include "design/buttons.h"
#include "design/chrome.h"
#include "design/icons.h"
#include "design/labels.h"
#include "design/motion.h"
#include "design/neon_slider.h"
#include "design/neon_switch.h"
#include "design/painting.h"
#include "design/pill_segment.h"
#include "design/shadow.h"
#include "design/theme.h"
#include "localization/qt/qt_text.h"

namespace {

using namespace vantry;

void hover(QWidget* w) {
  QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
  QCoreApplication::sendEvent(w, &enter);
}

void press(QWidget* w, QPointF at) {
  QMouseEvent down(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                   Qt::NoModifier);
  QCoreApplication::sendEvent(w, &down);
}

struct State {
  const char* name;
  std::function<QWidget*()> make;
};

// One sheet: a caption over each state, on the ambient ground.
QWidget* sheet(const QString& title, const std::vector<State>& states, int columns = 6) {
  auto* ground = new AmbientBackground;
  ground->setAttribute(Qt::WA_DontShowOnScreen);
  auto* grid = new QGridLayout(ground);
  grid->setContentsMargins(28, 22, 28, 28);
  grid->setHorizontalSpacing(28);
  grid->setVerticalSpacing(10);
  auto* heading = new QLabel(title);
  heading->setFont(uiFont(15, QFont::DemiBold));
  heading->setStyleSheet(QStringLiteral("color: #EEF2FA"));
  grid->addWidget(heading, 0, 0, 1, columns);
  for (size_t i = 0; i < states.size(); ++i) {
    const int row = 1 + static_cast<int>(i) / columns * 2;
    const int col = static_cast<int>(i) % columns;
    auto* caption = new QLabel(QString::fromUtf8(states[i].name));
    caption->setFont(Theme::mono());
    caption->setStyleSheet(QStringLiteral("color: #8C96AE"));
    grid->addWidget(caption, row, col, Qt::AlignLeft | Qt::AlignBottom);
    QWidget* control = states[i].make();
    grid->addWidget(control, row + 1, col, Qt::AlignLeft | Qt::AlignTop);
  }
  return ground;
}

// Builds the control, shows the sheet (so show-time animations start), then applies the
// state that needs a live widget.
struct Deferred {
  QWidget* widget;
  std::function<void(QWidget*)> apply;
};

std::vector<Deferred>& deferred() {
  static std::vector<Deferred> list;
  return list;
}

template <typename W>
QWidget* later(W* widget, std::function<void(W*)> apply) {
  deferred().push_back({widget, [apply](QWidget* w) { apply(static_cast<W*>(w)); }});
  return widget;
}

QWidget* disabled(QWidget* w) {
  w->setEnabled(false);
  return w;
}

// A see-through window that paints the shadows of the control on it.
class ClearHost final : public QWidget {
 public:
  ClearHost() {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_DontShowOnScreen);
    markShadowHost(this);
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter p(this);
    paintHostedShadows(this, p, event->rect());
  }
};

// The control as it looks holding the keyboard focus. A window lights one control at a
// time, so each is lit in a window of its own and shown as a picture of it.
QWidget* focused(QWidget* control) {
  ClearHost host;
  control->setParent(&host);
  control->adjustSize();
  control->move(12, 12);
  host.resize(control->size() + QSize(24, 24));
  host.show();
  QApplication::setActiveWindow(&host);
  control->setFocus(Qt::TabFocusReason);
  QCoreApplication::processEvents();
  auto* picture = new QLabel;
  picture->setPixmap(host.grab());
  return picture;
}

// Every symbol at the sizes the controls use, in text colour and in the accent.
QWidget* symbolSheet() {
  std::vector<State> states;
  static std::vector<QByteArray> names;
  names.clear();
  for (const QString& name : symbolNames())
    names.push_back(name.toUtf8());
  for (const QByteArray& name : names) {
    states.push_back({name.constData(), [name] {
                        auto* w = new QLabel;
                        QPixmap pixmap(QSize(76, 24));
                        pixmap.fill(Qt::transparent);
                        {
                          QPainter p(&pixmap);
                          p.setRenderHint(QPainter::Antialiasing);
                          const QString n = QString::fromUtf8(name);
                          paintSymbol(p, n, QRectF(2, 5, 14, 14), Theme::text);
                          paintSymbol(p, n, QRectF(24, 3, 18, 18), Theme::text);
                          paintSymbol(p, n, QRectF(52, 2, 20, 20), Theme::cyan, QFont::Bold);
                        }
                        w->setPixmap(pixmap);
                        return static_cast<QWidget*>(w);
                      }});
  }
  return sheet("Symbols", states, 6);
}

std::vector<std::pair<QString, QWidget*>> sheets() {
  std::vector<std::pair<QString, QWidget*>> out;

  const auto glassButton = [](GlassButtonStyle style) {
    return new GlassButton(QL("分割片段"), QStringLiteral("scissors"), style);
  };
  out.emplace_back(
      "glass-button",
      sheet("GlassButton", {{"normal", [&] { return glassButton({}); }},
                            {"hover", [&] { return later<GlassButton>(glassButton({}), hover); }},
                            {"pressed",
                             [&] {
                               return later<GlassButton>(glassButton({}), [](GlassButton* b) {
                                 hover(b);
                                 b->setDown(true);
                               });
                             }},
                            {"disabled", [&] { return disabled(glassButton({})); }},
                            {"active", [&] { return glassButton({true}); }},
                            {"active violet hover",
                             [&] {
                               return later<GlassButton>(glassButton({true, Theme::violet}), hover);
                             }},
                            {"compact", [&] {
                               return glassButton({false, Theme::cyan, true});
                             }}}));

  const auto iconButton = [](double size) {
    return new IconButton(QStringLiteral("backward.end.fill"), QL("回到开头"), size);
  };
  out.emplace_back(
      "icon-button",
      sheet("IconButton", {{"normal", [&] { return iconButton(30); }},
                           {"hover", [&] { return later<GlassButton>(iconButton(30), hover); }},
                           {"pressed",
                            [&] {
                              return later<GlassButton>(iconButton(30), [](GlassButton* b) {
                                hover(b);
                                b->setDown(true);
                              });
                            }},
                           {"disabled", [&] { return disabled(iconButton(30)); }},
                           {"size 40", [&] { return iconButton(40); }}}));

  const auto primary = [] {
    return new PrimaryButton(QL("开始导出"), QStringLiteral("square.and.arrow.up"));
  };
  out.emplace_back(
      "primary-button",
      sheet("PrimaryButton", {{"normal", primary},
                              {"hover", [&] { return later<PrimaryButton>(primary(), hover); }},
                              {"pressed",
                               [&] {
                                 return later<PrimaryButton>(primary(), [](PrimaryButton* b) {
                                   hover(b);
                                   b->setDown(true);
                                 });
                               }},
                              {"disabled", [&] { return disabled(primary()); }},
                              {"rec glow", [] {
                                 return new PrimaryButton(
                                     QL("开始录制"), QString(),
                                     PrimaryButtonStyle{Theme::recGradient, Theme::rec});
                               }}}));

  const auto record = [](bool recording) {
    return new RecordButton(recording ? QL("停止录制") : QL("开始录制"),
                            RecordButtonStyle{recording});
  };
  out.emplace_back(
      "record-button",
      sheet("RecordButton",
            {{"idle", [&] { return record(false); }},
             {"idle hover", [&] { return later<RecordButton>(record(false), hover); }},
             {"idle pressed",
              [&] {
                return later<RecordButton>(record(false),
                                           [](RecordButton* b) { b->setDown(true); });
              }},
             {"disabled", [&] { return disabled(record(false)); }},
             {"recording", [&] { return record(true); }},
             {"recording hover", [&] { return later<RecordButton>(record(true), hover); }}}));

  const std::vector<PillSegment::Item> items{
      {0, QL("屏幕"), QStringLiteral("display")},
      {1, QL("屏幕＋人物"), QStringLiteral("rectangle.inset.bottomtrailing.filled")},
      {2, QL("人物全屏"), QStringLiteral("person.crop.rectangle.fill")}};
  const auto pill = [items](QVariant selection, QColor tint = Theme::cyan) {
    auto* p = new PillSegment(items, selection, tint);
    p->setFixedWidth(360);
    return p;
  };
  const std::vector<PillSegment::Item> plain{{0, "MP4", {}}, {1, "MOV", {}}};
  out.emplace_back("pill-segment", sheet("PillSegment",
                                         {{"first selected", [&] { return pill(0); }},
                                          {"middle selected", [&] { return pill(1); }},
                                          {"none selected", [&] { return pill(7); }},
                                          {"violet tint", [&] { return pill(2, Theme::violet); }},
                                          {"text only",
                                           [&] {
                                             auto* p = new PillSegment(plain, 1);
                                             p->setFixedWidth(160);
                                             return p;
                                           }},
                                          {"disabled", [&] { return disabled(pill(0)); }}},
                                         2));

  const auto neonSwitch = [](bool on) {
    auto* s = new NeonSwitch(QL("人物音画同步"), on);
    s->setFixedWidth(220);
    return s;
  };
  out.emplace_back("neon-switch",
                   sheet("NeonSwitch",
                         {{"off", [&] { return neonSwitch(false); }},
                          {"on", [&] { return neonSwitch(true); }},
                          {"disabled off", [&] { return disabled(neonSwitch(false)); }},
                          {"disabled on", [&] { return disabled(neonSwitch(true)); }},
                          {"hand switch off", [] { return new HandSwitch(QL("已关闭")); }},
                          {"hand switch on",
                           [] {
                             auto* s = new HandSwitch(QL("已开启"));
                             s->setChecked(true);
                             return s;
                           }}},
                         3));

  const auto slider = [](double value) {
    auto* s = new NeonSlider(value, 0, 1);
    s->setFixedWidth(200);
    return s;
  };
  out.emplace_back(
      "neon-slider",
      sheet("NeonSlider",
            {{"value 0", [&] { return slider(0); }},
             {"value 0.4", [&] { return slider(0.4); }},
             {"value 1", [&] { return slider(1); }},
             {"hover", [&] { return later<NeonSlider>(slider(0.4), hover); }},
             {"dragging",
              [&] {
                return later<NeonSlider>(slider(0.6),
                                         [](NeonSlider* s) { press(s, QPointF(120, 9)); });
              }},
             {"disabled", [&] { return disabled(slider(0.4)); }},
             {"violet tint",
              [&] {
                auto* s = slider(0.7);
                s->setTint(Gradient{Theme::violet, Color(0x5B46D6), {0, 0.5}, {1, 0.5}});
                return s;
              }},
             {"knob-wide track",
              [] {
                auto* s = new NeonSlider(0.5, 0, 1);
                s->setFixedWidth(12);
                return s;
              }}},
            4));

  out.emplace_back(
      "section-title-status-dot",
      sheet(
          "SectionTitle / StatusDot",
          {{"section", [] { return new SectionTitle(QStringLiteral("person.fill"), QL("人物")); }},
           {"section violet",
            [] {
              return new SectionTitle(QStringLiteral("sparkles"), QL("平滑程度"), Theme::violet);
            }},
           {"dot idle", [] { return new StatusDot(Theme::cyan); }},
           {"dot live", [] { return new StatusDot(Theme::mint); }},
           {"dot recording", [] { return new StatusDot(Theme::rec); }},
           {"dot exporting", [] { return new StatusDot(Theme::amber); }}},
          3));

  const auto card = [](GlassStyle style) {
    auto* w = new QWidget;
    w->setFixedSize(220, 120);
    glass(w, style);
    auto* layout = new QGridLayout(w);
    layout->setContentsMargins(14, 14, 14, 14);
    auto* label = new QLabel(QL("导出视频"));
    label->setFont(uiFont(12, QFont::DemiBold));
    label->setStyleSheet(QStringLiteral("color: #EEF2FA"));
    layout->addWidget(label, 0, 0, Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(new GlassButton(QL("取消")), 1, 0, Qt::AlignLeft | Qt::AlignBottom);
    return w;
  };
  out.emplace_back("glass-card", sheet("Glass cards",
                                       {{"default", [&] { return card({}); }},
                                        {"cyan glow",
                                         [&] {
                                           return card({16, 0.035, Theme::cyan});
                                         }},
                                        {"radius 10, tint 0.08",
                                         [&] {
                                           return card({10, 0.08, {}});
                                         }}},
                                       3));
  out.emplace_back("focus-ring",
                   sheet("Focus ring (reached with Tab)",
                         {{"glass", [&] { return focused(glassButton({})); }},
                          {"glass active", [&] { return focused(glassButton({true})); }},
                          {"icon", [&] { return focused(iconButton(30)); }},
                          {"primary", [&] { return focused(primary()); }},
                          {"record", [&] { return focused(record(false)); }},
                          {"pill segment", [&] { return focused(pill(1)); }},
                          {"switch off", [&] { return focused(neonSwitch(false)); }},
                          {"switch on", [&] { return focused(neonSwitch(true)); }},
                          {"slider 0", [&] { return focused(slider(0)); }},
                          {"slider 0.6", [&] { return focused(slider(0.6)); }}},
                         4));
  out.emplace_back("symbols", symbolSheet());
  return out;
}

int run(const vantry::tool::Args& args) {
  if (args.size() != 1) {
    std::cerr << "usage: vantry-tool gallery OUT_DIR\n";
    return 64;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "vantry-tool";
  static char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  QCoreApplication::setOrganizationName("Vantry");
  QCoreApplication::setApplicationName("Vantry");
  setAnimationsFrozen(true);

  const QString out = QString::fromStdString(args[0]);
  const AppLanguage previous = currentLanguage();
  int written = 0;
  for (AppLanguage language : AppLanguage::allCases) {
    setCurrentLanguage(language);
    const QString dir =
        out + "/" +
        QString::fromUtf8(language.rawValue().data(), qsizetype(language.rawValue().size()));
    if (!QDir().mkpath(dir)) {
      std::cerr << "gallery: cannot create " << dir.toStdString() << "\n";
      setCurrentLanguage(previous);
      return 1;
    }
    for (auto& [file, widget] : sheets()) {
      widget->adjustSize();
      widget->show();
      for (const Deferred& d : deferred())
        d.apply(d.widget);
      deferred().clear();
      QCoreApplication::processEvents();
      const QString path = dir + "/" + file + ".png";
      if (!widget->grab().save(path)) {
        std::cerr << "gallery: cannot write " << path.toStdString() << "\n";
        setCurrentLanguage(previous);
        return 1;
      }
      ++written;
      delete widget;
    }
  }
  setCurrentLanguage(previous);
  std::cout << "gallery: wrote " << written << " sheets to " << out.toStdString() << "\n";
  return 0;
}

}  // namespace

static const vantry::tool::Command kCommand{"gallery", "gallery OUT_DIR", run};
