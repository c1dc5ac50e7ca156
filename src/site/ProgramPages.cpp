#include "site/Pages.h"

namespace melo::bundled {
namespace {

constexpr std::string_view kAuthor = "MeloDriftDown 开发组";

// "v1.6" -> "1.6"
std::string_view Bare(std::string_view version) {
  if (!version.empty() && version.front() == 'v')
    version.remove_prefix(1);
  return version;
}

}  // namespace

std::string IndexPage(const SiteContext& site) {
  PageWriter page;
  parts::WriteOpening(page, "首页");

  parts::WriteNavigation(page);
  page.Line("<div id=\"welcome\">")
      .Line("  <h2>今日推荐</h2>")
      .Line("  <p>欢迎来到" + std::string(parts::kSiteName) + "，共收录 " +
            std::to_string(site.catalogue.Songs().size()) + " 首歌曲。</p>")
      .Line("  <p><a href=\"/song/2244436/\">从这首歌开始</a></p>")
      .Line("</div>");
  parts::WriteFooter(page);
  return page.Gbk();
}

std::string ProgramHomePage(const SiteContext& site) {
  PageWriter page;
  parts::WriteOpening(page, "MeloDriftDown");
  page.Line("<div id=\"program\">")
      .Line("  <h2>MeloDriftDown</h2>")
      .Line("  <p>MeloDriftDown 解析 http://" + site.host +
            " 里的歌曲下载地址：输入歌曲页地址，或抓取排行榜、歌手页和搜索结果，"
            "在列表里试听、下载。</p>")
      .Line("  <p>作者：" + std::string(kAuthor) + "</p>")
      .Line("  <p><a href=\"/melodriftdown/update.html\">检查更新</a></p>")
      .Line("</div>")
      .Line("</body>")
      .Line("</html>");
  return page.Gbk();
}

std::string DownloadAddress(const SiteContext& site) {
  // The file name is lower case on purpose: the update check takes the
  // address up to the first "MeloDriftDown" after the link's opening, so the
  // program name may stand only in the link text.
  return "http://" + site.host + "/melodriftdown/download/melodriftdown-" + site.latestVersion +
         ".zip?from=update&amp;v=" + std::string(Bare(site.latestVersion));
}

std::string UpdatePage(const SiteContext& site) {
  PageWriter page;
  parts::WriteOpening(page, "MeloDriftDown 更新");
  // Nothing between the version marker and the download link may be a link:
  // the check takes the first "<a href=" after the marker.
  page.Line("<div id=\"update\">")
      .Line("  <p>MeloDriftDown Version:&nbsp;&nbsp;&nbsp; " + site.latestVersion + "</p>")
      .Line("  <p>更新说明：修正了若干解析问题，改进了试听。</p>")
      .Line("  <p>下载：<a href=\"" + DownloadAddress(site) + "\">MeloDriftDown</a></p>")
      .Line("  <p>作者：" + std::string(kAuthor) + "，<a href=\"/melodriftdown/\">程序主页</a></p>")
      .Line("</div>")
      .Line("</body>")
      .Line("</html>");
  return page.Gbk();
}

}  // namespace melo::bundled
