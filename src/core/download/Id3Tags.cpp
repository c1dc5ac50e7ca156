#include "core/download/Id3Tags.h"

#include <fcntl.h>
#include <unistd.h>

#include "core/download/FileDescriptor.h"
#include "core/download/TagWriter.h"

namespace melo::download {
namespace {

namespace fs = std::filesystem;

bool IsGb2312Byte(unsigned char byte) {
  return byte >= 0xA1 && byte <= 0xFE;
}

}  // namespace

bool HoldsAt(const fs::path& file, std::uint64_t offset, std::string_view bytes) {
  const FileDescriptor fd(open(file.c_str(), O_RDONLY | O_CLOEXEC));
  std::string found(bytes.size(), '\0');
  return fd.get() >= 0 &&
         pread(fd.get(), found.data(), found.size(), static_cast<off_t>(offset)) ==
             static_cast<ssize_t>(found.size()) &&
         found == bytes;
}

std::string TagHeader(std::uint64_t bytes) {
  // The size after the header, seven bits to a byte ("synchsafe").
  const auto size = static_cast<std::uint32_t>(bytes - 10);
  std::string header("ID3\x03\0\0", 6);
  for (const int shift : {21, 14, 7, 0})
    header += static_cast<char>((size >> shift) & 0x7F);
  return header;
}

bool LooksLikeGbk(std::string_view latin1) {
  bool any = false;
  for (std::size_t i = 0; i < latin1.size(); ++i) {
    const auto byte = static_cast<unsigned char>(latin1[i]);
    if (byte < 0x80)
      continue;
    if (i + 1 >= latin1.size() || !IsGb2312Byte(byte) ||
        !IsGb2312Byte(static_cast<unsigned char>(latin1[i + 1])))
      return false;
    any = true;
    ++i;
  }
  return any;
}

std::string TagRoom() {
  std::string room = TagHeader(kTagRoomBytes);
  room.resize(kTagRoomBytes, '\0');  // padding, which every reader skips
  return room;
}

bool HoldsTagRoom(const fs::path& part) {
  return HoldsAt(part, 0, TagHeader(kTagRoomBytes));
}

}  // namespace melo::download
