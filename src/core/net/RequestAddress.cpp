#include "core/net/RequestAddress.h"

#include <string_view>

#include "core/net/CurlHandles.h"
#include "core/net/PageReader.h"

namespace melo::net {
namespace {

// curl refuses control bytes, space and DEL anywhere in an address; bytes
// above 0x7F it would pass raw into the request line, which servers treat
// differently, so they are encoded too.
bool NeedsEncoding(unsigned char byte) {
  return byte <= 0x20 || byte >= 0x7F;
}

}  // namespace

std::string EncodeRequestAddress(std::string_view address) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(address.size());
  for (const char c : address) {
    const auto byte = static_cast<unsigned char>(c);
    if (NeedsEncoding(byte)) {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0x0F];
    } else {
      encoded += c;
    }
  }
  return encoded;
}

void CheckRequestAddress(const std::string& requestAddress) {
  SharedConnectionCache();  // curl_url needs curl initialised
  const UrlHandle url(curl_url());
  if (!url)
    throw InternetError("Out of memory");
  const CURLUcode rc = curl_url_set(url.get(), CURLUPART_URL, requestAddress.c_str(), 0);
  if (rc != CURLUE_OK)
    throw InternetError(curl_url_strerror(rc));
}

}  // namespace melo::net
