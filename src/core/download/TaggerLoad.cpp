// PlaceTagged on the program's side: the work is the tagger module's.

#include "core/download/Id3Tags.h"
#include "core/download/TagWriter.h"
#include "core/module/LoadedModule.h"

namespace melo::download {

std::string PlaceTagged(const std::filesystem::path& part, const std::filesystem::path& target,
                        const SongTags& tags, int version) {
  const module::LoadedModule tagger(kTaggerModule, kTaggerEntry);
  auto* const place = tagger.Entry<PlaceTaggedEntry>();
  // Never an untagged song taken for a tagged one: the download fails.
  if (place == nullptr)
    return "cannot write tags: " + tagger.Failure();
  std::string failure;
  place(part, target, tags, version, failure);
  return failure;
}

}  // namespace melo::download
