#include "ui/ShellOpen.h"

#include <QDesktopServices>

#include "core/net/PageReader.h"

namespace melo::ui {
namespace {

// A quoted name ends at its closing quote; an unquoted one is taken whole.
std::string Unquoted(const std::string& address) {
  if (address.empty() || address.front() != '"') {
    return address;
  }
  const std::size_t close = address.find('"', 1);
  return address.substr(1, close == std::string::npos ? std::string::npos : close - 1);
}

}  // namespace

std::optional<QUrl> ShellUrlFor(const std::string& gbkAddress, ShellAddress kind) {
  const std::string address = Unquoted(gbkAddress);
  const std::string encoded = kind == ShellAddress::kMedia ? net::EncodeMediaAddress(address)
                                                           : net::EncodeUriAddress(address);
  const QUrl url = QUrl::fromEncoded(QByteArray::fromStdString(encoded), QUrl::StrictMode);
  const QString scheme = url.scheme().toLower();
  if (!url.isValid() || url.host().isEmpty() ||
      (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
    return std::nullopt;
  }
  return url;
}

void OpenWithShell(const std::string& gbkAddress, ShellAddress kind) {
  if (const std::optional<QUrl> url = ShellUrlFor(gbkAddress, kind)) {
    QDesktopServices::openUrl(*url);
  }
}

}  // namespace melo::ui
