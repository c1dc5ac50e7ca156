#include "ui/AccessibleTexts.h"

#include <QLabel>
#include <QLineEdit>
#include <QWidget>

namespace melo::ui {
namespace {

QLabel* CaptionOf(QWidget& window, const char* caption) {
  for (QLabel* label : window.findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
    if (label->text() == QString::fromUtf8(caption)) {
      return label;
    }
  }
  return nullptr;
}

// Screen readers read an edit's name before its text, and Qt would name an
// unnamed one after its caption: the value is kept as the name instead.
void NameByValue(QLineEdit& edit) {
  edit.setAccessibleName(edit.text());
  QObject::connect(&edit, &QLineEdit::textChanged, &edit, &QWidget::setAccessibleName);
}

}  // namespace

void ApplyAccessibleTexts(QWidget& window) {
  for (const AccessibleText& text : kAccessibleTexts) {
    auto* control =
        window.findChild<QWidget*>(QString::fromUtf8(text.control), Qt::FindDirectChildrenOnly);
    if (control == nullptr) {
      continue;
    }
    if (text.name != nullptr) {
      control->setAccessibleName(QString::fromUtf8(text.name));
    } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
      NameByValue(*edit);
    }
    if (text.description != nullptr) {
      control->setAccessibleDescription(QString::fromUtf8(text.description));
    }
    // Qt reports a label whose buddy is the control as labelling it.
    if (QLabel* caption = text.caption ? CaptionOf(window, text.caption) : nullptr) {
      caption->setBuddy(control);
    }
  }
}

}  // namespace melo::ui
