#pragma once
// The generated pages of the bundled site. Every page comes out as the site
// sends it: GBK bytes with CR LF line ends.

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "site/Catalogue.h"
#include "site/PageText.h"

namespace melo::bundled {

// Pages that read the same on every request, each kept once it has been
// written: a crawl asks for the same few song pages over and over, and
// writing one (and converting it to GBK) took most of the site's time. Only
// pages of what the catalogue holds are kept, so what is kept stays bounded.
class RenderedPages {
 public:
  // The page kept under `key`, written by `render` the first time.
  std::string Get(const std::string& key, const std::function<std::string()>& render);

 private:
  std::mutex mutex_;
  std::map<std::string, std::string, std::less<>> pages_;
};

struct SiteContext {
  std::string host;  // "localhost:PORT", the server part of every media line
  const Catalogue& catalogue;
  int chartSize = 20;
  std::string latestVersion = "v1.6";
  std::shared_ptr<RenderedPages> rendered = std::make_shared<RenderedPages>();
};

// Song pages and the page for an address that names nothing.
std::string SongPage(const SiteContext& site, const CatalogueSong& song);
// It never echoes the address: a reader must not find "cache" in it.
std::string NotFoundPage();

// List pages the crawler reads: song entries among other markup.
std::string ChartPage(const SiteContext& site);
std::string ListeningPage(const SiteContext& site);
std::string RecommendPage(const SiteContext& site);
std::string SingerPage(const SiteContext& site, const CatalogueSinger& singer);

// The search result page for a keyword given as GBK bytes.
std::string SearchPage(const SiteContext& site, std::string_view keywordGbk);

// The site's front page and the program's own pages.
std::string IndexPage(const SiteContext& site);
std::string ProgramHomePage(const SiteContext& site);
std::string UpdatePage(const SiteContext& site);
// The address the update page offers for the latest version.
std::string DownloadAddress(const SiteContext& site);

// Shared page parts.
namespace parts {
inline constexpr std::string_view kDoctype =
    "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
    "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">";
inline constexpr std::string_view kSiteName = "旋律漂流音乐网";
// From <html> to </head>.
void WriteHead(PageWriter& page, std::string_view title);
// Doctype, head and the opening <body>: the start of every page but the chart.
void WriteOpening(PageWriter& page, std::string_view title);
// The header bar with the list links and the search box.
void WriteNavigation(PageWriter& page);
// Links to the site's own pages but never to a song: the search scan runs on
// to the end of the page and would fetch them. Closes the page.
void WriteFooter(PageWriter& page);
}  // namespace parts

}  // namespace melo::bundled
