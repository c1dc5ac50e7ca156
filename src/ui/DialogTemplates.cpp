#include "ui/DialogTemplates.h"

#include <array>

namespace melo::ui {
namespace {

using K = ControlKind;

constexpr std::array kSongColumns{
    ColumnTemplate{"歌手", 130, false},   ColumnTemplate{"歌名", 348, false},
    ColumnTemplate{"下载链接", 0, false}, ColumnTemplate{"歌手链接", 0, false},
    ColumnTemplate{"歌曲链接", 0, false},
};

constexpr std::array kSingerColumns{
    ColumnTemplate{"歌手", 202, true},
    ColumnTemplate{"歌手链接", 0, true},
};

constexpr std::array kMainControls{
    ControlTemplate{1, K::kPushButton, "确定", 285, 14, 50, 14, kDefault},
    ControlTemplate{kNoId, K::kLabel, "URL:", 13, 17, 17, 8},
    ControlTemplate{1000, K::kEdit, "", 35, 14, 239, 14},
    ControlTemplate{1003, K::kStatusEdit, "", 15, 35, 250, 12},
    ControlTemplate{1004, K::kPushButton, "关于", 283, 51, 50, 14},
    ControlTemplate{1008, K::kListView, "List1", 10, 70, 325, 253, kNone, kSongColumns},
    ControlTemplate{1007, K::kPushButton, "清空列表", 13, 51, 50, 14},
    ControlTemplate{kNoId, K::kLabel, "Sum:", 6, 327, 15, 8},
    ControlTemplate{1009, K::kStatusEdit, "", 28, 327, 11, 12},
    ControlTemplate{1010, K::kPushButton, "停止获取", 103, 51, 50, 14},
    ControlTemplate{1011, K::kTrackbar, "Slider1", 82, 323, 148, 15},
    ControlTemplate{1012, K::kLabel, "", 253, 327, 20, 8},
    ControlTemplate{1013, K::kLabelRight, "", 235, 327, 17, 8},
    ControlTemplate{1014, K::kPushButton, "■", 299, 325, 15, 14},
    ControlTemplate{1015, K::kLabel, "", 46, 328, 36, 8},
    ControlTemplate{1017, K::kPushButton, "        >>", 190, 51, 50, 14},
    ControlTemplate{1019, K::kPushButton, "<<", 281, 325, 15, 14},
    ControlTemplate{1020, K::kPushButton, ">>", 317, 325, 15, 14},
    ControlTemplate{kNoId, K::kGroupBox, "", 350, 7, 156, 332},
    ControlTemplate{1018, K::kEdit, "", 357, 30, 142, 14},
    ControlTemplate{1021, K::kPushButton, "搜索", 399, 51, 50, 14},
    ControlTemplate{1022, K::kRadio, "歌曲", 373, 17, 32, 10},
    ControlTemplate{1023, K::kRadio, "歌手", 445, 17, 32, 10},
    ControlTemplate{1025, K::kListView, "List2", 356, 71, 137, 250, kMultiSelect, kSingerColumns},
    ControlTemplate{kNoId, K::kLabel, "Static", 403, 71, 97, 250, kSunken | kHidden},
};

constexpr std::array kAboutControls{
    ControlTemplate{kNoId, K::kIcon, "", 11, 17, 20, 20},
    ControlTemplate{kNoId, K::kLabel, "MeloDriftDown 1.5版", 40, 10, 119, 8, kNoPrefix},
    ControlTemplate{1, K::kPushButton, "确定", 231, 86, 50, 14, kDefault},
    ControlTemplate{1006, K::kLink, "{HomePageUrl}", 75, 66, 124, 8},
    ControlTemplate{kNoId, K::kLabel, "Author:  {Author}", 40, 42, 72, 8},
    ControlTemplate{kNoId, K::kLabel, "Date:    2010.11.08", 40, 55, 94, 8},
    ControlTemplate{kNoId, K::kLabel, "功能:    解析 {SiteAddress} 里的歌曲下载地址", 40, 31, 216,
                    8},
    ControlTemplate{kNoId, K::kLabel, "Blog:", 40, 66, 21, 8},
    ControlTemplate{1007, K::kPushButton, "检查更新", 231, 61, 50, 14},
    ControlTemplate{kNoId, K::kLabel, "E-mail:  {Mail}", 39, 78, 111, 8},
    ControlTemplate{kNoId, K::kLabel, "注:如有不能下载或者其它不正常情况请联系我", 38, 91, 184, 8},
};

constexpr DialogTemplate kMainDialog{"MeloDriftDown V1.5", 513, 340, kMainControls};
constexpr DialogTemplate kAboutDialog{"关于 MeloDriftDown", 294, 112, kAboutControls};

}  // namespace

const DialogTemplate& MainDialogTemplate() {
  return kMainDialog;
}
const DialogTemplate& AboutDialogTemplate() {
  return kAboutDialog;
}

}  // namespace melo::ui
