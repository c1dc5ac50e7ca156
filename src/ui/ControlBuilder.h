#pragma once
// Builds a dialog's controls from its template: each control at its template
// place, named by its id, in template order (which is also the tab order).

#include <QIcon>
#include <QString>
#include <map>

#include "ui/DialogTemplates.h"

class QWidget;

namespace melo::ui {

// Values for the {Name} fields of template texts.
using TemplateFields = std::map<QString, QString>;

QString FillTemplateText(const char* utf8, const TemplateFields& fields);

void BuildControls(QWidget& dialog, const DialogTemplate& dialogTemplate,
                   const TemplateFields& fields = {});

// The program's icon (icon 128).
QIcon ProgramIcon();

}  // namespace melo::ui
