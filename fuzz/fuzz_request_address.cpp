// The address encodings on any bytes: the request address keeps no byte curl
// refuses and decodes to what the address itself decodes to; the media
// address decodes back to its bytes exactly and holds nothing a URI may not.

#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "core/net/PageReader.h"
#include "core/net/RequestAddress.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

// Every % followed by two hex digits becomes its byte; anything else stays.
std::string PercentDecode(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

bool OnlyPrintableAscii(std::string_view s) {
  for (const char c : s) {
    if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F)
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using melo::fuzzing::Check;
  const std::string_view address(reinterpret_cast<const char*>(data), size);

  const std::string request = melo::net::EncodeRequestAddress(address);
  Check(OnlyPrintableAscii(request));
  Check(PercentDecode(request) == PercentDecode(address));
  // curl takes it as the path of an address.
  try {
    melo::net::CheckRequestAddress("http://127.0.0.1/" + request);
  } catch (const melo::net::InternetError&) {
    Check(false);
  }

  const std::string uri = melo::net::EncodeUriAddress(address);
  Check(OnlyPrintableAscii(uri) && uri.find_first_of("\"<>\\^`{|}") == std::string::npos);
  Check(PercentDecode(uri) == PercentDecode(address));

  const std::string media = melo::net::EncodeMediaAddress(address);
  Check(OnlyPrintableAscii(media) && media.find_first_of("\"<>\\^`{|}?#") == std::string::npos);
  Check(PercentDecode(media) == address);
  return 0;
}
