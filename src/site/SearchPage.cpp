#include <vector>

#include "core/text/Gbk.h"
#include "site/Pages.h"

namespace melo::bundled {
namespace {

struct Matches {
  std::vector<const CatalogueSong*> songs;
  std::vector<const CatalogueSinger*> singers;
};

// Matching runs on the GBK bytes, as the site's own search did, so a
// keyword never matches from inside a two-byte character.
Matches FindMatches(const Catalogue& catalogue, std::string_view keywordGbk) {
  Matches found;
  if (keywordGbk.empty())
    return found;
  for (const auto& song : catalogue.Songs()) {
    if (GbkContains(text::Utf8ToGbk(song.title), keywordGbk) ||
        GbkContains(text::Utf8ToGbk(song.singer), keywordGbk)) {
      found.songs.push_back(&song);
    }
  }
  for (const auto& singer : catalogue.Singers()) {
    if (GbkContains(text::Utf8ToGbk(singer.name), keywordGbk))
      found.singers.push_back(&singer);
  }
  return found;
}

void WriteSearchBox(PageWriter& page, const std::string& keyword) {
  page.Line("<div class=\"search_box\">")
      .Line("  <form action=\"/search.php\" method=\"get\">")
      .Line("    <input type=\"hidden\" name=\"type\" value=\"\" />")
      .Line("    <input type=\"text\" name=\"keyword\" value=\"" + HtmlEscape(keyword) + "\" />")
      .Line("    <input type=\"submit\" value=\"搜索\" />")
      .Line("  </form>")
      .Line("</div>");
}

void WriteEmptyRow(PageWriter& page, bool noKeyword) {
  page.Line(noKeyword ? "  <tr><td>请输入要搜索的歌曲名或歌手名。</td></tr>"
                      : "  <tr><td>没有找到相关结果。</td></tr>");
}

void WriteSongSection(PageWriter& page, const Matches& found, bool noKeyword) {
  page.Line("<div class=\"mid_tit\">歌曲</div>").Line("<table class=\"song_list\">");
  if (found.songs.empty())
    WriteEmptyRow(page, noKeyword);
  int row = 0;
  for (const auto* song : found.songs) {
    page.Line("  <tr><td class=\"num\">" + std::to_string(++row) + "</td><td><a href=\"/song/" +
              song->id + "/\">" + HtmlEscape(song->title) + "</a></td><td>" +
              HtmlEscape(song->singer) + "</td></tr>");
  }
  page.Line("</table>");
}

// The reader takes a singer's name from one byte after the link's closing
// quote and bracket up to "</a> </td>", so exactly one space goes before the
// name and one between "</a>" and "</td>".
void WriteSingerSection(PageWriter& page, const Catalogue& catalogue, const Matches& found,
                        bool noKeyword) {
  page.Line("<div class=\"mid_tit\">歌手</div>").Line("<table class=\"singer_list\">");
  if (found.singers.empty())
    WriteEmptyRow(page, noKeyword);
  for (const auto* singer : found.singers) {
    page.Line("  <tr><td><a href=\"/singer/" + singer->id + "/\"> " + HtmlEscape(singer->name) +
              "</a> </td><td>" + std::to_string(catalogue.SongsOf(singer->id).size()) +
              "首歌曲</td></tr>");
  }
  page.Line("</table>");
}

}  // namespace

std::string SearchPage(const SiteContext& site, std::string_view keywordGbk) {
  const auto found = FindMatches(site.catalogue, keywordGbk);
  const auto keyword = text::GbkToUtf8(keywordGbk);
  const bool noKeyword = keywordGbk.empty();
  PageWriter page;
  parts::WriteOpening(page, noKeyword ? std::string("搜索") : "“" + keyword + "”的搜索结果");

  parts::WriteNavigation(page);
  WriteSearchBox(page, keyword);
  page.Line("<div class=\"result\">")
      .Line("<p class=\"summary\">找到 " + std::to_string(found.songs.size()) + " 首歌曲，" +
            std::to_string(found.singers.size()) + " 位歌手。</p>");
  WriteSongSection(page, found, noKeyword);
  WriteSingerSection(page, site.catalogue, found, noKeyword);
  page.Line("</div>");
  parts::WriteFooter(page);
  return page.Gbk();
}

}  // namespace melo::bundled
