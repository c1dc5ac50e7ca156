#include "ui/DownloaderApp.h"

#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <memory>

#include "ui/ControlBuilder.h"
#include "ui/MainDialog.h"
#include "ui/Skin.h"

namespace melo::ui {
namespace {

constexpr int kTemplateFontPoints = 9;

// Qt's own texts (standard buttons, the edit boxes' menus) in the program's
// language, whatever the desktop's; the program's own texts need none.
void LoadQtTranslations(QApplication& app) {
  auto translator = std::make_unique<QTranslator>(&app);
  if (translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                       QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    app.installTranslator(translator.release());
  }
}

}  // namespace

void ApplyProgramLook(QApplication& app) {
  LoadQtTranslations(app);
  QFont font(QStringLiteral("Noto Sans CJK SC"), kTemplateFontPoints);
  font.setStyleHint(QFont::SansSerif);
  app.setFont(font);
  app.setWindowIcon(ProgramIcon());
  ApplySkin(app);
}

CDownloaderApp::CDownloaderApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("melodriftdown"));
  // Ties the window to its menu entry and icon (Wayland's app id).
  setDesktopFileName(QStringLiteral("io.github.melodriftdown.MeloDriftDown"));
  ApplyProgramLook(*this);
}

int CDownloaderApp::RunMainDialog(bool siteInProcess) {
  CMainDialog dialog(nullptr, CMainDialog::Memory::kRemember);
  dialog.SetSiteInProcess(siteInProcess);
  dialog.exec();
  return 0;
}

}  // namespace melo::ui
