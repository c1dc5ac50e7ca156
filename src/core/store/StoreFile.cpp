#include "core/store/StoreFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <system_error>
#include <utility>

namespace melo::store {
namespace {

std::filesystem::path DataHome() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && std::filesystem::path(data).is_absolute()) {
    return data;
  }
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home != nullptr ? home : ".") / ".local" / "share";
}

std::string Stamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return text;
}

std::filesystem::path WithSuffix(const std::filesystem::path& path, const std::string& suffix) {
  return std::filesystem::path(path.string() + suffix);
}

}  // namespace

std::filesystem::path DefaultStorePath() {
  return DataHome() / "melodriftdown" / "melodriftdown.sqlite3";
}

std::pair<FileLock::Result, std::optional<FileLock>> FileLock::TryLock(
    const std::filesystem::path& store) {
  const int fd = open(WithSuffix(store, ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    return {Result::kCannotLock, std::nullopt};
  }
  FileLock lock(fd);
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    return {errno == EWOULDBLOCK ? Result::kHeldElsewhere : Result::kCannotLock, std::nullopt};
  }
  return {Result::kHeld, std::move(lock)};
}

FileLock::FileLock(FileLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) {
      close(fd_);
    }
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

FileLock::~FileLock() {
  if (fd_ >= 0) {
    close(fd_);  // lets go of the flock
  }
}

std::filesystem::path MoveAside(const std::filesystem::path& store) {
  std::filesystem::path aside = WithSuffix(store, ".broken-" + Stamp());
  for (int n = 2; std::filesystem::exists(aside); ++n) {
    aside = WithSuffix(store, ".broken-" + Stamp() + "-" + std::to_string(n));
  }
  std::error_code error;
  std::filesystem::rename(store, aside, error);
  if (error) {
    return {};
  }
  // A journal belongs with its file: left behind, it would be replayed into
  // the new store.
  for (const char* companion : {"-wal", "-journal"}) {
    std::filesystem::rename(WithSuffix(store, companion), WithSuffix(aside, companion), error);
  }
  std::filesystem::remove(WithSuffix(store, "-shm"), error);
  return aside;
}

}  // namespace melo::store
