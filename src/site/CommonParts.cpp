#include "site/Pages.h"

namespace melo::bundled::parts {

void WriteHead(PageWriter& page, std::string_view title) {
  page.Line("<html xmlns=\"http://www.w3.org/1999/xhtml\">")
      .Line("<head>")
      .Line("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\" />")
      .Line("<title>" + HtmlEscape(title) + " - " + std::string(kSiteName) + "</title>")
      .Line("<meta name=\"keywords\" content=\"在线试听,MP3,新歌,排行榜\" />")
      .Line("<link rel=\"stylesheet\" type=\"text/css\" href=\"/static/css/site.css\" />")
      .Line("<script type=\"text/javascript\" src=\"/static/js/common.js\"></script>")
      .Line("</head>");
}

void WriteOpening(PageWriter& page, std::string_view title) {
  page.Line(kDoctype);
  WriteHead(page, title);
  page.Line("<body>");
}

void WriteNavigation(PageWriter& page) {
  page.Line("<div id=\"header\">")
      .Line("  <a href=\"/\" class=\"logo\">" + std::string(kSiteName) + "</a>")
      .Line("  <ul class=\"nav\">")
      .Line("    <li><a href=\"/\">首页</a></li>")
      .Line("    <li><a href=\"/music/chart\">一周排行</a></li>")
      .Line("    <li><a href=\"/music/lsn/\">大家在听</a></li>")
      .Line("    <li><a href=\"/music/\">大家推荐</a></li>")
      .Line("  </ul>")
      .Line("  <form action=\"/search.php\" method=\"get\" class=\"search\">")
      .Line("    <input type=\"hidden\" name=\"type\" value=\"\" />")
      .Line("    <input type=\"text\" name=\"keyword\" size=\"24\" />")
      .Line("    <input type=\"submit\" value=\"搜索\" />")
      .Line("  </form>")
      .Line("</div>");
}

void WriteFooter(PageWriter& page) {
  page.Line("<div id=\"footer\">")
      .Line(
          "  <p><a href=\"/\">首页</a> | <a href=\"/music/chart\">一周排行</a> | "
          "<a href=\"/music/lsn/\">大家在听</a> | <a href=\"/melodriftdown/\">下载工具</a></p>")
      .Line("  <p>本站所有歌曲与歌手均为虚构，仅供演示。</p>")
      .Line("  <p>Copyright &copy; 2010 " + std::string(kSiteName) + "</p>")
      .Line("</div>")
      .Line("</body>")
      .Line("</html>");
}

}  // namespace melo::bundled::parts
