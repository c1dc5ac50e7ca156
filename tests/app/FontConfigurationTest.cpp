// The window's own reading of the font configuration gives the fonts and
// cache folders fontconfig's own would, also where it falls back to it.

#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "Printers.h"
#include "app/gui/FontConfiguration.h"

namespace {

namespace fs = std::filesystem;

struct Reading {
  std::string cjkFile;  // what "Noto Sans CJK SC" matches
  int fonts = 0;
  bool cacheFolder = false;
};

Reading Read(FcConfig* config) {
  Reading reading;
  FcPattern* wanted = FcNameParse(reinterpret_cast<const FcChar8*>("Noto Sans CJK SC"));
  FcConfigSubstitute(config, wanted, FcMatchPattern);
  FcDefaultSubstitute(wanted);
  FcResult result = FcResultNoMatch;
  if (FcPattern* match = FcFontMatch(config, wanted, &result)) {
    FcChar8* file = nullptr;
    if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch)
      reading.cjkFile = reinterpret_cast<const char*>(file);
    FcPatternDestroy(match);
  }
  FcPatternDestroy(wanted);
  if (const FcFontSet* fonts = FcConfigGetFonts(config, FcSetSystem))
    reading.fonts = fonts->nfont;
  FcStrList* folders = FcConfigGetCacheDirs(config);
  reading.cacheFolder = FcStrListNext(folders) != nullptr;
  FcStrListDone(folders);
  return reading;
}

struct ConfigRow {
  const char* name;
  const char* configText;  // null: the desktop's fonts.conf; empty: a file that is missing
  friend void PrintTo(const ConfigRow& row, std::ostream* os) { *os << row.name; }
};

class FontConfigurationTest : public ::testing::TestWithParam<ConfigRow> {
 protected:
  void TearDown() override {
    unsetenv("FONTCONFIG_FILE");
    FcFini();
  }
};

TEST_P(FontConfigurationTest, GivesWhatFontconfigsOwnReadingGives) {
  const ConfigRow& row = GetParam();
  if (row.configText != nullptr) {
    const fs::path file = fs::path(::testing::TempDir()) / (std::string(row.name) + ".conf");
    fs::remove(file);
    if (*row.configText != '\0')
      std::ofstream(file) << row.configText;
    setenv("FONTCONFIG_FILE", file.c_str(), 1);
  }
  FcConfig* reference = FcInitLoadConfigAndFonts();
  ASSERT_NE(reference, nullptr);
  const Reading expected = Read(reference);
  FcConfigDestroy(reference);

  melo::app::LoadFontConfiguration();
  const Reading read = Read(nullptr);
  EXPECT_EQ(read.cjkFile, expected.cjkFile);
  EXPECT_EQ(read.fonts, expected.fonts);
  EXPECT_TRUE(read.cacheFolder);
  EXPECT_GT(read.fonts, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Configurations, FontConfigurationTest,
    ::testing::Values(ConfigRow{"TheDesktops", nullptr},
                      // fontconfig's built-in fallback, by way of FcInit.
                      ConfigRow{"Missing", ""},
                      // fontconfig adds a cache folder of its own, by way of FcInit.
                      ConfigRow{"WithoutCacheFolder",
                                "<fontconfig><dir>/usr/share/fonts</dir></fontconfig>"}),
    melo::printing::CaseName());

}  // namespace
