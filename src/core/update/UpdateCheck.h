#pragma once
// The update check: the program's own page names the latest version and
// links its download. Shared by the About box and `melodrift check-update`.

#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace melo::update {

inline constexpr std::string_view kRunningVersion = "v1.5";
inline constexpr std::string_view kVersionMarker = "MeloDriftDown Version:&nbsp;&nbsp;&nbsp;";

// SiteBase + "melodriftdown/update.html" and SiteBase + "melodriftdown/".
std::string UpdatePageUrl();
std::string HomePageUrl();

// Orders version texts as a locale-aware comparison does: letters compare
// case-insensitively first, case breaks a tie (lower before upper), the rest
// goes by byte. Negative, zero or positive.
int CompareVersionTexts(std::string_view a, std::string_view b);

enum class UpdateVerdict {
  kNoVersion,  // the page names no version: the check ends silently
  kUpToDate,
  kNewer,
};

struct UpdateFinding {
  UpdateVerdict verdict = UpdateVerdict::kNoVersion;
  // The four bytes after the marker and its one separating byte (fewer at
  // the end of the page): "v1.10" is read as "v1.1".
  std::string latestVersion;
  // For kNewer: the download address with every "amp;" removed, or nothing
  // when the page has no such link.
  std::optional<std::string> downloadAddress;
};

// Judges the update page text (its lines joined, the first one kept).
UpdateFinding EvaluateUpdatePage(std::string_view pageText);

// Reads UpdatePageUrl with the page reader. Throws net::InternetError with
// the network layer's own text.
std::string ReadUpdatePage(std::stop_token stop = {});

}  // namespace melo::update
