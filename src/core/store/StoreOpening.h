#pragma once
// Opens the store on a thread of its own, so that a window can build itself
// meanwhile, and hands the songs read to the window's thread in batches: a
// long list is never held twice, and the opening thread waits while a batch
// is full.

#include <condition_variable>
#include <exception>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "core/store/ListStore.h"

namespace melo::store {

class StoreOpening {
 public:
  explicit StoreOpening(std::filesystem::path file);
  // Unblocks and ends an opening whose songs nobody takes.
  ~StoreOpening();

  StoreOpening(const StoreOpening&) = delete;
  StoreOpening& operator=(const StoreOpening&) = delete;

  // Hands every song to `sink` on the calling thread, in list order, and then
  // what OpenListStore found. Once only.
  OpenedStore Finish(const SongSink& sink);

 private:
  void Open(const std::filesystem::path& file);
  void Take(scrape::SongRecord&& song);  // on the opening thread

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<scrape::SongRecord> batch_;
  bool done_ = false;
  bool abandoned_ = false;
  OpenedStore opened_;
  std::exception_ptr failure_;
  std::jthread thread_;  // last: it starts once everything above exists
};

}  // namespace melo::store
