#pragma once
// The program's own status texts and page markers that hold Chinese text,
// as the GBK bytes the program writes and compares.

#include <string>

#include "core/text/Gbk.h"

namespace melo::scrape::texts {

inline const std::string kNetworkFailed = text::Gbk("网络连接失败!");
inline const std::string kParseSucceeded = text::Gbk("解析成功:");  // single-link add
inline const std::string kParseFailed = text::Gbk("解析失败");
inline const std::string kCrawlParsed = text::Gbk("成功解析:");
inline const std::string kCrawlParseFailed = text::Gbk("   解析失败");
inline const std::string kCrawlDone = text::Gbk("解析完毕");
inline const std::string kCrawlStopped = text::Gbk("已停止解析");
inline const std::string kSearchDone = text::Gbk("获取完毕");
inline const std::string kSearchStopped = text::Gbk("已停止");

// Song page: the label between title and singer in the heading.
inline const std::string kSingerLabel = text::Gbk("歌手 ");
// Search result page: where the song and the singer sections start.
inline const std::string kSongSection = text::Gbk("mid_tit\">歌曲");
inline const std::string kSingerSection = text::Gbk("mid_tit\">歌手");

}  // namespace melo::scrape::texts
