#include "core/download/TagWriter.h"

#include <fcntl.h>
#include <id3v2synchdata.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <sys/stat.h>
#include <textidentificationframe.h>
#include <unistd.h>
#include <urllinkframe.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <type_traits>
#include <vector>

#include "core/download/FileDescriptor.h"
#include "core/download/FolderFiles.h"
#include "core/module/LoadedModule.h"
#include "core/text/Gbk.h"

namespace melo::download {
namespace {

namespace fs = std::filesystem;
using TagLib::String;

constexpr std::uint64_t kId3v1Bytes = 128;

// The new tag and where the audio sits in the downloaded file.
struct PlacePlan {
  TagLib::ByteVector tag;
  std::uint64_t audioStart;
  std::uint64_t audioBytes;
  bool inPlace = false;  // the tag fills the room; the audio stays where it is
};

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t put = write(fd, data, size);
    if (put < 0 && errno == EINTR)
      continue;
    if (put <= 0)
      return false;
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

// Copies `bytes` from `from` (at its offset) to the end of `to`, in the
// kernel where it can.
bool CopyRange(int from, std::uint64_t start, int to, std::uint64_t bytes) {
  auto offset = static_cast<off_t>(start);
  while (bytes > 0) {
    const ssize_t copied = copy_file_range(from, &offset, to, nullptr, bytes, 0);
    if (copied > 0) {
      bytes -= static_cast<std::uint64_t>(copied);
      continue;
    }
    if (copied < 0 && errno == EINTR)
      continue;
    if (copied == 0 ||
        (errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL))
      return false;
    // No kernel copy between these two: through a buffer.
    std::vector<char> buffer(std::size_t{1} << 17);
    while (bytes > 0) {
      const ssize_t got =
          pread(from, buffer.data(), std::min<std::uint64_t>(bytes, buffer.size()), offset);
      if (got < 0 && errno == EINTR)
        continue;
      if (got <= 0 || !WriteAll(to, buffer.data(), static_cast<std::size_t>(got)))
        return false;
      offset += got;
      bytes -= static_cast<std::uint64_t>(got);
    }
  }
  return true;
}

// A file removed when it goes out of scope, unless kept.
struct RemovedUnlessKept {
  fs::path path;  // empty: nothing to remove
  bool keep = false;
  ~RemovedUnlessKept() {
    if (!keep && !path.empty())
      unlink(path.c_str());
  }
};

// The file the tagged copy is written to: one without a name where the file
// system has those; else (vfat, exFAT, NFS) `named`, which `removed` then
// holds.
FolderFile OpenCopy(const fs::path& folder, const fs::path& named, RemovedUnlessKept& removed) {
  FileDescriptor fd(open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644));
  if (fd.get() >= 0)
    return {std::move(fd), {}};
  if (errno != EOPNOTSUPP && errno != EISDIR)
    return {std::move(fd), folder.string() + ": " + std::strerror(errno)};
  FolderFile copy = OpenFresh(named);
  if (copy.fd.get() >= 0)
    removed.path = named;
  return copy;
}

// Writes the new tag and then the audio into a file without a name (or one
// of its own), which gets the target's name only once it is whole.
// Inserting the tag in front of the download instead would move every byte
// of the song through a small buffer a second time.
std::string WriteTaggedCopy(const fs::path& part, const fs::path& target, const PlacePlan& plan) {
  const FileDescriptor source(open(part.c_str(), O_RDONLY | O_CLOEXEC));
  const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  // "NAME.mp3.tmp" fits wherever "NAME.mp3.part" does.
  RemovedUnlessKept named;
  const FolderFile opened = OpenCopy(folder, fs::path(part).replace_extension(".tmp"), named);
  const FileDescriptor& copy = opened.fd;
  if (copy.get() < 0)
    return opened.error;
  struct stat partStat {};
  if (source.get() < 0 || fstat(source.get(), &partStat) != 0)
    return std::strerror(errno);
  // The song gets the permissions the download was created with.
  fchmod(copy.get(), partStat.st_mode & 07777);
  if (!WriteAll(copy.get(), plan.tag.data(), plan.tag.size()) ||
      !CopyRange(source.get(), plan.audioStart, copy.get(), plan.audioBytes))
    return std::strerror(errno);
  if (!named.path.empty()) {
    if (rename(named.path.c_str(), target.c_str()) != 0)
      return std::strerror(errno);
    named.keep = true;
    return {};
  }
  const std::string self = "/proc/self/fd/" + std::to_string(copy.get());
  if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) != 0) {
    if (errno != EEXIST || unlink(target.c_str()) != 0 ||
        linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) != 0)
      return std::strerror(errno);
  }
  return {};
}

// Whether an MPEG audio frame starts at or after `offset`, inside the file.
bool HoldsAudioFrom(TagLib::MPEG::File& mp3, std::uint64_t offset) {
  const auto length = static_cast<std::uint64_t>(mp3.length());
  return offset < length && mp3.nextFrameOffset(static_cast<long>(offset)) >= 0;
}

// Players of that era wrote the page's GBK bytes into frames marked
// Latin-1; shown as Latin-1 they are mojibake.
void RepairLatin1Frames(TagLib::ID3v2::Tag& tag, String::Type encoding) {
  for (TagLib::ID3v2::Frame* frame : tag.frameList()) {
    auto* text = dynamic_cast<TagLib::ID3v2::TextIdentificationFrame*>(frame);
    if (text == nullptr || text->textEncoding() != String::Latin1)
      continue;
    TagLib::StringList fields = text->fieldList();
    bool gbk = false;
    for (const String& field : fields)
      gbk = gbk || LooksLikeGbk(field.to8Bit(false));
    if (!gbk)
      continue;
    TagLib::StringList repaired;
    for (const String& field : fields)
      repaired.append(String(text::GbkToUtf8(field.to8Bit(false)), String::UTF8));
    text->setTextEncoding(encoding);
    text->setText(repaired);
  }
}

