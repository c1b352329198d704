#include "design/language_settings_view.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QRadioButton>
#include <QVBoxLayout>

#include "design/icons.h"
#include "design/theme.h"
#include "localization/qt/language_settings.h"
#include "localization/qt/qt_text.h"

namespace vantry {

namespace {

constexpr int kTitlePixels = 22;
constexpr int kCalloutPixels = 13;

class GearIcon final : public QWidget {
 public:
  explicit GearIcon(QWidget* parent) : QWidget(parent) { setFixedSize(24, 24); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    paintSymbol(painter, u"gearshape", QRectF(rect()).adjusted(2, 2, -2, -2), Qt::white, 600);
  }
};

}  // namespace

LanguageSettingsView::LanguageSettingsView(QWidget* parent) : QWidget(parent) {
  // Dark scheme on the design system's ink, white text.
  QPalette colours = palette();
  colours.setColor(QPalette::Window, ink);
  colours.setColor(QPalette::Base, Theme::raised);
  colours.setColor(QPalette::Button, Theme::raised);
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    colours.setColor(role, Qt::white);
  }
  colours.setColor(QPalette::Highlight, Theme::cyan);
  setPalette(colours);
  setAutoFillBackground(true);
  setFixedWidth(480);

  auto* stack = new QVBoxLayout(this);
  stack->setContentsMargins(28, 28, 28, 28);
  stack->setSpacing(20);

  auto* titleRow = new QHBoxLayout;
  titleRow->setSpacing(8);
  titleRow->addWidget(new GearIcon(this));
  title_ = new QLabel(this);
  title_->setObjectName(QStringLiteral("title"));
  QFont titleFont = font();
  titleFont.setPixelSize(kTitlePixels);
  titleFont.setWeight(QFont::DemiBold);
  title_->setFont(titleFont);
  titleRow->addWidget(title_);
  titleRow->addStretch();
  stack->addLayout(titleRow);

  auto* pickerRow = new QHBoxLayout;
  pickerRow->setSpacing(12);
  heading_ = new QLabel(this);
  heading_->setObjectName(QStringLiteral("languageHeading"));
  // Level with the first language's name, which sits inside the room of its focus ring.
  heading_->setContentsMargins(0, 4, 0, 0);
  pickerRow->addWidget(heading_, 0, Qt::AlignTop);
  auto* radios = new QVBoxLayout;
  radios->setSpacing(6);
  // The platform draws the unchosen mark in shades of the ground, nearly invisible on ink:
  // a light ring for both, the accent dot inside the chosen one. The keyboard's focus is a
  // ring of the accent around the whole choice, in place of the platform's thin one.
  const QString marks =
      QStringLiteral(
          "QRadioButton { spacing: 8px; color: white; padding: 2px 6px; outline: none;"
          " border: 2px solid transparent; border-radius: 6px; }"
          "QRadioButton:focus { border-color: %1; }"
          "QRadioButton::indicator { width: 12px; height: 12px; border-radius: 8px;"
          " border: 2px solid rgba(255,255,255,150); background: rgba(255,255,255,15); }"
          "QRadioButton::indicator:hover { border-color: rgba(255,255,255,220); }"
          "QRadioButton::indicator:checked { border-color: %1; background: qradialgradient("
          "cx:0.5, cy:0.5, radius:0.5, fx:0.5, fy:0.5, stop:0 %1, stop:0.5 %1, stop:0.62 "
          "rgba(0,0,0,0)); }")
          .arg(Theme::cyan.name());
  choices_ = new QButtonGroup(this);
  for (AppLanguage::Value value : AppLanguage::allCases) {
    const AppLanguage language(value);
    // Each language is named in its own words in both interface languages.
    const std::string_view label = language.label();
    auto* radio = new QRadioButton(QString::fromUtf8(label.data(), label.size()), this);
    const std::string_view raw = language.rawValue();
    radio->setObjectName(QString::fromUtf8(raw.data(), raw.size()));
    radio->setStyleSheet(marks);
    choices_->addButton(radio, static_cast<int>(value));
    radios->addWidget(radio);
  }
  pickerRow->addLayout(radios);
  pickerRow->addStretch();
  stack->addLayout(pickerRow);

  caption_ = new QLabel(this);
  caption_->setObjectName(QStringLiteral("caption"));
  caption_->setWordWrap(true);
  QFont calloutFont = font();
  calloutFont.setPixelSize(kCalloutPixels);
  caption_->setFont(calloutFont);
  QPalette secondary = caption_->palette();
  secondary.setColor(QPalette::WindowText, QColor(255, 255, 255, 150));
  caption_->setPalette(secondary);
  stack->addWidget(caption_);

  connect(choices_, &QButtonGroup::idClicked, this, [](int id) {
    LanguageSettings::shared().setSelected(static_cast<AppLanguage::Value>(id));
  });
  connect(&LanguageSettings::shared(), &LanguageSettings::changed, this,
          &LanguageSettingsView::refresh);
  refresh();
}

void LanguageSettingsView::refresh() {
  // The language its texts are in: the shared setting's in the application, also the one
  // a rendering of the shots is in.
  const AppLanguage selected = currentLanguage();
  setLocale(qtLocale(selected));
  title_->setText(QL("设置"));
  heading_->setText(QL("语言"));
  caption_->setText(QL("选择界面语言。更改立即生效，并在下次打开时保留。"));
  if (QAbstractButton* chosen = choices_->button(static_cast<int>(AppLanguage::Value(selected)))) {
    chosen->setChecked(true);
  }
  // Tab reaches the chosen language alone, so that no Space switches the language; the
  // arrows go on to the other. A click takes no keyboard focus.
  for (QAbstractButton* choice : choices_->buttons())
    choice->setFocusPolicy(choice->isChecked() ? Qt::TabFocus : Qt::NoFocus);
  // Fixed width; the height follows the wrapped caption in the current language.
  const int height = layout()->hasHeightForWidth() ? layout()->heightForWidth(width())
                                                   : layout()->sizeHint().height();
  setFixedHeight(height);
}

}  // namespace vantry
