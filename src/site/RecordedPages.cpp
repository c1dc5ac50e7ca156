#include "site/RecordedPages.h"

#include <algorithm>
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

// Whether `file`, its links resolved, lies inside `dir`, its links resolved.
bool LiesInside(const std::filesystem::path& dir, const std::filesystem::path& file) {
  std::error_code error;
  const auto root = std::filesystem::canonical(dir, error);
  if (error)
    return false;
  const auto resolved = std::filesystem::canonical(file, error);
  if (error)
    return false;
  const auto [rootEnd, fileAt] =
      std::mismatch(root.begin(), root.end(), resolved.begin(), resolved.end());
  return rootEnd == root.end();
}

std::string_view ContentTypeOf(const std::filesystem::path& file) {
  if (file.extension() == ".mp3")
    return "audio/mpeg";
  return kHtmlType;
}

std::string WithHost(std::string page, std::string_view host) {
  for (auto at = page.find(kHostPlaceholder); at != std::string::npos;
       at = page.find(kHostPlaceholder, at + host.size())) {
    page.replace(at, kHostPlaceholder.size(), host);
  }
  return page;
}

}  // namespace

std::optional<Answer> FindRecordedPage(const std::filesystem::path& dir, std::string_view path,
                                       std::string_view host) {
  auto relative = CollapseSlashes(path);
  if (ClimbsOut(relative) || relative.find('\0') != std::string::npos)
    return std::nullopt;
  if (relative.empty() || relative.back() == '/')
    relative += "index.html";
  const auto file = dir / std::filesystem::path(relative).relative_path();
  std::error_code error;
  // A link inside the folder must not lead out of it.
  if (!std::filesystem::is_regular_file(file, error) || !LiesInside(dir, file))
    return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in)
    return std::nullopt;
  std::string body(std::istreambuf_iterator<char>(in), {});
  const auto type = ContentTypeOf(file);
  if (type == kHtmlType)
    body = WithHost(std::move(body), host);
  return Answer{.contentType = std::string(type), .body = std::move(body)};
}

}  // namespace melo::bundled
