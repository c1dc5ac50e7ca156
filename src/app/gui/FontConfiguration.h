#pragma once
// The desktop's font configuration, read for the window's first text.

namespace melo::app {

// Reads the desktop's font configuration and makes it fontconfig's current
// one, as the toolkit's first text would through FcInit, but without what
// FcInit adds for fc-conflist: it also parses every template in conf.avail,
// enabled or not, only to describe them, a third of its time. Where
// fonts.conf cannot be read or names no cache folder, FcInit itself runs, so
// that fontconfig's own fallbacks apply.
void LoadFontConfiguration();

}  // namespace melo::app
