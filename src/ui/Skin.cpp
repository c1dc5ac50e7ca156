#include "ui/Skin.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleFactory>
#include <QStyleOption>

namespace melo::ui {
namespace {

const QColor kWindow{0xf3, 0xf5, 0xf8};
const QColor kText{0x1f, 0x2a, 0x37};
const QColor kAccent{0x3a, 0x76, 0xc8};  // selections, the default button, focus
const QColor kWhite{0xff, 0xff, 0xff};
const QColor kBorder{0xb9, 0xc3, 0xcf};
const QColor kHoverFill{0xea, 0xf2, 0xfc};
const QColor kHoverBorder{0x5a, 0x8f, 0xd6};
const QColor kPressedFill{0xd5, 0xe4, 0xf7};
const QColor kDisabledFill{0xee, 0xf1, 0xf4};
const QColor kDisabledText{0xa3, 0xac, 0xb7};
const QColor kDisabledBorder{0xd4, 0xda, 0xe1};
const QColor kHeaderFill{0xe8, 0xec, 0xf1};
const QColor kHeaderText{0x3a, 0x46, 0x54};
const QColor kHeaderLine{0xcf, 0xd6, 0xde};
const QColor kGroupLine{0xc8, 0xd0, 0xda};
const QColor kGroove{0xd3, 0xd9, 0xe1};
const QColor kGrooveDisabled{0xc2, 0xc9, 0xd2};

constexpr int kRowHeight = 18;
constexpr int kHeaderMargin = 5;
// Inside an edit's one-pixel border: room to either side of its text.
constexpr int kEditPadding = 3;
constexpr int kGrooveHeight = 4;
constexpr int kHandleWidth = 10;
constexpr int kHandleHeight = 12;

bool Enabled(const QStyleOption& option) {
  return (option.state & QStyle::State_Enabled) != 0;
}

// A rounded box on whole pixels: its 1-pixel border lies inside `box`.
void DrawBox(QPainter& painter, const QRect& box, const QColor& fill, const QColor& border,
             qreal radius) {
  painter.save();
  painter.setPen(border.isValid() ? QPen(border) : QPen(Qt::NoPen));
  painter.setBrush(fill.isValid() ? QBrush(fill) : QBrush(Qt::NoBrush));
  if (radius > 0) {
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawRoundedRect(QRectF(box).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
  } else {
    painter.drawRect(box.adjusted(0, 0, -1, -1));
  }
  painter.restore();
}

// Later states win, as they did in the skin's first form: disabled over
// pressed over hovered.
void DrawButtonPanel(QPainter& painter, const QStyleOption& option) {
  const auto* button = qstyleoption_cast<const QStyleOptionButton*>(&option);
  const bool hovered = (option.state & QStyle::State_MouseOver) != 0;
  const bool pressed = (option.state & (QStyle::State_Sunken | QStyle::State_On)) != 0;
  const bool isDefault = button && (button->features & QStyleOptionButton::DefaultButton) != 0;
  QColor fill = hovered ? kHoverFill : kWhite;
  QColor border = hovered ? kHoverBorder : kBorder;
  if (pressed) {
    fill = kPressedFill;
  }
  if (isDefault) {
    border = kAccent;
  }
  if (!Enabled(option)) {
    fill = kDisabledFill;
    border = kDisabledBorder;
  }
  DrawBox(painter, option.rect, fill, border, 3);
  if ((option.state & QStyle::State_HasFocus) != 0 && Enabled(option)) {
    // Keyboard focus: a second line just inside the border.
    DrawBox(painter, option.rect.adjusted(1, 1, -1, -1), {}, kHoverBorder, 2);
  }
}

// Read-only and frameless edits show the window beneath, without a box.
bool EditHasBox(const QStyleOption& option) {
  const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(&option);
  return (option.state & QStyle::State_ReadOnly) == 0 && !(frame && frame->lineWidth <= 0);
}

void DrawLineEditPanel(QPainter& painter, const QStyleOption& option) {
  if (!EditHasBox(option)) {
    return;
  }
  const bool focused = (option.state & QStyle::State_HasFocus) != 0;
  DrawBox(painter, option.rect, Enabled(option) ? kWhite : kDisabledFill,
          focused ? kAccent : kBorder, 2);
}

void DrawItemPanel(QPainter& painter, const QStyleOption& option) {
  if ((option.state & QStyle::State_Selected) != 0) {
    painter.fillRect(option.rect, kAccent);
  } else if ((option.state & QStyle::State_MouseOver) != 0) {
    painter.fillRect(option.rect, kHoverFill);
  }
}

// `section`: a heading's own part, with its line to the right; else the
// heading's empty rest.
void DrawHeaderSection(QPainter& painter, const QRect& r, bool section) {
  painter.fillRect(r, kHeaderFill);
  painter.save();
  painter.setPen(kHeaderLine);
  if (section) {
    painter.drawLine(r.topRight(), r.bottomRight());
  }
  painter.drawLine(r.bottomLeft(), r.bottomRight());
  painter.restore();
}

class SkinStyle final : public QProxyStyle {
 public:
  SkinStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

  using QProxyStyle::polish;

  void polish(QWidget* widget) override {
    QProxyStyle::polish(widget);
    if (qobject_cast<QAbstractButton*>(widget)) {
      widget->setAttribute(Qt::WA_Hover);
    } else if (auto* view = qobject_cast<QAbstractItemView*>(widget)) {
      view->viewport()->setAttribute(Qt::WA_Hover);
    }
  }

  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
    switch (element) {
      case PE_PanelButtonCommand:
        return DrawButtonPanel(*painter, *option);
      case PE_PanelLineEdit:
        return DrawLineEditPanel(*painter, *option);
      case PE_PanelItemViewItem:
        return DrawItemPanel(*painter, *option);
      case PE_Frame:
        return DrawBox(*painter, option->rect, {}, kBorder, 0);
      case PE_FrameGroupBox:
        return DrawBox(*painter, option->rect, {}, kGroupLine, 4);
      case PE_FrameFocusRect:
        // Buttons show focus in their border; lists show it by selection.
        if (qobject_cast<const QPushButton*>(widget) ||
            qobject_cast<const QAbstractItemView*>(widget)) {
          return;
        }
        break;
      default:
        break;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
  }

  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override {
    switch (element) {
      case CE_PushButtonBevel:
        // Flat or not, every button is drawn as a box.
        return DrawButtonPanel(*painter, *option);
      case CE_HeaderSection:
        return DrawHeaderSection(*painter, option->rect, true);
      case CE_HeaderEmptyArea:
        return DrawHeaderSection(*painter, option->rect, false);
      case CE_HeaderLabel:
        if (const auto* header = qstyleoption_cast<const QStyleOptionHeader*>(option)) {
          QStyleOptionHeader label(*header);
          label.palette.setColor(QPalette::ButtonText, kHeaderText);
          return QProxyStyle::drawControl(element, &label, painter, widget);
        }
        break;
      default:
        break;
    }
    QProxyStyle::drawControl(element, option, painter, widget);
  }

  void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                          QPainter* painter, const QWidget* widget) const override {
    const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (control != CC_Slider || !slider || slider->orientation != Qt::Horizontal) {
      return QProxyStyle::drawComplexControl(control, option, painter, widget);
    }
    const QRect groove = subControlRect(control, option, SC_SliderGroove, widget);
    const QRect handle = subControlRect(control, option, SC_SliderHandle, widget);
    const QRect track(groove.left(), groove.center().y() - kGrooveHeight / 2 + 1, groove.width(),
                      kGrooveHeight);
    const bool enabled = Enabled(*option);
    DrawBox(*painter, track, kGroove, {}, 2);
    QRect done = track;
    done.setRight(handle.center().x());
    DrawBox(*painter, done, enabled ? kAccent : kGrooveDisabled, {}, 2);
    DrawBox(*painter, handle, kWhite, enabled ? kAccent : kBorder, kHandleWidth / 2.0);
  }

  QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl part,
                       const QWidget* widget) const override {
    const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (control != CC_Slider || !slider || slider->orientation != Qt::Horizontal) {
      return QProxyStyle::subControlRect(control, option, part, widget);
    }
    const QRect& r = option->rect;
    if (part == SC_SliderGroove) {
      return r;
    }
    if (part == SC_SliderHandle) {
      const int x =
          sliderPositionFromValue(slider->minimum, slider->maximum, slider->sliderPosition,
                                  r.width() - kHandleWidth, slider->upsideDown);
      return {r.left() + x, r.center().y() - kHandleHeight / 2 + 1, kHandleWidth, kHandleHeight};
    }
    return {};
  }

