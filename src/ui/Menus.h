#pragma once
// The context menus as data, and the one way any of them is shown.

#include <QPoint>
#include <functional>
#include <span>

class QMenu;
class QWidget;

namespace melo::ui {

// Command ids of the menus and of the window's own About item.
enum Command : int {
  kAboutCommand = 16,
  kDownloadSongCommand = 32776,
  kCrawlRowSingerCommand = 32779,
  kOpenSongLinkCommand = 32781,
  kDeleteSongCommand = 32782,
  kPlaySongCommand = 32783,
  kChartCommand = 32784,
  kListeningCommand = 32785,
  kRecommendedCommand = 32786,
  kSearchPanelCommand = 32787,
  kCrawlListedSingerCommand = 32788,
  kClearSingerListCommand = 32789,
  kSaveSongCommand = 32790,
  kSaveAllSongsCommand = 32791,
  kDownloadListCommand = 32792,
  kExportPlaylistCommand = 32793,
  kSettingsCommand = 32794,
  // The play modes, in the order of playback::PlayMode.
  kSingleModeCommand = 32801,
  kSequentialModeCommand = 32802,
  kLoopListModeCommand = 32803,
  kLoopOneModeCommand = 32804,
  kShuffleModeCommand = 32805,
};

struct MenuItem {
  int commandId;     // 0: a separator
  const char* text;  // UTF-8
  bool checkable = false;
};

struct MenuTemplate {
  int id;  // the menu's resource id, also its objectName
  std::span<const MenuItem> items;
};

const MenuTemplate& SongMenu();      // 133, on a song row
const MenuTemplate& ListPageMenu();  // 136, button 1017
const MenuTemplate& SingerMenu();    // 137, on a singer row
const MenuTemplate& WindowMenu();    // the About item of the window

// Pops the menu up at `globalPos` and returns at once; the chosen item's id
// goes to `onCommand` once the menu has closed. The menu deletes itself.
// `isChecked` tells which checkable items carry a check mark.
QMenu* ShowMenu(QWidget& owner, const MenuTemplate& menu, QPoint globalPos,
                std::function<void(int)> onCommand, const std::function<bool(int)>& isChecked = {});

}  // namespace melo::ui
