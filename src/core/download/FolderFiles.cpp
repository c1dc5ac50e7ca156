#include "core/download/FolderFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace melo::download {
namespace {

constexpr int kNeverThrough = O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;
constexpr mode_t kNewFileMode = 0644;

FolderFile Refused(const std::filesystem::path& path, const std::string& why) {
  return {FileDescriptor(-1), path.string() + ": " + why};
}

// Empty when `info` is a file the download may write to.
std::string WhyNotOurs(const struct stat& info) {
  if (S_ISLNK(info.st_mode))
    return "a symbolic link, not written through";
  if (!S_ISREG(info.st_mode))
    return "not a regular file";
  if (info.st_uid != geteuid())
    return "owned by another user";
  if (info.st_nlink != 1)
    return "has other names (hard links), not written through";
  return {};
}

FolderFile CreateNew(const std::filesystem::path& path) {
  FileDescriptor fd(open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | kNeverThrough, kNewFileMode));
  if (fd.get() < 0) {
    // O_EXCL refuses a dangling link as well.
    struct stat info {};
    if (errno == EEXIST && lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
      return Refused(path, WhyNotOurs(info));
    return Refused(path, std::strerror(errno));
  }
  return {std::move(fd), {}};
}

}  // namespace

FolderFile OpenToResume(const std::filesystem::path& path) {
  // Non-blocking: opening a pipe planted at the name must not hang.
  FileDescriptor fd(open(path.c_str(), O_RDWR | O_NONBLOCK | kNeverThrough));
  if (fd.get() < 0) {
    if (errno == ENOENT)
      return CreateNew(path);
    struct stat info {};
    if (errno == ELOOP && lstat(path.c_str(), &info) == 0)
      return Refused(path, WhyNotOurs(info));
    return Refused(path, std::strerror(errno));
  }
  struct stat info {};
  if (fstat(fd.get(), &info) != 0)
    return Refused(path, std::strerror(errno));
  if (const std::string why = WhyNotOurs(info); !why.empty())
    return Refused(path, why);
  fcntl(fd.get(), F_SETFL, fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  return {std::move(fd), {}};
}

FolderFile OpenFresh(const std::filesystem::path& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0) {
    if (const std::string why = WhyNotOurs(info); !why.empty())
      return Refused(path, why);
    if (unlink(path.c_str()) != 0 && errno != ENOENT)
      return Refused(path, std::strerror(errno));
  }
  return CreateNew(path);
}

}  // namespace melo::download
