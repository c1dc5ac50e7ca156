#pragma once
// One song's bytes from its MP3 address into its ".part" file: resumed from
// what the file holds, retried after broken connections and server errors,
// stopped at once on request. A failed song's .part is removed when its
// bytes are not the song's or there are none; otherwise it stays for the
// next run.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>

#include "core/download/Download.h"

namespace melo::download {

struct PartOutcome {
  enum Kind { kComplete, kFailed, kStopped } kind = kFailed;
  std::string error;  // when failed
};

using PartProgress =
    std::function<void(std::uint64_t bytes, std::uint64_t total, double bytesPerSecond)>;

PartOutcome FetchIntoPart(const std::string& requestAddress, const std::filesystem::path& part,
                          const DownloadOptions& options, const PartProgress& progress,
                          std::stop_token stop);

}  // namespace melo::download
