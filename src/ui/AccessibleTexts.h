#pragma once
// What screen readers say for the controls, beside the ids of ControlIds.h.
// A control that shows a changing value (a time, a count, a state, a path)
// is known by that value: its description says what the value means, and
// its caption, where it has one, labels it. The other controls have a name
// here only when their caption alone says nothing ("<<", "■") or they have
// none.

class QWidget;

namespace melo::ui {

struct AccessibleText {
  const char* control;      // objectName: the template id, or the window's own name
  const char* name;         // UTF-8; null: the value the control shows
  const char* description;  // UTF-8; what that value means
  const char* caption;      // the text of the label beside it; null: none
};

inline constexpr AccessibleText kAccessibleTexts[] = {
    {"1000", "URL", nullptr, "URL:"},
    {"1003", nullptr, "状态", nullptr},
    {"1008", "歌曲列表", nullptr, nullptr},
    {"1009", nullptr, "歌曲数", "Sum:"},
    {"1011", "播放进度", nullptr, nullptr},
    {"1012", nullptr, "总时长", nullptr},
    {"1013", nullptr, "已播放", nullptr},
    {"1014", "停止", nullptr, nullptr},
    {"1015", nullptr, "播放状态", nullptr},
    {"1017", "更多", nullptr, nullptr},
    {"1018", "搜索关键字", nullptr, nullptr},
    {"1019", "上一首", nullptr, nullptr},
    {"1020", "下一首", nullptr, nullptr},
    {"1025", "歌手列表", nullptr, nullptr},
    // The download window.
    {"DownloadFolder", nullptr, "保存到", "保存到:"},
    {"DownloadRows", "下载列表", nullptr, nullptr},
};

// The player's own controls (made by the playback panel): the pause button
// is named after what it does next, the volume control has no caption.
inline constexpr const char* kPauseName = "暂停";
inline constexpr const char* kResumeName = "继续";
inline constexpr const char* kVolumeControlName = "音量";

// Gives the direct children of `window` named in the table their texts; an
// edit named by its value keeps that name as its text changes. (A label is
// known by its text as long as it has no name of its own.)
void ApplyAccessibleTexts(QWidget& window);

}  // namespace melo::ui
