#include "core/download/Id3Tags.h"

#include <id3v2synchdata.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <textidentificationframe.h>
#include <urllinkframe.h>

#include <memory>
#include <vector>

#include "core/text/Gbk.h"

namespace melo::download {
namespace {

using TagLib::String;

bool IsGb2312Byte(unsigned char byte) {
  return byte >= 0xA1 && byte <= 0xFE;
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

}  // namespace

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

std::string WriteSongTags(const std::filesystem::path& file, const SongTags& tags, int version) {
  TagLib::MPEG::File mp3(file.c_str());
  if (!mp3.isValid())
    return "not audio";
  if (mp3.readOnly())
    return "cannot write tags: read-only file";
  const String::Type encoding = version == 4 ? String::UTF8 : String::UTF16;
  TagLib::ID3v2::Tag& tag = *mp3.ID3v2Tag(true);
  RepairLatin1Frames(tag, encoding);
  ReplaceText(tag, "TIT2", tags.title, encoding);
  ReplaceText(tag, "TPE1", tags.artist, encoding);
  if (!tags.pageLink.empty())
    ReplaceLink(tag, "WOAS", tags.pageLink);
  const auto id3v2 = version == 4 ? TagLib::ID3v2::v4 : TagLib::ID3v2::v3;
  if (!mp3.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, id3v2,
                TagLib::File::DoNotDuplicate))
    return "cannot write tags";
  return {};
}

}  // namespace melo::download