void ReplaceText(TagLib::ID3v2::Tag& tag, const char* id, const std::string& value,
                 String::Type encoding) {
  tag.removeFrames(id);
  auto frame = std::make_unique<TagLib::ID3v2::TextIdentificationFrame>(id, encoding);
  frame->setText(String(value, String::UTF8));
  tag.addFrame(frame.release());  // the tag owns its frames
}

void ReplaceLink(TagLib::ID3v2::Tag& tag, const char* id, const std::string& link) {
  tag.removeFrames(id);
  // TagLib builds a URL frame only from frame bytes: a one-byte placeholder.
  TagLib::ByteVector bytes(id);
  bytes.append(TagLib::ID3v2::SynchData::fromUInt(1));
  bytes.append(TagLib::ByteVector(2, '\0'));
  bytes.append('x');
  auto frame = std::make_unique<TagLib::ID3v2::UrlLinkFrame>(bytes);
  frame->setUrl(String(link, String::UTF8));
  tag.addFrame(frame.release());
}

void EditTags(TagLib::ID3v2::Tag& tag, const SongTags& tags, int version) {
  const String::Type encoding = version == 4 ? String::UTF8 : String::UTF16;
  RepairLatin1Frames(tag, encoding);
  ReplaceText(tag, "TIT2", tags.title, encoding);
  ReplaceText(tag, "TPE1", tags.artist, encoding);
  if (!tags.pageLink.empty())
    ReplaceLink(tag, "WOAS", tags.pageLink);
}

std::string Place(const fs::path& part, const fs::path& target, const SongTags& tags, int version) {
  const auto id3v2 = version == 4 ? TagLib::ID3v2::v4 : TagLib::ID3v2::v3;
  const std::uint64_t audioStart = HoldsTagRoom(part) ? kTagRoomBytes : 0;
  std::optional<PlacePlan> plan;
  {
    TagLib::MPEG::File mp3(part.c_str());
    if (!mp3.isValid())
      return "not audio";
    // The song's own tag, right after the room or at the start.
    const bool ownTag = HoldsAt(part, audioStart, "ID3");
    std::unique_ptr<TagLib::ID3v2::Tag> ownTagAfterRoom;
    if (ownTag && audioStart > 0)
      ownTagAfterRoom = std::make_unique<TagLib::ID3v2::Tag>(&mp3, static_cast<long>(audioStart));
    TagLib::ID3v2::Tag& tag = ownTagAfterRoom ? *ownTagAfterRoom : *mp3.ID3v2Tag(true);
    const std::uint64_t ownTagBytes = ownTag ? tag.header()->completeTagSize() : 0;
    // A tag that claims more than the file holds, or nothing but a tag,
    // would leave a song of no audio at all.
    if (!HoldsAudioFrom(mp3, audioStart + ownTagBytes))
      return "not audio";
    const bool tagAtEnd = mp3.hasID3v1Tag() || mp3.hasAPETag();
    EditTags(tag, tags, version);
    TagLib::ByteVector rendered = tag.render(id3v2);

    if (audioStart > 0 && !ownTag && !tagAtEnd && rendered.size() <= kTagRoomBytes) {
      // The common case: the tag goes into the room, not a byte moves.
      rendered.resize(static_cast<unsigned>(kTagRoomBytes), '\0');
      const std::string header = TagHeader(kTagRoomBytes);
      std::copy(header.begin() + 6, header.end(), rendered.begin() + 6);  // the size
      plan = PlacePlan{rendered, 0, 0, true};
    } else if (!mp3.hasAPETag() && (ownTag || !mp3.hasID3v2Tag() || audioStart > 0)) {
      const auto length = static_cast<std::uint64_t>(mp3.length());
      const std::uint64_t start = audioStart + ownTagBytes;
      const std::uint64_t end = length - (mp3.hasID3v1Tag() ? kId3v1Bytes : 0);
      plan = PlacePlan{rendered, start, end > start ? end - start : 0};
    }
  }
  std::error_code error;
  if (plan && plan->inPlace) {
    const FileDescriptor fd(open(part.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0 || pwrite(fd.get(), plan->tag.data(), plan->tag.size(), 0) !=
                            static_cast<ssize_t>(plan->tag.size()))
      return std::strerror(errno);
  } else if (plan) {
    const std::string failure = WriteTaggedCopy(part, target, *plan);
    if (failure.empty())
      fs::remove(part, error);
    return failure;
  }
  if (!plan) {
    TagLib::MPEG::File mp3(part.c_str());
    EditTags(*mp3.ID3v2Tag(true), tags, version);
    if (!mp3.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, id3v2,
                  TagLib::File::DoNotDuplicate))
      return "cannot write tags";
  }
  fs::rename(part, target, error);
  return error ? error.message() : std::string();
}

}  // namespace
}  // namespace melo::download

MELO_MODULE_VERSION_DEFINITION;

extern "C" MELO_MODULE_EXPORT void melo_place_tagged(const std::filesystem::path& part,
                                                     const std::filesystem::path& target,
                                                     const melo::download::SongTags& tags,
                                                     int version, std::string& failure) {
  failure = melo::download::Place(part, target, tags, version);
}
static_assert(std::is_same_v<decltype(melo_place_tagged), melo::download::PlaceTaggedEntry>);
