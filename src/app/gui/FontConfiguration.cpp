#include "app/gui/FontConfiguration.h"

#include <fontconfig/fontconfig.h>

namespace melo::app {
namespace {

bool NamesACacheFolder(FcConfig* config) {
  FcStrList* folders = FcConfigGetCacheDirs(config);
  const bool any = folders != nullptr && FcStrListNext(folders) != nullptr;
  FcStrListDone(folders);
  return any;
}

}  // namespace

void LoadFontConfiguration() {
  FcConfig* config = FcConfigCreate();
  // A null name is fonts.conf, or FONTCONFIG_FILE when it is set.
  const bool loaded = config != nullptr && FcConfigParseAndLoad(config, nullptr, FcTrue) &&
                      NamesACacheFolder(config) && FcConfigSetCurrent(config);
  if (config != nullptr)
    FcConfigDestroy(config);  // the current one holds a reference of its own
  if (!loaded)
    FcInit();
}

}  // namespace melo::app
