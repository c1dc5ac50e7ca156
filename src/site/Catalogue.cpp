#include "site/Catalogue.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "site/EmbeddedFiles.h"

namespace melo::bundled {
namespace {

std::string_view EmbeddedOrThrow(std::string_view name) {
  auto file = FindEmbeddedFile(name);
  if (!file)
    throw std::runtime_error("bundled site: missing resource " + std::string(name));
  return *file;
}

std::vector<CatalogueSinger> ReadSingers(const nlohmann::json& doc) {
  std::vector<CatalogueSinger> singers;
  for (const auto& s : doc.at("singers")) {
    singers.push_back({s.at("id").get<std::string>(), s.at("name").get<std::string>()});
  }
  return singers;
}

std::vector<CatalogueSong> ReadSongs(const nlohmann::json& doc,
                                     const std::vector<CatalogueSinger>& singers) {
  const auto lengths = nlohmann::json::parse(EmbeddedOrThrow("audio/lengths.json"));
  std::vector<CatalogueSong> songs;
  for (const auto& s : doc.at("songs")) {
    const auto singerId = s.at("singer").get<std::string>();
    const auto singer = std::ranges::find(singers, singerId, &CatalogueSinger::id);
    if (singer == singers.end())
      throw std::runtime_error("catalogue: unknown singer " + singerId);
    const auto audio = s.at("audio").get<std::string>();
    songs.push_back({.id = s.at("id").get<std::string>(),
                     .title = s.at("title").get<std::string>(),
                     .singer = singer->name,
                     .singerId = singerId,
                     .lengthMs = lengths.at(audio).get<int>(),
                     .audio = EmbeddedOrThrow("audio/" + audio)});
  }
  return songs;
}

Catalogue LoadDemoCatalogue() {
  const auto doc = nlohmann::json::parse(EmbeddedOrThrow("catalogue.json"));
  auto singers = ReadSingers(doc);
  auto songs = ReadSongs(doc, singers);
  return Catalogue(std::move(singers), std::move(songs));
}

}  // namespace

Catalogue::Catalogue(std::vector<CatalogueSinger> singers, std::vector<CatalogueSong> songs)
    : singers_(std::move(singers)), songs_(std::move(songs)) {}

const CatalogueSong* Catalogue::FindSong(std::string_view id) const {
  auto it = std::ranges::find(songs_, id, &CatalogueSong::id);
  return it == songs_.end() ? nullptr : &*it;
}

const CatalogueSinger* Catalogue::FindSinger(std::string_view id) const {
  auto it = std::ranges::find(singers_, id, &CatalogueSinger::id);
  return it == singers_.end() ? nullptr : &*it;
}

std::vector<const CatalogueSong*> Catalogue::SongsOf(std::string_view singerId) const {
  std::vector<const CatalogueSong*> result;
  for (const auto& song : songs_) {
    if (song.singerId == singerId)
      result.push_back(&song);
  }
  return result;
}

const Catalogue& DemoCatalogue() {
  static const Catalogue catalogue = LoadDemoCatalogue();
  return catalogue;
}

}  // namespace melo::bundled
