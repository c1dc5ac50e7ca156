#pragma once
// Where the store lives and the file-level care around it: the one-writer
// lock and moving a damaged file aside.

#include <filesystem>
#include <optional>
#include <string>

namespace melo::store {

// $XDG_DATA_HOME/melodriftdown/melodriftdown.sqlite3, with
// ~/.local/share when the variable is unset or not absolute.
std::filesystem::path DefaultStorePath();

// An exclusive flock on "<store>.lock", held as long as the object lives:
// one writer per list, whichever process holds it. The kernel lets go when
// the process dies, however it dies.
class FileLock {
 public:
  enum class Result { kHeld, kHeldElsewhere, kCannotLock };
  static std::pair<Result, std::optional<FileLock>> TryLock(const std::filesystem::path& store);

  FileLock(FileLock&& other) noexcept;
  FileLock& operator=(FileLock&& other) noexcept;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock();

 private:
  explicit FileLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// Renames `store` (and its -wal and -shm companions) to
// "<store>.broken-YYYYmmdd-HHMMSS" and returns that name; empty when the
// rename failed.
std::filesystem::path MoveAside(const std::filesystem::path& store);

}  // namespace melo::store
