#include "site/Router.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace melo::bundled {
namespace {

// An empty ZIP archive (just the end-of-central-directory record): enough
// for a browser to save something real.
constexpr std::string_view kEmptyZip{"PK\x05\x06\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 22};

std::vector<std::string_view> Segments(std::string_view path) {
  std::vector<std::string_view> segments;
  while (!path.empty()) {
    const auto slash = path.find('/');
    if (slash != 0)
      segments.push_back(path.substr(0, slash));
    if (slash == std::string_view::npos)
      break;
    path.remove_prefix(slash + 1);
  }
  return segments;
}

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

Answer Html(std::string body) {
  return {.body = std::move(body)};
}
Answer NotFound() {
  return {.status = 404, .body = NotFoundPage()};
}

Answer SongAnswer(const SiteContext& site, std::string_view id) {
  const auto* song = site.catalogue.FindSong(id);
  if (!song)
    return NotFound();
  return Html(site.rendered->Get("song/" + song->id, [&] { return SongPage(site, *song); }));
}

// /cache/mp3/<id>/<anything>.mp3: the program puts the song title where the
// page said "preview", so only the id counts.
Answer AudioAnswer(const SiteContext& site, std::string_view id) {
  const auto* song = site.catalogue.FindSong(id);
  if (!song)
    return NotFound();
  return {.contentType = "audio/mpeg", .body = std::string(song->audio)};
}

Answer SingerAnswer(const SiteContext& site, std::string_view id) {
  const auto* singer = site.catalogue.FindSinger(id);
  if (!singer)
    return NotFound();
  return Html(
      site.rendered->Get("singer/" + singer->id, [&] { return SingerPage(site, *singer); }));
}

Answer MusicAnswer(const SiteContext& site, const std::vector<std::string_view>& s) {
  if (s.size() == 1)
    return Html(RecommendPage(site));
  if (s.size() == 2 && s[1] == "chart")
    return Html(site.rendered->Get("music/chart", [&] { return ChartPage(site); }));
  if (s.size() == 2 && s[1] == "lsn")
    return Html(ListeningPage(site));
  return NotFound();
}

Answer ProgramAnswer(const SiteContext& site, const std::vector<std::string_view>& s) {
  if (s.size() == 1)
    return Html(ProgramHomePage(site));
  if (s.size() == 2 && s[1] == "update.html")
    return Html(UpdatePage(site));
  if (s.size() == 3 && s[1] == "download" && EndsWith(s[2], ".zip")) {
    return {.contentType = "application/zip", .body = std::string(kEmptyZip)};
  }
  return NotFound();
}

}  // namespace

std::string RenderedPages::Get(const std::string& key, const std::function<std::string()>& render) {
  {
    const std::lock_guard lock(mutex_);
    if (const auto kept = pages_.find(key); kept != pages_.end())
      return kept->second;
  }
  // Written outside the lock: two first requests at once both write the
  // page, and the same page is kept.
  std::string page = render();
  const std::lock_guard lock(mutex_);
  return pages_.try_emplace(key, std::move(page)).first->second;
}

Answer Route(const SiteContext& site, std::string_view path, std::string_view rawQuery) {
  const auto s = Segments(path);
  if (s.empty())
    return Html(IndexPage(site));
  if (s[0] == "song" && s.size() == 2)
    return SongAnswer(site, s[1]);
  if (s[0] == "cache" && s.size() >= 4 && s[1] == "mp3" && EndsWith(s.back(), ".mp3")) {
    return AudioAnswer(site, s[2]);
  }
  if (s[0] == "singer" && s.size() == 2)
    return SingerAnswer(site, s[1]);
  if (s[0] == "music")
    return MusicAnswer(site, s);
  if (s[0] == "search.php" && s.size() == 1) {
    return Html(SearchPage(site, PercentDecode(QueryValue(rawQuery, "keyword"))));
  }
  if (s[0] == "melodriftdown")
    return ProgramAnswer(site, s);
  return NotFound();
}

}  // namespace melo::bundled
