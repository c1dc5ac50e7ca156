#pragma once
// An owned POSIX file descriptor: the download writes through these rather
// than streams, for pread/pwrite, ftruncate and O_TMPFILE.

#include <unistd.h>

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
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace melo::download
