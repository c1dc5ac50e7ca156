#pragma once
// The bundled site's made-up songs and singers, as UTF-8 texts. The pages
// carry them in GBK; tests and benchmarks compare against these.

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace melo::bundled {

struct CatalogueSinger {
  std::string id;  // short number, as in /singer/<id>/
  std::string name;
};

struct CatalogueSong {
  std::string id;  // seven digits, as in /song/<id>/
  std::string title;
  std::string singer;  // the singer's name
  std::string singerId;
  int lengthMs = 0;        // measured length of the audio
  std::string_view audio;  // the MP3 bytes
};

class Catalogue {
 public:
  Catalogue(std::vector<CatalogueSinger> singers, std::vector<CatalogueSong> songs);

  std::span<const CatalogueSong> Songs() const { return songs_; }
  std::span<const CatalogueSinger> Singers() const { return singers_; }

  const CatalogueSong* FindSong(std::string_view id) const;
  const CatalogueSinger* FindSinger(std::string_view id) const;
  std::vector<const CatalogueSong*> SongsOf(std::string_view singerId) const;

 private:
  std::vector<CatalogueSinger> singers_;
  std::vector<CatalogueSong> songs_;
};

// The catalogue built into the library, read once on first use.
const Catalogue& DemoCatalogue();

}  // namespace melo::bundled
