#include <numeric>
#include <vector>

#include "core/text/Gbk.h"
#include "site/Pages.h"

namespace melo::bundled {
namespace {

constexpr int kListeningSize = 15;
constexpr int kRecommendSize = 12;
// The recommend crawl takes a first argument of up to 90 bytes.
constexpr size_t kRecommendTextLimit = 90;

using SongList = std::vector<const CatalogueSong*>;

// `count` songs from `offset` on, `stride` apart, cycling through the
// catalogue: each list shows a different order, and a list longer than the
// catalogue repeats it.
SongList Cycle(const Catalogue& catalogue, int count, size_t stride, size_t offset) {
  const auto songs = catalogue.Songs();
  SongList list;
  if (songs.empty())
    return list;
  while (std::gcd(stride, songs.size()) != 1)
    ++stride;
  for (int i = 0; i < count; ++i) {
    list.push_back(&songs[(offset + static_cast<size_t>(i) * stride) % songs.size()]);
  }
  return list;
}

std::string JsText(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '"' || c == '\\')
      out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

std::string ListEntry(int rank, const CatalogueSong& song) {
  return "WL(\"" + std::to_string(rank) + "\",\"" + song.id + "\",\"" + JsText(song.title) +
         "\",\"" + JsText(song.singer) + "\");";
}

// Calls that look like entries but that the crawler's limits reject: a first
// argument of 8+ bytes, an id of 15+ bytes. Each carries both separators so
// that however a reader resumes, the next real entry stays whole.
constexpr std::string_view kNavigationDecoy = "WL(\"navigation-item\",\"chart\",\"top\");";
constexpr std::string_view kLongIdDecoy = "WL(\"0\",\"100000000000000000\",\"ad-slot\");";

// Cuts UTF-8 `text` at a character boundary so that its GBK form fits.
std::string FitGbk(std::string_view text, size_t limit) {
  std::string fitted(text);
  while (text::Utf8ToGbk(fitted).size() > limit) {
    do {
      fitted.pop_back();
    } while (!fitted.empty() && (static_cast<unsigned char>(fitted.back()) & 0xC0) == 0x80);
    if (!fitted.empty())
      fitted.pop_back();
  }
  return fitted;
}

std::string RecommendEntry(const CatalogueSong& song) {
  const auto text = FitGbk(song.title + " - " + song.singer, kRecommendTextLimit);
  return "MSL(\"" + JsText(text) + "\", \"" + song.id + "\", \"编辑推荐\");";
}

void WriteListTop(PageWriter& page, std::string_view title, std::string_view heading) {
  parts::WriteOpening(page, title);
  parts::WriteNavigation(page);
  page.Line("<script type=\"text/javascript\">" + std::string(kNavigationDecoy) + "</script>")
      .Line("<div class=\"list\">")
      .Line("  <h2>" + std::string(heading) + "</h2>");
}

void WriteListEnd(PageWriter& page) {
  page.Line("</div>");
  parts::WriteFooter(page);
}

}  // namespace

std::string ChartPage(const SiteContext& site) {
  const auto songs = Cycle(site.catalogue, site.chartSize, 5, 0);
  PageWriter page;
  // The chart's top entry stands on the first line, as the site's template
  // writes it before the doctype; the crawler keeps that line.
  page.Line("<script type=\"text/javascript\">" +
            (songs.empty() ? std::string() : ListEntry(1, *songs[0])) +
            "</script><!-- chart 2010-11-08 -->");
  WriteListTop(page, "一周排行", "一周排行");
  page.Line("  <script type=\"text/javascript\">");
  std::string line = "  ";
  for (size_t i = 1; i < songs.size(); ++i) {
    line += ListEntry(static_cast<int>(i + 1), *songs[i]);
    if (i % 3 == 0 || i + 1 == songs.size()) {
      page.Line(line);
      line = "  ";
    }
    if (i == 10)
      page.Line("  " + std::string(kLongIdDecoy));
  }
  page.Line("  </script>");
  WriteListEnd(page);
  return page.Gbk();
}

std::string ListeningPage(const SiteContext& site) {
  const auto songs = Cycle(site.catalogue, kListeningSize, 11, 3);
  PageWriter page;
  WriteListTop(page, "大家在听", "大家在听");
  page.Line("  <ul>");
  for (size_t i = 0; i < songs.size(); ++i) {
    page.Line("    <li><script type=\"text/javascript\">" +
              ListEntry(static_cast<int>(i + 1), *songs[i]) + "</script></li>");
    if (i == 4)
      page.Line("    <li><script type=\"text/javascript\">" + std::string(kLongIdDecoy) +
                "</script></li>");
  }
  page.Line("  </ul>");
  WriteListEnd(page);
  return page.Gbk();
}

std::string RecommendPage(const SiteContext& site) {
  const auto songs = Cycle(site.catalogue, kRecommendSize, 13, 7);
  PageWriter page;
  WriteListTop(page, "大家推荐", "大家推荐");
  page.Line("  <script type=\"text/javascript\">");
  // A first argument over 90 bytes and an over-long id: both rejected.
  page.Line(
          "  MSL(\"本周编辑精选：十二首适合深夜独自聆听的歌曲，从民谣到电子，"
          "每一首都值得单曲循环，另附歌手访谈与录音棚里的幕后故事\", \"2244436\", \"专题\");")
      .Line("  MSL(\"广告位\", \"100000000000000000\", \"ad\");");
  for (size_t i = 0; i < songs.size(); i += 2) {
    std::string line = "  ";
    line += RecommendEntry(*songs[i]);
    if (i + 1 < songs.size())
      line.append(" ").append(RecommendEntry(*songs[i + 1]));
    page.Line(line);
  }
  page.Line("  </script>");
  WriteListEnd(page);
  return page.Gbk();
}

std::string SingerPage(const SiteContext& site, const CatalogueSinger& singer) {
  const auto songs = site.catalogue.SongsOf(singer.id);
  PageWriter page;
  WriteListTop(page, singer.name + "的歌曲",
               HtmlEscape(singer.name) + "的全部歌曲（" + std::to_string(songs.size()) + "首）");
  page.Line("  <script type=\"text/javascript\">");
  for (size_t i = 0; i < songs.size(); ++i) {
    page.Line("  " + ListEntry(static_cast<int>(i + 1), *songs[i]));
  }
  page.Line("  </script>");
  WriteListEnd(page);
  return page.Gbk();
}

}  // namespace melo::bundled
