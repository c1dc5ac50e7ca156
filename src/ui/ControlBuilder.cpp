#include "ui/ControlBuilder.h"

#include <QGroupBox>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QResource>
#include <QSlider>
#include <QWidget>
#include <algorithm>

#include "ui/LinkLabel.h"
#include "ui/RecordListView.h"

namespace melo::ui {
namespace {

constexpr int kEdgeMargin = 6;
constexpr int kIconSide = 64;  // the pixels' size (src/ui/CMakeLists.txt)

QPushButton* MakeButton(QWidget& dialog, const ControlTemplate& control, const QString& text) {
  auto* button = new QPushButton(text, &dialog);
  button->setFlat(true);
  if ((control.flags & kDefault) != 0) {
    button->setDefault(true);
  }
  return button;
}

QLabel* MakeLabel(QWidget& dialog, const ControlTemplate& control, const QString& text) {
  auto* label = new QLabel(text, &dialog);
  label->setTextFormat(Qt::PlainText);
  label->setAlignment((control.kind == ControlKind::kLabelRight ? Qt::AlignRight : Qt::AlignLeft) |
                      Qt::AlignVCenter);
  if ((control.flags & kSunken) != 0) {
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  }
  return label;
}

QLineEdit* MakeEdit(QWidget& dialog, const ControlTemplate& control, const QString& text) {
  auto* edit = new QLineEdit(text, &dialog);
  if (control.kind == ControlKind::kStatusEdit) {
    edit->setFrame(false);
    edit->setReadOnly(true);
  }
  return edit;
}

QWidget* MakeControl(QWidget& dialog, const ControlTemplate& control, const QString& text) {
  switch (control.kind) {
    case ControlKind::kPushButton:
      return MakeButton(dialog, control, text);
    case ControlKind::kLabel:
    case ControlKind::kLabelRight:
      return MakeLabel(dialog, control, text);
    case ControlKind::kLink:
      return new LinkLabel(text, &dialog);
    case ControlKind::kEdit:
    case ControlKind::kStatusEdit:
      return MakeEdit(dialog, control, text);
    case ControlKind::kListView:
      return new RecordListView(control.columns, (control.flags & kMultiSelect) != 0, &dialog);
    case ControlKind::kTrackbar: {
      auto* slider = new QSlider(Qt::Horizontal, &dialog);
      slider->setTickPosition(QSlider::NoTicks);
      return slider;
    }
    case ControlKind::kGroupBox:
      return new QGroupBox(text, &dialog);
    case ControlKind::kRadio:
      return new QRadioButton(text, &dialog);
    case ControlKind::kIcon: {
      auto* label = new QLabel(&dialog);
      const QRect place = PixelRect(control);
      label->setPixmap(ProgramIcon().pixmap(place.size()));
      label->setAccessibleName(QStringLiteral("MeloDriftDown"));
      return label;
    }
  }
  return nullptr;
}

bool IsText(ControlKind kind) {
  return kind == ControlKind::kLabel || kind == ControlKind::kLabelRight ||
         kind == ControlKind::kRadio;
}

// The templates' texts were measured for a font whose lines are 12 pixels
// high; the CJK font here needs more. Texts keep their place and grow around
// their middle (and, left-aligned, to the right, up to the dialog's edge)
// rather than being cut off.
QRect FittedRect(const QWidget& widget, const ControlTemplate& control,
                 const DialogTemplate& dialogTemplate) {
  QRect place = PixelRect(control);
  if (!IsText(control.kind) || (control.flags & kSunken) != 0) {
    return place;
  }
  const QSize wanted = widget.sizeHint();
  if (wanted.height() > place.height()) {
    place.adjust(0, -(wanted.height() - place.height()) / 2, 0, 0);
    place.setHeight(wanted.height());
  }
  if (control.kind == ControlKind::kLabel && wanted.width() > place.width()) {
    const int room = DialogUnitsToPixels(dialogTemplate.width) - place.left() - kEdgeMargin;
    place.setWidth(std::min(wanted.width(), std::max(room, place.width())));
  }
  return place;
}

}  // namespace

QString FillTemplateText(const char* utf8, const TemplateFields& fields) {
  QString text = QString::fromUtf8(utf8);
  for (const auto& [name, value] : fields) {
    text.replace(QLatin1Char('{') + name + QLatin1Char('}'), value);
  }
  return text;
}

void BuildControls(QWidget& dialog, const DialogTemplate& dialogTemplate,
                   const TemplateFields& fields) {
  dialog.setWindowTitle(QString::fromUtf8(dialogTemplate.caption));
  for (const ControlTemplate& control : dialogTemplate.controls) {
    QWidget* widget = MakeControl(dialog, control, FillTemplateText(control.text, fields));
    if (control.id != kNoId) {
      widget->setObjectName(QString::number(control.id));
    }
    widget->setGeometry(FittedRect(*widget, control, dialogTemplate));
    widget->setVisible((control.flags & kHidden) == 0);
  }
}

QIcon ProgramIcon() {
  // Bare pixels, made at build time from res/icons/melodriftdown.png:
  // decoding the PNG here would start the toolkit's image reading, which
  // costs a millisecond of the window's start-up the first time.
  const QByteArray pixels =
      QResource(QStringLiteral(":/icons/melodriftdown.argb32")).uncompressedData();
  if (pixels.size() != qsizetype(kIconSide) * kIconSide * 4)
    return {};
  const QImage image(reinterpret_cast<const uchar*>(pixels.constData()), kIconSide, kIconSide,
                     QImage::Format_ARGB32_Premultiplied);
  return QIcon(QPixmap::fromImage(image.copy()));  // the copy outlives `pixels`
}

}  // namespace melo::ui
