#include "playback/PlaybackAddress.h"

#include "core/net/PageReader.h"

namespace melo::playback {

std::string UnquoteLink(std::string_view link) {
  if (link.starts_with('"')) {
    link.remove_prefix(1);
  }
  if (link.ends_with('"')) {
    link.remove_suffix(1);
  }
  return std::string(link);
}

std::string DeviceAddress(std::string_view address) {
  return net::EncodeMediaAddress(address);
}

}  // namespace melo::playback
