#pragma once
// The user's choices across runs, in the program's INI file under
// $XDG_CONFIG_HOME/melodriftdown/ (~/.config when unset). Each is saved as it
// changes, so a killed window keeps them too.

#include <QPoint>
#include <QString>
#include <QtGlobal>
#include <optional>

namespace melo::ui {

// $XDG_CONFIG_HOME/melodriftdown/melodriftdown.ini.
QString SettingsFilePath();

struct DownloadChoices {
  QString folder;  // empty: the user's music folder
  QString nameTemplate = QStringLiteral("{singer} - {title}.mp3");
  int jobs = 4;
  int id3Version = 3;                    // 3 or 4
  qint64 maxFileSize = qint64(1) << 30;  // bytes; 1 GiB

  bool operator==(const DownloadChoices&) const = default;
};

struct AppSettings {
  DownloadChoices downloads;
  bool clearListOnExit = false;
  bool searchPanelOpen = false;
  bool searchBySinger = false;
  std::optional<QPoint> windowPosition;
};

AppSettings LoadAppSettings();
void SaveDownloadChoices(const DownloadChoices& choices);
void SaveClearListOnExit(bool clear);
void SaveSearchPanel(bool open, bool bySinger);
void SaveWindowPosition(QPoint position);

}  // namespace melo::ui
