#include "core/net/RequestAddress.h"

#include <strings.h>

#include <string_view>

#include "core/net/CurlHandles.h"
#include "core/net/PageReader.h"

namespace melo::net {
namespace {

constexpr long kMaxRedirects = 20;

// curl refuses control bytes, space and DEL anywhere in an address; bytes
// above 0x7F it would pass raw into the request line, which servers treat
// differently, so they are encoded too.
bool NeedsEncoding(unsigned char byte) {
  return byte <= 0x20 || byte >= 0x7F;
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Characters RFC 3986 allows nowhere in a URI, and a % that is no escape.
bool NeverInUri(std::string_view text, std::size_t i) {
  const char c = text[i];
  if (c == '%') {
    return i + 2 >= text.size() || !IsHexDigit(text[i + 1]) || !IsHexDigit(text[i + 2]);
  }
  return std::string_view("\"<>\\^`{|}").find(c) != std::string_view::npos;
}

// Encodes the bytes NeedsEncoding names and those `alsoEncode(text, i)` picks.
template <typename AlsoEncode>
std::string PercentEncode(std::string_view address, AlsoEncode alsoEncode) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(address.size());
  for (std::size_t i = 0; i < address.size(); ++i) {
    const auto byte = static_cast<unsigned char>(address[i]);
    if (NeedsEncoding(byte) || alsoEncode(address, i)) {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0x0F];
    } else {
      encoded += address[i];
    }
  }
  return encoded;
}

bool StartsOnHttps(std::string_view address) {
  return address.size() >= 6 && strncasecmp(address.data(), "https:", 6) == 0;
}

}  // namespace

std::string EncodeRequestAddress(std::string_view address) {
  return PercentEncode(address, [](std::string_view, std::size_t) { return false; });
}

std::string EncodeUriAddress(std::string_view address) {
  return PercentEncode(address, NeverInUri);
}

std::string EncodeMediaAddress(std::string_view address) {
  return PercentEncode(address, [](std::string_view text, std::size_t i) {
    // The title is plain text: even a % followed by two hex digits is its own.
    return text[i] == '?' || text[i] == '#' || text[i] == '%' || NeverInUri(text, i);
  });
}

namespace {

// What is wrong with an encoded address, or empty.
std::string RefusalOfRequest(const std::string& requestAddress) {
  SharedNameCache();  // curl_url needs curl initialised
  const UrlHandle url(curl_url());
  if (!url)
    return curl_url_strerror(CURLUE_OUT_OF_MEMORY);  // or why libcurl is missing
  // curl takes "host:port/path" for scheme "host"; a scheme needs its "//"
  // here, which every web address has.
  if (requestAddress.find("://") == std::string::npos)
    return "not a web address: it needs the scheme http:// or https://";
  const CURLUcode rc = curl_url_set(url.get(), CURLUPART_URL, requestAddress.c_str(), 0);
  if (rc != CURLUE_OK)
    return curl_url_strerror(rc);
  char* scheme = nullptr;
  if (curl_url_get(url.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK)
    return "not a web address: it needs the scheme http:// or https://";
  const std::string name(scheme);
  curl_free(scheme);
  // curl gives the scheme in lower case.
  if (name != "http" && name != "https")
    return "scheme \"" + name + "\" is neither http nor https";
  char* host = nullptr;
  const bool hasHost = curl_url_get(url.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK &&
                       host != nullptr && host[0] != '\0';
  curl_free(host);
  if (!hasHost)
    return curl_url_strerror(CURLUE_NO_HOST);
  return {};
}

}  // namespace

std::string AddressRefusal(std::string_view address) {
  return RefusalOfRequest(EncodeRequestAddress(address));
}

void CheckRequestAddress(const std::string& requestAddress) {
  const std::string refusal = RefusalOfRequest(requestAddress);
  if (!refusal.empty())
    throw AddressRefused(refusal);
}

void SetWireRules(CURL* easy, const std::string& requestAddress) {
  const auto set = [easy](CURLoption option, auto value) {
    const CURLcode rc = curl_easy_setopt(easy, option, value);
    if (rc != CURLE_OK)
      throw InternetError(curl_easy_strerror(rc));
  };
  // Never local files, nor anything but a web server, not even through a
  // redirect; and what started encrypted stays encrypted.
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_REDIR_PROTOCOLS_STR, StartsOnHttps(requestAddress) ? "https" : "http,https");
  set(CURLOPT_FOLLOWLOCATION, 1L);
  set(CURLOPT_MAXREDIRS, kMaxRedirects);
}

std::string WireFailureText(const std::string& requestAddress, CURLcode result,
                            const char* errorText) {
  std::string text =
      errorText != nullptr && errorText[0] != '\0' ? errorText : curl_easy_strerror(result);
  if (result == CURLE_UNSUPPORTED_PROTOCOL && StartsOnHttps(requestAddress) &&
      text.find("\"http\"") != std::string::npos)
    return "refused a redirect from https to plain http";
  return text;
}

}  // namespace melo::net
