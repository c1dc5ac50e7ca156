#pragma once
// An owned POSIX file descriptor: the download writes through these rather
// than streams, for pread/pwrite, ftruncate and O_TMPFILE.

#include <unistd.h>

#include <utility>

namespace melo::download {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0)
      close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0)
        close(fd_);
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int get() const { return fd_; }
  // Hands the descriptor over: this one owns none after.
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

}  // namespace melo::download
