#include "site/RecordedPages.h"

#include <fstream>
#include <iterator>

#include "site/PageText.h"

namespace melo::bundled {
namespace {

bool ClimbsOut(std::string_view path) {
  for (const auto& part : std::filesystem::path(path)) {
    if (part == "..")
      return true;
  }
  return false;
}

std::string_view ContentTypeOf(const std::filesystem::path& file) {
  if (file.extension() == ".mp3")
    return "audio/mpeg";
  return kHtmlType;
}

}  // namespace

std::optional<Answer> FindRecordedPage(const std::filesystem::path& dir, std::string_view path) {
  auto relative = CollapseSlashes(path);
  if (ClimbsOut(relative))
    return std::nullopt;
  if (relative.empty() || relative.back() == '/')
    relative += "index.html";
  const auto file = dir / std::filesystem::path(relative).relative_path();
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error))
    return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in)
    return std::nullopt;
  return Answer{.contentType = std::string(ContentTypeOf(file)),
                .body = std::string(std::istreambuf_iterator<char>(in), {})};
}

}  // namespace melo::bundled
