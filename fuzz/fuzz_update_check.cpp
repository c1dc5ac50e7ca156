// The update page judgement on any page: the version is the four bytes after
// the marker and its separating byte, the verdict follows from it alone, and
// only a newer version comes with a download address.

#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "core/update/UpdateCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace melo::update;
  using melo::fuzzing::Check;
  // Half of the inputs get the marker in front, so the rest of the rule is reached.
  const bool marked = size > 0 && data[0] % 2 == 0;
  const std::string page = (marked ? std::string(kVersionMarker) : std::string()) +
                           std::string(reinterpret_cast<const char*>(data), size);
  const UpdateFinding finding = EvaluateUpdatePage(page);
  const melo::fuzzing::Pos marker = melo::fuzzing::SteppingFind(page, kVersionMarker);
  if (marker == -1) {
    Check(finding.verdict == UpdateVerdict::kNoVersion && finding.latestVersion.empty() &&
          !finding.downloadAddress);
    return 0;
  }
  const std::size_t versionStart = static_cast<std::size_t>(marker) + kVersionMarker.size() + 1;
  const std::string version =
      versionStart < page.size() ? page.substr(versionStart, 4) : std::string();
  Check(finding.latestVersion == version);
  const bool newer = CompareVersionTexts(version, kRunningVersion) > 0;
  Check(finding.verdict == (newer ? UpdateVerdict::kNewer : UpdateVerdict::kUpToDate));
  Check(newer || !finding.downloadAddress);
  Check(!finding.downloadAddress || finding.downloadAddress->size() < page.size());
  // The comparison is an order: antisymmetric on any two texts.
  const std::string_view other(page.data(), page.size() / 2);
  Check(CompareVersionTexts(version, other) == -CompareVersionTexts(other, version));
  return 0;
}
