#pragma once
// How a scraping run tells its progress. The window, the command line and
// the tests each implement it; the runners are the same for all three.
// Texts are GBK, like the pages they are cut from.

#include <string>

#include "core/scrape/SongRecord.h"

namespace melo::scrape {

class RunReporter {
 public:
  virtual ~RunReporter() = default;

  // Replaces the status line as a whole.
  virtual void Status(const std::string& text) = 0;
  // Appends one song as the new last row of the song list.
  virtual void SongRow(const SongRecord& record) = 0;
  // Appends one singer as the new last row of the singer list.
  virtual void SingerRow(const SingerRecord& /*record*/) {}
  // Songs handled so far of the songs the list page or search named.
  virtual void Progress(int /*done*/, int /*found*/) {}
  // Why a run that went to its end still did not get what was asked for
  // (the page answered "HTTP 404"). Comes after the last status, right
  // before Finished(); the status it follows stays as it is.
  virtual void Failure(const std::string& /*reason*/) {}
  // The run has ended by itself (not by a stop); its last status is out.
  virtual void Finished() {}
};

}  // namespace melo::scrape
