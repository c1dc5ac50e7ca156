#pragma once
// The one place that opens files in the download folder for writing. The
// folder may be shared: whatever already sits at a name the download uses
// (a symbolic link planted there, another user's file, a second name of a
// file elsewhere, a pipe) is never written through; only a plain file of
// our own is taken, and a new one is made only where nothing is.

#include <filesystem>
#include <string>

#include "core/download/FileDescriptor.h"

namespace melo::download {

struct FolderFile {
  FileDescriptor fd{-1};
  std::string error;  // "PATH: why", when fd is -1
};

// Read and write: a plain file of ours already there, as it is, else a new
// one.
FolderFile OpenToResume(const std::filesystem::path& path);

// Read and write, empty: a plain file of ours already there is removed
// first.
FolderFile OpenFresh(const std::filesystem::path& path);

}  // namespace melo::download
