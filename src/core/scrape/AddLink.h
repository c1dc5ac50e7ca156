#pragma once
// The single-link add: one typed song page address to one row.

#include <stop_token>
#include <string>

#include "core/scrape/RunReporter.h"

namespace melo::scrape {

// Parses `address` (GBK, exactly as typed) and reports "解析成功:" + title
// and the row, or the address followed by "解析失败"; then Finished().
void RunAddLink(const std::string& address, RunReporter& reporter, std::stop_token stop = {});

}  // namespace melo::scrape
