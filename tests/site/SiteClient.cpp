#include "SiteClient.h"

#include <cctype>

namespace melo::bundled::testing {

std::string Reply::Header(const std::string& name) const {
  auto it = headers.find(name);
  return it == headers.end() ? std::string() : it->second;
}

SiteClient::SiteClient(const BundledSite& site)
    : host_(site.Host()), client_("127.0.0.1", site.Port()) {
  client_.set_keep_alive(true);
  client_.set_url_encode(false);
}

Reply SiteClient::Get(std::string_view target, const httplib::Headers& headers,
                      std::string_view host) {
  auto all = headers;
  all.emplace("Host", host.empty() ? host_ : std::string(host));
  auto result = client_.Get(std::string(target), all);
  if (!result)
    return {};
  return {result->status, result->body, result->headers};
}

Reply SiteClient::Head(std::string_view target) {
  auto result = client_.Head(std::string(target), {{"Host", host_}});
  if (!result)
    return {};
  return {result->status, result->body, result->headers};
}

void SiteClient::SetReadTimeoutMs(int ms) {
  client_.set_read_timeout(0, ms * 1000);
}

std::vector<std::string> Lines(std::string_view page) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : page) {
    if (c == '\r')
      continue;
    if (c == '\n') {
      lines.push_back(std::move(line));
      line.clear();
    } else {
      line.push_back(c);
    }
  }
  if (!line.empty())
    lines.push_back(std::move(line));
  return lines;
}

std::string TextAfterFirstLine(std::string_view page) {
  const auto lines = Lines(page);
  std::string text;
  for (size_t i = 1; i < lines.size(); ++i)
    text += lines[i];
  return text;
}

std::string PercentEncode(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (std::isalnum(b) || b == '-' || b == '_' || b == '.' || b == '~' || b == '/') {
      out.push_back(c);
    } else {
      out += {'%', kHex[b >> 4], kHex[b & 15]};
    }
  }
  return out;
}

}  // namespace melo::bundled::testing
