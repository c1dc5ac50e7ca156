#include <array>
#include <cstdint>
#include <string>

#include "site/Pages.h"

namespace melo::bundled {
namespace {

// Plausible page weight after the media line: readers stop at the media line
// and must not need the rest.
constexpr int kCommentCount = 90;

constexpr std::array<std::string_view, 8> kCommentTexts = {
    "单曲循环了一整个下午，太好听了！",
    "前奏一响就被击中了。",
    "歌词写得真好，想起了很多往事。",
    "Listening to this on the night bus, perfect.",
    "求这首歌的伴奏版！",
    "副歌部分的和声很有层次感。",
    "Been waiting for this one since the live show.",
    "收藏了，推荐给朋友们。",
};

constexpr std::array<std::string_view, 6> kNickNames = {
    "路过的风", "小鹿乱撞", "nightowl", "听歌的猫", "Mr.Blue", "一只柠檬",
};

// A small deterministic generator so a page reads the same on every request.
class Dice {
 public:
  explicit Dice(std::string_view seed) {
    for (char c : seed)
      state_ = state_ * 131 + static_cast<unsigned char>(c);
  }
  std::uint32_t Next(std::uint32_t bound) {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(state_ >> 33) % bound;
  }

 private:
  std::uint64_t state_ = 88172645463325252ULL;
};

// Padded in place: GCC 12 misreads "0" + std::to_string(n) as an overlapping copy.
std::string TwoDigits(unsigned n) {
  std::string text = std::to_string(n);
  if (n < 10)
    text.insert(text.begin(), '0');
  return text;
}

std::string Clock(int ms) {
  return TwoDigits(static_cast<unsigned>(ms / 60000)) + ":" +
         TwoDigits(static_cast<unsigned>(ms / 1000 % 60));
}

void WriteSongHeading(PageWriter& page, const CatalogueSong& song) {
  const auto title = HtmlEscape(song.title);
  const auto singer = HtmlEscape(song.singer);
  page.Line("<div id=\"song_info\">")
      .Line("  <h1>" + title + " 歌手 " + singer + "</h1>")
      .Line("  <p class=\"singer\">演唱：<a href='/singer/" + song.singerId +
            "/' target='_blank'>" + singer + "</a></p>")
      .Line("  <p class=\"meta\">时长：" + Clock(song.lengthMs) + "　编号：" + song.id + "</p>")
      .Line("</div>");
}

void WriteMediaScript(PageWriter& page, const SiteContext& site, const CatalogueSong& song) {
  page.Line("<div id=\"player\">")
      .Line("<script type=\"text/javascript\">")
      .Line("player('cache/mp3/" + song.id + "/preview.mp3', 'http://" + site.host +
            "/','ListenLog');")
      .Line("</script>")
      .Line("</div>");
}

void WriteLyrics(PageWriter& page, const CatalogueSong& song) {
  page.Line("<div id=\"lyrics\">")
      .Line("  <h2>歌词</h2>")
      .Line("  <p>《" + HtmlEscape(song.title) + "》的歌词正在整理中，欢迎网友提交。</p>")
      .Line("  <p class=\"lrc\">[00:00.00]" + HtmlEscape(song.title) + "<br />[00:02.00]" +
            HtmlEscape(song.singer) + "<br />[00:04.00]……</p>")
      .Line("</div>");
}

void WriteRelated(PageWriter& page, const SiteContext& site, const CatalogueSong& song) {
  page.Line("<div id=\"related\">").Line("  <h2>同一歌手的其它歌曲</h2>").Line("  <ul>");
  for (const auto* other : site.catalogue.SongsOf(song.singerId)) {
    if (other->id == song.id)
      continue;
    page.Line("    <li><a href=\"/song/" + other->id + "/\">" + HtmlEscape(other->title) +
              "</a> <span>" + Clock(other->lengthMs) + "</span></li>");
  }
  page.Line("  </ul>").Line("</div>");
}

void WriteComments(PageWriter& page, const CatalogueSong& song) {
  Dice dice(song.id);
  page.Line("<div id=\"comments\">").Line("  <h2>网友评论</h2>");
  for (int i = 0; i < kCommentCount; ++i) {
    const auto nick = kNickNames[dice.Next(kNickNames.size())];
    const auto when = "2010-10-" + TwoDigits(1 + dice.Next(28)) + " " + TwoDigits(dice.Next(24)) +
                      ":" + TwoDigits(dice.Next(60));
    const auto floor = std::to_string(i + 1);
    page.Line("  <div class=\"comment\">")
        .Line("    <p class=\"who\"><span class=\"nick\">" + std::string(nick) +
              "</span> <span class=\"time\">" + when + "</span> 第" + floor + "楼</p>")
        .Line("    <p class=\"text\">" +
              std::string(kCommentTexts[dice.Next(kCommentTexts.size())]) + "</p>")
        .Line("    <p class=\"vote\"><a href=\"javascript:vote(" + song.id + "," + floor +
              ")\">支持</a>(" + std::to_string(dice.Next(500)) + ")</p>")
        .Line("  </div>");
  }
  page.Line("</div>");
}

}  // namespace

std::string SongPage(const SiteContext& site, const CatalogueSong& song) {
  PageWriter page;
  parts::WriteOpening(page, song.title + " - " + song.singer);

  parts::WriteNavigation(page);
  WriteSongHeading(page, song);
  WriteMediaScript(page, site, song);
  WriteLyrics(page, song);
  WriteRelated(page, site, song);
  WriteComments(page, song);
  parts::WriteFooter(page);
  return page.Gbk();
}

std::string NotFoundPage() {
  PageWriter page;
  parts::WriteOpening(page, "404 页面不存在");

  parts::WriteNavigation(page);
  page.Line("<div id=\"error\">")
      .Line("  <h2>404 Not Found</h2>")
      .Line("  <p>您访问的页面不存在或已被删除。</p>")
      .Line("  <p><a href=\"/\">返回首页</a></p>")
      .Line("</div>");
  parts::WriteFooter(page);
  return page.Gbk();
}

}  // namespace melo::bundled
