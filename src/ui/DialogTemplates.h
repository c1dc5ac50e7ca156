#pragma once
// The two dialog templates as data: every control with its id, kind, text
// and place in dialog units. One dialog unit is 1.5 pixels on both axes (the
// 9-point font's base units are 6 x 12 pixels).

#include <QRect>
#include <span>

namespace melo::ui {

inline constexpr int kNoId = -1;

enum class ControlKind {
  kPushButton,
  kLabel,
  kLabelRight,
  kLink,        // a label that opens an address (LinkLabel)
  kEdit,        // bordered line edit
  kStatusEdit,  // borderless, read-only line edit
  kListView,
  kTrackbar,
  kGroupBox,
  kRadio,
  kIcon,
};

// Control states the templates set.
enum ControlFlag : unsigned {
  kNone = 0,
  kDefault = 1u << 0,  // the dialog's default button: Enter presses it
  kHidden = 1u << 1,
  kSunken = 1u << 2,
  kMultiSelect = 1u << 3,  // list views: several rows may be selected
  kNoPrefix = 1u << 4,
};

struct ColumnTemplate {
  const char* heading;  // UTF-8
  int widthPx;          // 0: hidden, yet the column holds its texts
  bool centred;
};

struct ControlTemplate {
  int id;
  ControlKind kind;
  // UTF-8. {SiteBase}, {SiteAddress}, {HomePageUrl}, {Author} and {Mail}
  // are filled in when the dialog is built.
  const char* text;
  int x, y, w, h;  // dialog units
  unsigned flags = kNone;
  std::span<const ColumnTemplate> columns = {};
};

struct DialogTemplate {
  const char* caption;
  int width, height;  // dialog units
  std::span<const ControlTemplate> controls;
};

// Dialog 102: the main window, 25 controls.
const DialogTemplate& MainDialogTemplate();
// Dialog 100: the About box, 11 controls.
const DialogTemplate& AboutDialogTemplate();

constexpr int DialogUnitsToPixels(int units) {
  return (units * 3 + 1) / 2;
}

inline QRect PixelRect(const ControlTemplate& control) {
  return {DialogUnitsToPixels(control.x), DialogUnitsToPixels(control.y),
          DialogUnitsToPixels(control.w), DialogUnitsToPixels(control.h)};
}

// Client sizes of the main window: search panel hidden and shown.
inline constexpr int kNarrowClientWidth = 520;
inline constexpr int kWideClientWidth = 770;
inline constexpr int kClientHeight = 510;
// Pixels between controls the window places beside one another itself.
inline constexpr int kControlGap = 3;

}  // namespace melo::ui
