// DERURUZUD-cli: the update with a console panel, for scripts, CI and headless hosts.
//
// Exit status: 0 when the update succeeded, 1 when it failed or the data file could not be
// read, 2 for a usage error.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "panel/panel_texts.h"
#include "panel/text_catalog.h"
#include "platform/clock.h"
#include "platform/program_folder.h"
#include "platform/terminal.h"
#include "platform/user_environment.h"
#include "ui/console/console_host.h"
#include "ui/console/discover_command.h"
#include "update/update_procedure.h"

namespace {

using panel::Text;
using panel::TextId;

// CLI11's own words in the help, in the catalog's language.
void SpeakCatalogLanguage(CLI::App& app) {
  app.get_formatter()->label("Usage", Text(TextId::HelpUsageLabel));
  app.get_formatter()->label("OPTIONS", Text(TextId::HelpOptionsLabel));
  app.option_defaults()->group(Text(TextId::HelpOptionsLabel));
  app.set_help_flag("-h,--help", Text(TextId::HelpHelp));
}

std::string Format(TextId format, const std::string& value) {
  char text[1024];
  std::snprintf(text, sizeof text, Text(format), value.c_str());
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  platform::UseUtf8Console();  // --help may already be Japanese
  panel::SetLanguage(panel::ChooseLanguage(panel::FindLangOption(argc, argv)));

  CLI::App app{Text(TextId::HelpCliDescription), "DERURUZUD-cli"};
  SpeakCatalogLanguage(app);
  std::string address;
  std::string port = panel::kDefaultPortText;
  std::string dataFile;
  std::string restoreFile;
  std::string lang;
  bool yes = false;
  app.add_option("--address", address, Text(TextId::HelpAddress))->type_name("ADDR");
  app.add_option("--port", port, Text(TextId::HelpPort))->type_name("PORT")->capture_default_str();
  app.add_flag("--yes", yes, Text(TextId::HelpYes));
  app.add_option("--data-file", dataFile, Text(TextId::HelpDataFile))->type_name("FILE");
  app.add_option("--restore-xport", restoreFile, Text(TextId::HelpRestoreXPort))->type_name("FILE");
  app.add_option("--lang", lang, Text(TextId::HelpLang))
      ->type_name("LANG")
      ->check(CLI::IsMember({"en", "ja"}));
  app.set_version_flag("--version", panel::VersionText("DERURUZUD-cli"), Text(TextId::HelpVersion));
  app.footer(Format(TextId::HelpCliFooter, platform::UserDataFolderHint()));
  const ui::DiscoverCommand discover(app);
  // UTF-8 on every platform, so that a path such as C:\田中\quivo.HEX survives.
  const std::vector<std::string> args = platform::CommandLineArgs(argc, argv);
  std::vector<const char*> argp;
  for (const std::string& a : args) argp.push_back(a.c_str());
  try {
    app.parse(static_cast<int>(argp.size()), argp.data());
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }

  if (discover.requested()) return discover.Run(stdout, stderr);
  ui::ConsoleOptions options;
  options.answerYes = yes;
  options.interactive = platform::StdinIsTerminal();
  options.drawInPlace = platform::StdoutIsTerminal();
  ui::ConsoleHost host(stdin, stdout, options);

  // Like the dialog's edit boxes: without an address on a terminal, ask for both.
  if (address.empty() && options.interactive && restoreFile.empty()) {
    std::printf("%s: ", Text(TextId::AddressLabel));
    std::fflush(stdout);
    host.ReadLine(&address);
    std::printf("%s [%s]: ", Text(TextId::PortLabel), port.c_str());
    std::fflush(stdout);
    std::string typed;
    if (host.ReadLine(&typed) && !typed.empty()) port = typed;
  }
  host.Prefill(panel::IDC_ADDRESS, ui::LimitChars(address, ui::kAddressBoxChars));
  host.Prefill(panel::IDC_PORT, port);

  update::UpdateSession session(host, platform::RealSleeper());
  if (!restoreFile.empty()) {
    return update::RestoreSavedRecord(session, platform::PathFromUtf8(restoreFile)) == 1 ? 0 : 1;
  }

  platform::LowerTimerSlack();
  const update::JobOutcome outcome = update::UpdateJob(session, platform::PathFromUtf8(dataFile));
  if (!outcome.dataFileLookedIn.empty()) {
    std::printf("%s\n", Text(TextId::DataFileLookedIn));
    for (const std::filesystem::path& place : outcome.dataFileLookedIn) {
      std::printf("  %s\n", platform::PathToUtf8(place).c_str());
    }
  }
  return outcome.dataFileRead && outcome.result == 1 ? 0 : 1;
}
