#include "core/store/StoreOpening.h"

#include <utility>

namespace melo::store {
namespace {

// Songs the opening thread reads ahead of the window: a few hundred
// kilobytes, enough that neither thread waits on the other for long.
constexpr std::size_t kBatchSongs = 2048;

}  // namespace

StoreOpening::StoreOpening(std::filesystem::path file)
    : thread_([this, file = std::move(file)] { Open(file); }) {}

StoreOpening::~StoreOpening() {
  {
    const std::scoped_lock lock(mutex_);
    abandoned_ = true;
  }
  changed_.notify_all();
}

void StoreOpening::Open(const std::filesystem::path& file) {
  OpenedStore opened;
  std::exception_ptr failure;
  try {
    opened = OpenListStore(file, [this](scrape::SongRecord&& song) { Take(std::move(song)); });
  } catch (...) {
    failure = std::current_exception();
  }
  {
    const std::scoped_lock lock(mutex_);
    opened_ = std::move(opened);
    failure_ = failure;
    done_ = true;
  }
  changed_.notify_all();
}

void StoreOpening::Take(scrape::SongRecord&& song) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return batch_.size() < kBatchSongs || abandoned_; });
  if (abandoned_) {
    return;  // nobody shows it any more
  }
  batch_.push_back(std::move(song));
  if (batch_.size() == kBatchSongs) {
    changed_.notify_all();
  }
}

OpenedStore StoreOpening::Finish(const SongSink& sink) {
  std::vector<scrape::SongRecord> taken;
  for (;;) {
    bool last = false;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return batch_.size() >= kBatchSongs || done_; });
      taken.swap(batch_);
      last = done_;
    }
    changed_.notify_all();
    for (scrape::SongRecord& song : taken) {
      sink(std::move(song));
    }
    taken.clear();
    if (last) {
      break;
    }
  }
  thread_.join();
  if (failure_) {
    std::rethrow_exception(failure_);
  }
  return std::move(opened_);
}

}  // namespace melo::store
