# `cpack -G DEB` in a build tree (or `cpack --preset release`): one package
# with the three programs, the menu entry, the icons, AppStream and the manual.
set(CPACK_PACKAGE_NAME melodriftdown)
set(CPACK_PACKAGE_VENDOR "The MeloDriftDown developers")
set(CPACK_PACKAGE_CONTACT "The MeloDriftDown developers <melodriftdown@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "list, play and save the songs of a music-sharing site")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "MeloDriftDown reads the song pages, charts, singer pages and search of one music-sharing\n"
    "site, cuts the singer, title and real MP3 address out of each page and lists the songs.\n"
    "It plays them, hands them to a browser or download manager and answers the desktop's\n"
    "media keys. melodrift offers the same on the command line.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://github.com/melodriftdown/MeloDriftDown")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # melodriftdown_VERSION_ARCH.deb
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so shlibdeps cannot see them: libcurl (by the first
# transfer, see src/core/net/CurlLibrary.cpp; 7.87 for CURLOPT_QUICK_EXIT), playbin (base), MP3, HTTP and
# the sound server's sink (good).
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libcurl4 (>= 7.87), gstreamer1.0-plugins-base, gstreamer1.0-plugins-good")
# The 9-point CJK font the window is laid out for, and Qt on Wayland.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "playerctl")

set(CPACK_GENERATOR DEB)
include(CPack)
