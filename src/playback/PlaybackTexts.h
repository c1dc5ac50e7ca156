#pragma once
// The play states as the window shows them (UTF-8).

#include <string_view>

namespace melo::playback::texts {

inline constexpr std::string_view kBuffering = "正在缓冲...";
inline constexpr std::string_view kPlaying = "播放中";
inline constexpr std::string_view kStopped = "已停止";
inline constexpr std::string_view kPaused = "已暂停";

}  // namespace melo::playback::texts
