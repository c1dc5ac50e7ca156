#include "core/update/UpdateCheck.h"

#include <algorithm>
#include <cctype>

#include "core/net/PageReader.h"
#include "core/site/Site.h"
#include "core/text/TextRules.h"

namespace melo::update {
namespace {

constexpr std::string_view kLinkOpening = "<a href=";
constexpr std::string_view kProgramName = "MeloDriftDown";
constexpr text::Pos kVersionLength = 4;
// "<a href=" and the opening quote in front of the address.
constexpr text::Pos kAddressOffset = 9;
// The closing quote and bracket behind it.
constexpr text::Pos kAddressTail = 2;

unsigned char Folded(char c) {
  return static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(c)));
}

int Sign(int value) {
  return (value > 0) - (value < 0);
}

std::optional<std::string> DownloadAddress(std::string_view page, text::Pos marker) {
  const text::Pos link = text::Find(page, kLinkOpening, marker);
  if (link == text::kNotFound) {
    return std::nullopt;
  }
  const text::Pos start = link + kAddressOffset;
  const text::Pos name = text::Find(page, kProgramName, start);
  if (name == text::kNotFound) {
    return std::nullopt;
  }
  const std::string address = text::Substring(page, start, name - kAddressTail - start);
  return text::RemoveAll(address, "amp;");
}

}  // namespace

std::string UpdatePageUrl() {
  return site::SiteBase() + "melodriftdown/update.html";
}
std::string HomePageUrl() {
  return site::SiteBase() + "melodriftdown/";
}

int CompareVersionTexts(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    if (Folded(a[i]) != Folded(b[i])) {
      return Sign(static_cast<int>(Folded(a[i])) - static_cast<int>(Folded(b[i])));
    }
  }
  if (a.size() != b.size()) {
    return a.size() < b.size() ? -1 : 1;
  }
  for (std::size_t i = 0; i < common; ++i) {
    if (a[i] != b[i]) {
      // Same letter in another case: the lower-case one sorts first.
      return std::islower(static_cast<unsigned char>(a[i])) ? -1 : 1;
    }
  }
  return 0;
}

UpdateFinding EvaluateUpdatePage(std::string_view pageText) {
  UpdateFinding finding;
  const text::Pos marker = text::Find(pageText, kVersionMarker);
  if (marker == text::kNotFound) {
    return finding;
  }
  finding.latestVersion =
      text::Substring(pageText, marker + text::Size(kVersionMarker) + 1, kVersionLength);
  if (CompareVersionTexts(finding.latestVersion, kRunningVersion) <= 0) {
    finding.verdict = UpdateVerdict::kUpToDate;
    return finding;
  }
  finding.verdict = UpdateVerdict::kNewer;
  finding.downloadAddress = DownloadAddress(pageText, marker);
  return finding;
}

std::string ReadUpdatePage(std::stop_token stop) {
  net::PageReader reader(std::move(stop));
  reader.Open(UpdatePageUrl());
  return reader.ReadToEnd(true);
}

}  // namespace melo::update
