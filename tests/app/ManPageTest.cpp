// Each manual page lists the options its program's --help lists, for the
// program and for every command the program offers, no more and no fewer.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ProgramRun.h"

namespace {

using Options = std::set<std::string>;

struct Help {
  Options options;
  std::vector<std::string> commands;
};

// The option column of the "Options:" sections ("-h,--help", "-h, --help",
// "--site TEXT"; the window's heading comes translated) and the first words
// of the "Subcommands:" section.
Help ReadHelp(const std::string& text) {
  Help help;
  std::istringstream in(text);
  std::string section;
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string word;
    if (!line.empty() && line.front() != ' ') {
      section = line;
    } else if (section == "Subcommands:" && words >> word) {
      help.commands.push_back(word);
    } else if ((section == "Options:" || section == "选项：") && words >> word) {
      // Names up to the first that ends without a comma.
      for (bool more = word.front() == '-'; more;
           more = word.back() == ',' && words >> word && word.front() == '-') {
        std::istringstream names(word);
        for (std::string name; std::getline(names, name, ',');) {
          if (!name.empty())
            help.options.insert(name);
        }
      }
    }
  }
  return help;
}

// Options named on the tag line of each .TP item: of the page under
// "OPTIONS" (key ""), of each command under "COMMANDS" (key: its .SS name);
// and the page's sections under the key ".SH".
std::map<std::string, Options> ReadPage(const std::string& path) {
  std::map<std::string, Options> page{{"", {}}};
  std::ifstream in(path);
  std::string section, key;
  bool tagLine = false;
  const std::regex option(R"((^|[\s"])(--?[A-Za-z?][A-Za-z0-9-]*))");
  for (std::string line; std::getline(in, line);) {
    line = std::regex_replace(line, std::regex(R"(\\-)"), "-");
    if (line.starts_with(".SH ")) {
      section = line.substr(4);
      page[".SH"].insert(section);
      key.clear();
    } else if (line.starts_with(".SS ") && section == "COMMANDS") {
      key = line.substr(4);
      page[key];
    } else if (tagLine && (section == "OPTIONS" || section == "COMMANDS")) {
      for (std::sregex_iterator it(line.begin(), line.end(), option), end; it != end; ++it)
        page[key].insert((*it)[2].str());
    }
    tagLine = line == ".TP";
  }
  return page;
}

struct PageCase {
  const char* name;
  const char* program;
  const char* page;
  friend void PrintTo(const PageCase& c, std::ostream* os) { *os << c.name; }
};

class ManPageTest : public ::testing::TestWithParam<PageCase> {};

TEST_P(ManPageTest, ListsTheOptionsOfHelp) {
  const PageCase& c = GetParam();
  const auto page = ReadPage(std::string(MELO_MAN_DIR) + "/" + c.page);
  const std::string program = std::string("QT_QPA_PLATFORM=offscreen ") + c.program;
  const Help help = ReadHelp(melo::app::testing::RunProgram(program, "--help").out);
  ASSERT_FALSE(help.options.empty()) << "no options in the --help of " << c.program;
  EXPECT_EQ(page.at(""), help.options);

  // Commands the page has but this build does not offer are not compared.
  for (const std::string& command : help.commands) {
    SCOPED_TRACE(command);
    ASSERT_TRUE(page.contains(command)) << "no .SS " << command << " under COMMANDS";
    EXPECT_EQ(page.at(command),
              ReadHelp(melo::app::testing::RunProgram(program, command + " --help").out).options);
  }
  EXPECT_TRUE(page.at(".SH").contains("EXIT STATUS"));
  EXPECT_TRUE(page.at(".SH").contains("EXAMPLES"));
}

INSTANTIATE_TEST_SUITE_P(Pages, ManPageTest,
                         ::testing::Values(
#ifdef MELODRIFTDOWN_BIN
                             PageCase{"melodriftdown", MELODRIFTDOWN_BIN, "melodriftdown.1"},
#endif
                             PageCase{"melodrift", MELODRIFT_BIN, "melodrift.1"},
                             PageCase{"melodrift_site", MELODRIFT_SITE_BIN, "melodrift-site.1"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
