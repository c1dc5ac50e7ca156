#pragma once
// Songs of the bundled site as the song list holds them: the quoted MP3
// address with the title in GBK, as the song page parser builds it.

#include <algorithm>
#include <string>

#include "core/text/Gbk.h"
#include "site/BundledSite.h"
#include "site/Catalogue.h"

namespace melo::playback::testing {

inline std::string Mp3Address(const bundled::BundledSite& site,
                              const bundled::CatalogueSong& song) {
  return "http://" + site.Host() + "/cache/mp3/" + song.id + "/" + text::Utf8ToGbk(song.title) +
         ".mp3";
}

inline std::string Mp3Link(const bundled::BundledSite& site, const bundled::CatalogueSong& song) {
  return "\"" + Mp3Address(site, song) + "\"";
}

inline const bundled::CatalogueSong& LongestSong() {
  const auto songs = bundled::DemoCatalogue().Songs();
  return *std::max_element(songs.begin(), songs.end(),
                           [](const auto& a, const auto& b) { return a.lengthMs < b.lengthMs; });
}

inline const bundled::CatalogueSong& ShortestSong() {
  const auto songs = bundled::DemoCatalogue().Songs();
  return *std::min_element(songs.begin(), songs.end(),
                           [](const auto& a, const auto& b) { return a.lengthMs < b.lengthMs; });
}

// A song whose title holds a space, so its address needs encoding.
inline const bundled::CatalogueSong& SongWithSpace() {
  const auto songs = bundled::DemoCatalogue().Songs();
  return *std::find_if(songs.begin(), songs.end(),
                       [](const auto& s) { return s.title.find(' ') != std::string::npos; });
}

}  // namespace melo::playback::testing
