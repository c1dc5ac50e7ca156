#pragma once
// The application object: the program's font and skin, and the main window
// run until it closes.

#include <QApplication>

namespace melo::ui {

class CDownloaderApp : public QApplication {
  Q_OBJECT

 public:
  CDownloaderApp(int& argc, char** argv);

  // Shows the main window and returns once it has closed. `siteInProcess`:
  // the site it reads is served by this process.
  int RunMainDialog(bool siteInProcess);
};

// The 9-point CJK font the dialog templates are laid out for, Qt's own texts
// in Simplified Chinese, and the skin (ui/Skin.h). Without the skin the plain
// platform look shows, without the translations Qt's English; nothing else
// changes.
void ApplyProgramLook(QApplication& app);

}  // namespace melo::ui
