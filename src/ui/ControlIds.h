#pragma once
// The main window's controls that more than one part of the window drives,
// by the ids its template gives them, and the columns of its two lists.

namespace melo::ui {

inline constexpr int kPositionSlider = 1011;
inline constexpr int kTotalTime = 1012;
inline constexpr int kElapsedTime = 1013;
inline constexpr int kStopButton = 1014;
inline constexpr int kPlayState = 1015;
inline constexpr int kPreviousButton = 1019;
inline constexpr int kNextButton = 1020;
// The player's own controls, beside the position slider.
inline constexpr int kPauseButton = 1026;
inline constexpr int kVolumeSlider = 1027;

// The song list: singer, title, download link, singer link, song link.
inline constexpr int kSingerColumn = 0;
inline constexpr int kTitleColumn = 1;
inline constexpr int kDownloadLinkColumn = 2;
inline constexpr int kSingerLinkColumn = 3;
inline constexpr int kSongLinkColumn = 4;
// The singer list: name, link.
inline constexpr int kSingerLinkColumnOfSingers = 1;

}  // namespace melo::ui
