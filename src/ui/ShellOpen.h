#pragma once
// The one hand-off of an address to the desktop (the browser or a download
// manager, through xdg-open). Tests catch what it hands over with
// QDesktopServices::setUrlHandler.

#include <QUrl>
#include <optional>
#include <string>

namespace melo::ui {

// What the address names: a page (kept as a URL, query included) or a song's
// MP3 (whose title may hold ?, # and %, which are encoded).
enum class ShellAddress { kPage, kMedia };

// The address as the desktop gets it: enclosing double quotes stripped (as
// a shell takes a quoted file name), the bytes a URL may not hold (GBK
// titles, spaces) percent-encoded. Nothing for anything but an absolute
// http or https address.
std::optional<QUrl> ShellUrlFor(const std::string& gbkAddress,
                                ShellAddress kind = ShellAddress::kPage);

// Opens the address; an address that cannot be opened is dropped silently,
// and so is whatever the desktop makes of it.
void OpenWithShell(const std::string& gbkAddress, ShellAddress kind = ShellAddress::kPage);

}  // namespace melo::ui
