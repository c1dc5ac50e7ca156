#include "ui/AppSettings.h"

#include <QDir>
#include <QSettings>
#include <QVariant>
#include <algorithm>

namespace melo::ui {
namespace {

constexpr int kMostJobs = 16;

void Put(std::initializer_list<std::pair<const char*, QVariant>> values) {
  QSettings settings(SettingsFilePath(), QSettings::IniFormat);
  for (const auto& [key, value] : values) {
    settings.setValue(QString::fromLatin1(key), value);
  }
  settings.sync();  // a write that fails leaves the old file; nothing to tell
}

}  // namespace

QString SettingsFilePath() {
  QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (config.isEmpty() || !QDir::isAbsolutePath(config)) {
    config = QDir::homePath() + QStringLiteral("/.config");
  }
  return config + QStringLiteral("/melodriftdown/melodriftdown.ini");
}

AppSettings LoadAppSettings() {
  const QSettings settings(SettingsFilePath(), QSettings::IniFormat);
  AppSettings loaded;
  DownloadChoices& d = loaded.downloads;
  d.folder = settings.value(QStringLiteral("download/folder"), d.folder).toString();
  const QString nameTemplate = settings.value(QStringLiteral("download/nameTemplate")).toString();
  if (!nameTemplate.trimmed().isEmpty()) {
    d.nameTemplate = nameTemplate;
  }
  d.jobs =
      std::clamp(settings.value(QStringLiteral("download/jobs"), d.jobs).toInt(), 1, kMostJobs);
  const int id3 = settings.value(QStringLiteral("download/id3Version"), d.id3Version).toInt();
  d.id3Version = id3 == 4 ? 4 : 3;
  const qint64 most =
      settings.value(QStringLiteral("download/maxFileSize"), d.maxFileSize).toLongLong();
  if (most > 0) {
    d.maxFileSize = most;
  }
  loaded.clearListOnExit = settings.value(QStringLiteral("list/clearOnExit"), false).toBool();
  loaded.searchPanelOpen = settings.value(QStringLiteral("window/searchPanelOpen"), false).toBool();
  loaded.searchBySinger = settings.value(QStringLiteral("window/searchBySinger"), false).toBool();
  const QVariant position = settings.value(QStringLiteral("window/position"));
  if (position.canConvert<QPoint>() && position.isValid()) {
    loaded.windowPosition = position.toPoint();
  }
  return loaded;
}

void SaveDownloadChoices(const DownloadChoices& choices) {
  Put({{"download/folder", choices.folder},
       {"download/nameTemplate", choices.nameTemplate},
       {"download/jobs", choices.jobs},
       {"download/id3Version", choices.id3Version},
       {"download/maxFileSize", choices.maxFileSize}});
}

void SaveClearListOnExit(bool clear) {
  Put({{"list/clearOnExit", clear}});
}

void SaveSearchPanel(bool open, bool bySinger) {
  Put({{"window/searchPanelOpen", open}, {"window/searchBySinger", bySinger}});
}

void SaveWindowPosition(QPoint position) {
  Put({{"window/position", position}});
}

}  // namespace melo::ui
