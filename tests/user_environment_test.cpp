// English beside Japanese, the choice between them, and where the data file is looked for.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "panel/text_catalog.h"
#include "platform/program_folder.h"
#include "sim/fault_names.h"
#include "support/update_harness.h"

namespace {

bool Ascii(const std::string& s) {
  return std::none_of(s.begin(), s.end(), [](unsigned char c) { return c >= 0x80; });
}

// The line ends a text starts and ends with, and its printf conversions in order.
std::string Shape(const std::string& text) {
  static const std::regex allButConversions("[^%]*(%[-+ #0-9.]*[a-zA-Z%])?");
  return std::to_string(text.find_first_not_of('\n')) + " " +
         std::to_string(text.size() - text.find_last_not_of('\n')) + " " +
         std::regex_replace(text, allButConversions, "$1");
}

TEST(English, EveryJapaneseTextHasAnEnglishTwinFilledTheSameWay) {
  for (const panel::CatalogEntry& e : panel::Catalog()) {
    EXPECT_TRUE(*e.japanese && *e.english && Ascii(e.english)) << e.japanese;
    // The same line ends and values, in order; the English may show more values after them
    // (the port question names both ports, which the Japanese has always left out).
    EXPECT_TRUE(Shape(e.english).starts_with(Shape(e.japanese))) << e.japanese;
  }
}

TEST(English, WholeRunsLeaveNothingInJapanese) {
  panel::SetLanguage(panel::Language::English);  // (each case runs in a process of its own)
  std::vector<sim::Config> cells(8);
  cells[0].needsOverride = cells[1].needsOverride = cells[2].needsOverride = true;
  cells[0].faults.refuseSet = 2;  // the record stays behind, and the next run names it
  cells[1].modelCode = 0xA0, cells[1].faults.leave = sim::LeaveFault::Missing;
  cells[2].faults.refuseSet = 1;
  cells[3].faults.xport = sim::XPortFault::Silent;
  cells[4].faults.identify = sim::IdentifyFault::Silent;
  cells[5].faults.identify = sim::IdentifyFault::WrongFirstByte;
  cells[6].localPort = 1;  // the port question, then a refused connection
  for (const char* fault : {"clear=silent", "single:0x290=wrong-echo", "bulk:9=wrong-echo",
                            "bulk:1855=short-echo", "version=wrong-echo"}) {
    cells.emplace_back().faults.blocks.emplace_back();
    ASSERT_TRUE(sim::ParseBlockFaultAt(fault, &cells.back().faults.blocks.back(), nullptr));
  }
  testing_support::UpdateRun run;
  for (const sim::Config& cell : cells) {
    run.Reconfigure(cell);
    run.Run({true, true});
  }
  run.dataFile = run.dir().Write("cut.HEX", ":10000000");
  run.Run();
  EXPECT_EQ(run.host.Text(ui::IDC_STATUS), "Before connecting, switch the QUIVO off and on again.");
  for (const std::string& event : run.host.Events()) EXPECT_TRUE(Ascii(event)) << event;
}

void Put(const char* name, const char* value) {
  value ? ::setenv(name, value, 1) : ::unsetenv(name);
}

std::string Cli(const std::string& args) {
  std::string out;
  if (std::FILE* p = ::popen((std::string(DERURUZUD_CLI_PATH) + " " + args).c_str(), "r")) {
    for (int c; (c = std::fgetc(p)) != EOF;) out += static_cast<char>(c);
    ::pclose(p);
  }
  return out;
}

TEST(UserEnvironment, FirstSetLocaleVariableChoosesEnglishAndLangOverridesIt) {
  const struct {
    const char *all, *messages, *lang;
    bool english;
  } cases[] = {{nullptr, nullptr, "en_US.UTF-8", true},
               {"", "en_GB", "ja_JP.UTF-8", true},
               {"C", "en_US", "en_US", false},
               {nullptr, nullptr, nullptr, false}};
  for (const auto& c : cases) {
    Put("LC_ALL", c.all), Put("LC_MESSAGES", c.messages), Put("LANG", c.lang);
    EXPECT_EQ(Cli("--help").starts_with("Usage: "), c.english) << c.lang;
    EXPECT_TRUE(Cli("--lang ja --help").starts_with("使い方: "));
    EXPECT_TRUE(Cli("--lang=en --help").starts_with("Usage: "));
  }
  EXPECT_EQ(Cli("--version"), "DERURUZUD-cli Ver1.02\n");
}

TEST(UserEnvironment, DataFileNamedElseBesideTheProgramThenInTheDataFolder) {
  testing_support::TempDir dir;
  const std::filesystem::path beside = platform::ProgramFolder() / "quivo.HEX";
  const bool besideExists = std::filesystem::exists(beside);  // the build folder may hold one
  Put("XDG_DATA_HOME", dir.path().c_str());
  const std::filesystem::path inData = dir.path() + "/DERURUZUD/quivo.HEX";
  EXPECT_EQ(image::FindDataFile("").looked, (std::vector<std::filesystem::path>{beside, inData}));
  EXPECT_EQ(image::FindDataFile("").found, besideExists);
  std::filesystem::create_directories(dir.path() + "/DERURUZUD");
  dir.Write("DERURUZUD/quivo.HEX", "");
  EXPECT_EQ(image::FindDataFile("").path, besideExists ? beside : inData);
  // A named file is the only place tried, found or not.
  const image::DataFileSearch named = image::FindDataFile(dir.path() + "/none.HEX");
  EXPECT_EQ(named.looked, std::vector<std::filesystem::path>{dir.path() + "/none.HEX"});
  EXPECT_FALSE(named.found);
}

}  // namespace
