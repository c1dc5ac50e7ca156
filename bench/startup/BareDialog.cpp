// bare_dialog: a Qt dialog of the main window's size and nothing else, the
// reference the start-up benchmark measures the window against.

#include <QApplication>
#include <QDialog>

#include "ui/DialogTemplates.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QDialog dialog;
  dialog.setWindowTitle(QStringLiteral("bare_dialog"));
  dialog.setFixedSize(520, melo::ui::kClientHeight);
  dialog.show();
  return app.exec();
}
