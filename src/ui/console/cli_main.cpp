// DERURUZUD-cli: the update with a console panel, for scripts, CI and headless hosts.
//
// Exit status: 0 when the update succeeded, 1 when it failed or the data file could not be
// read, 2 for a usage error.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/clock.h"
#include "platform/terminal.h"
#include "ui/console/console_host.h"
#include "ui/console/discover_command.h"
#include "update/update_procedure.h"

int main(int argc, char** argv) {
  CLI::App app{"DERURUZUD-cli: rewrites a device's firmware through its XPort"};
  std::string address;
  std::string port = "10003";
  std::string dataFile;
  std::string restoreFile;
  bool yes = false;
  app.add_option("--address", address, "device IP address (the address box, 15 characters)");
  app.add_option("--port", port, "device TCP port (the port box)")->capture_default_str();
  app.add_flag("--yes", yes, "answer Yes to every question");
  app.add_option("--data-file", dataFile,
                 "Intel HEX data file (default: quivo.HEX beside the program)");
  app.add_option("--restore-xport", restoreFile,
                 "send an XPort setup record saved before an override back to the XPort at "
                 "--address, then exit");
  const ui::DiscoverCommand discover(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }

  platform::UseUtf8Console();
  if (discover.requested()) return discover.Run(stdout, stderr);
  ui::ConsoleOptions options;
  options.answerYes = yes;
  options.interactive = platform::StdinIsTerminal();
  options.drawInPlace = platform::StdoutIsTerminal();
  ui::ConsoleHost host(stdin, stdout, options);

  // Like the dialog's edit boxes: without an address on a terminal, ask for both.
  if (address.empty() && options.interactive && restoreFile.empty()) {
    std::fputs("IP Address: ", stdout);
    std::fflush(stdout);
    host.ReadLine(&address);
    std::printf("Port [%s]: ", port.c_str());
    std::fflush(stdout);
    std::string typed;
    if (host.ReadLine(&typed) && !typed.empty()) port = typed;
  }
  host.Prefill(panel::IDC_ADDRESS, ui::LimitChars(address, ui::kAddressBoxChars));
  host.Prefill(panel::IDC_PORT, port);

  std::string file = image::kDataFileName;
  if (!dataFile.empty()) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(dataFile, ec);
    file = ec ? dataFile : absolute.string();
  }

  update::UpdateSession session(host, platform::RealSleeper());
  if (!restoreFile.empty()) return update::RestoreSavedRecord(session, restoreFile) == 1 ? 0 : 1;

  platform::LowerTimerSlack();
  const update::JobOutcome outcome = update::UpdateJob(session, file);
  return outcome.dataFileRead && outcome.result == 1 ? 0 : 1;
}
