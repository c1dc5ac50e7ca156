#include "ui/Menus.h"

#include <QAction>
#include <QMenu>
#include <QWidget>
#include <array>

namespace melo::ui {
namespace {

constexpr std::array kSongItems{
    MenuItem{kDownloadSongCommand, "下载此歌曲"},
    MenuItem{kPlaySongCommand, "播放此歌曲"},
    MenuItem{kCrawlRowSingerCommand, "获取该歌手所有歌曲"},
    MenuItem{kOpenSongLinkCommand, "打开歌曲链接"},
    MenuItem{kDeleteSongCommand, "删除"},
    MenuItem{kSaveSongCommand, "保存到本地"},
    MenuItem{kSaveAllSongsCommand, "全部保存到本地"},
};

constexpr std::array kListPageItems{
    MenuItem{kChartCommand, "一周排行"},
    MenuItem{kListeningCommand, "大家在听"},
    MenuItem{kRecommendedCommand, "大家推荐"},
    MenuItem{kSearchPanelCommand, "搜索"},
};

constexpr std::array kSingerItems{
    MenuItem{kCrawlListedSingerCommand, "获取该歌手所有歌曲"},
    MenuItem{kClearSingerListCommand, "清空列表"},
};

constexpr std::array kWindowItems{
    MenuItem{0, ""},
    MenuItem{kAboutCommand, "关于 melodriftDown(&A)..."},
    MenuItem{kDownloadListCommand, "下载列表"},
    MenuItem{kExportPlaylistCommand, "导出列表为 M3U8..."},
    MenuItem{kSettingsCommand, "设置..."},
    MenuItem{0, ""},
    MenuItem{kSingleModeCommand, "单曲", true},
    MenuItem{kSequentialModeCommand, "顺序播放", true},
    MenuItem{kLoopListModeCommand, "列表循环", true},
    MenuItem{kLoopOneModeCommand, "单曲循环", true},
    MenuItem{kShuffleModeCommand, "随机播放", true},
};

constexpr MenuTemplate kSongMenu{133, kSongItems};
constexpr MenuTemplate kListPageMenu{136, kListPageItems};
constexpr MenuTemplate kSingerMenu{137, kSingerItems};
constexpr MenuTemplate kWindowMenu{101, kWindowItems};

}  // namespace

const MenuTemplate& SongMenu() {
  return kSongMenu;
}
const MenuTemplate& ListPageMenu() {
  return kListPageMenu;
}
const MenuTemplate& SingerMenu() {
  return kSingerMenu;
}
const MenuTemplate& WindowMenu() {
  return kWindowMenu;
}

QMenu* ShowMenu(QWidget& owner, const MenuTemplate& menu, QPoint globalPos,
                std::function<void(int)> onCommand, const std::function<bool(int)>& isChecked) {
  auto* popup = new QMenu(&owner);
  popup->setObjectName(QString::number(menu.id));
  popup->setAttribute(Qt::WA_DeleteOnClose);
  for (const MenuItem& item : menu.items) {
    if (item.commandId == 0) {
      popup->addSeparator();
      continue;
    }
    QAction* action = popup->addAction(QString::fromUtf8(item.text));
    action->setObjectName(QString::number(item.commandId));
    if (item.checkable) {
      action->setCheckable(true);
      action->setChecked(isChecked && isChecked(item.commandId));
    }
    QObject::connect(action, &QAction::triggered, &owner,
                     [onCommand, id = item.commandId] { onCommand(id); });
  }
  owner.activateWindow();
  popup->popup(globalPos);
  return popup;
}

}  // namespace melo::ui