  int pixelMetric(PixelMetric metric, const QStyleOption* option,
                  const QWidget* widget) const override {
    switch (metric) {
      case PM_SliderLength:
        return kHandleWidth;
      case PM_HeaderMargin:
        return kHeaderMargin;
      case PM_DefaultFrameWidth:
        // A list's frame is one line, as drawn above.
        if (qobject_cast<const QAbstractItemView*>(widget)) {
          return 1;
        }
        break;
      default:
        break;
    }
    return QProxyStyle::pixelMetric(metric, option, widget);
  }

  QRect subElementRect(SubElement element, const QStyleOption* option,
                       const QWidget* widget) const override {
    if (element == SE_LineEditContents && qstyleoption_cast<const QStyleOptionFrame*>(option)) {
      return EditHasBox(*option) ? option->rect.adjusted(1 + kEditPadding, 1, -1 - kEditPadding, -1)
                                 : option->rect;
    }
    return QProxyStyle::subElementRect(element, option, widget);
  }

  QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& contents,
                         const QWidget* widget) const override {
    QSize size = QProxyStyle::sizeFromContents(type, option, contents, widget);
    if (type == CT_ItemViewItem) {
      size.setHeight(kRowHeight);
    }
    return size;
  }
};

QPalette MakePalette() {
  QPalette palette(kWhite, kWindow);
  for (const auto group : {QPalette::Active, QPalette::Inactive}) {
    palette.setColor(group, QPalette::WindowText, kText);
    palette.setColor(group, QPalette::Text, kText);
    palette.setColor(group, QPalette::ButtonText, kText);
    palette.setColor(group, QPalette::Base, kWhite);
    // A selection stays blue when its list loses the focus.
    palette.setColor(group, QPalette::Highlight, kAccent);
    palette.setColor(group, QPalette::HighlightedText, kWhite);
  }
  for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    palette.setColor(QPalette::Disabled, role, kDisabledText);
  }
  palette.setColor(QPalette::Disabled, QPalette::Button, kDisabledFill);
  palette.setColor(QPalette::Disabled, QPalette::Highlight, kGrooveDisabled);
  return palette;
}

}  // namespace

void ApplySkin(QApplication& app) {
  app.setStyle(new SkinStyle);  // the application owns its style
  app.setPalette(MakePalette());
}

}  // namespace melo::ui
