// DERURUZUD-cli: the update with a console panel, for scripts, CI and headless hosts; one
// device as the dialog does it, or a batch of many side by side with one question.
//
// Exit status: 0 when every device was updated, 1 when any update failed, was declined or
// the data file could not be read, 2 for a usage error (nothing sent on the network), 130
// after an interrupt (Ctrl-C, SIGTERM) once every run's clean-up is done. --discover lists
// the XPorts on a network instead (discover_command.h).
#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fleet/fleet_run.h"
#include "fleet/history.h"
#include "fleet/restore_record.h"
#include "fleet/targets.h"
#include "platform/clock.h"
#include "platform/interrupt.h"
#include "platform/state_folder.h"
#include "platform/terminal.h"
#include "ui/console/console_host.h"
#include "ui/console/discover_command.h"
#include "ui/console/fleet_console.h"

namespace {

constexpr int kUsageError = 2;
constexpr std::size_t kHistoryDefault = 20;

// A count typed on the command line: decimal digits only, at most nine of them.
bool ParseCount(const std::string& text, std::size_t* out) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  *out = std::stoul(text);
  return true;
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "DERURUZUD-cli: %s\n", message.c_str());
  return kUsageError;
}

// The report as JSON, to a file or ("-") to standard output. False when it could not be
// written.
bool WriteReport(const std::string& where, const std::vector<fleet::DeviceReport>& reports) {
  const std::string json = fleet::ReportJson(reports);
  if (where == "-") {
    std::fputs(json.c_str(), stdout);
    return std::fflush(stdout) == 0;
  }
  return platform::WriteFileAtomically(where, json.data(), json.size());
}

int PrintHistory(std::size_t last, fleet::Language language) {
  using namespace fleet::texts;
  const std::string path = fleet::HistoryPath();
  if (path.empty()) {
    std::printf("%s\n", kHistoryNoFolder.In(language));
    return 0;
  }
  std::vector<std::string> warnings;
  const auto entries = fleet::ReadHistory(path, last, language, &warnings);
  for (const std::string& w : warnings) std::fprintf(stderr, "%s\n", w.c_str());
  if (entries.empty()) {
    std::printf("%s\n", fleet::Fill(kHistoryEmpty.In(language), {path}).c_str());
    return 0;
  }
  const fleet::Language l = language;
  std::printf("%s  %s  %s  %s  %s  %s  %s  %s\n", ui::PadTo(kColumnTime.In(l), 20).c_str(),
              ui::PadTo(kColumnAddress.In(l), 15).c_str(), ui::PadTo("MAC", 17).c_str(),
              ui::PadTo(kColumnModel.In(l), 10).c_str(), ui::PadTo(kColumnVersion.In(l), 12).c_str(),
              ui::PadTo(kColumnResult.In(l), 10).c_str(), ui::PadTo(kColumnSeconds.In(l), 6).c_str(),
              kColumnReason.In(l));
  auto orDash = [](const std::string& s) { return s.empty() ? std::string("-") : s; };
  auto resultText = [l](const std::string& name) {
    if (name == "updated") return std::string(kResultUpdated.In(l));
    if (name == "declined") return std::string(kResultDeclined.In(l));
    if (name == "failed") return std::string(kResultFailed.In(l));
    return name;
  };
  for (const fleet::HistoryEntry& e : entries) {
    std::string reason = e.reason;
    for (char& c : reason) c = c == '\n' ? ' ' : c;
    std::printf("%s  %s  %s  %s  %s  %s  %s  %s\n", ui::PadTo(e.time, 20).c_str(),
                ui::PadTo(e.address, 15).c_str(), ui::PadTo(orDash(e.mac), 17).c_str(),
                ui::PadTo(orDash(e.model), 10).c_str(),
                ui::PadTo(orDash(e.versionBefore) + " -> " + orDash(e.versionAfter), 12).c_str(),
                ui::PadTo(resultText(e.result), 10).c_str(), ui::PadTo(e.seconds, 6).c_str(), reason.c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"DERURUZUD-cli: rewrites the firmware of one device, or of many side by side, "
               "through their XPorts"};
  std::vector<std::string> addresses;
  std::string devicesFile;
  std::string port = "10003";
  std::string jobsText;
  std::string dataFile;
  std::string restoreFile;
  std::string jsonFile;
  std::string languageName = "ja";
  std::string historyText;
  bool yes = false;
  app.add_option("--address", addresses,
                 "device IP address (the address box); repeat it for a batch of devices")
      ->type_name("ADDR");
  app.add_option("--devices", devicesFile,
                 "file with one ADDRESS[:PORT] per line (blank lines and # comments ignored): "
                 "a batch of devices");
  auto* portOption =
      app.add_option("--port", port, "device TCP port (the port box); in a batch, for every "
                                      "device without its own (default there: the XPort's "
                                      "LocalPort)")
          ->capture_default_str();
  app.add_option("--jobs", jobsText,
                 "in a batch, at most N devices talking to the network at once (default: all, "
                 "at most " + std::to_string(fleet::kMaxJobs) + ")")
      ->type_name("N");
  app.add_flag("--yes", yes, "answer Yes to every question (the batch's one question too)");
  app.add_option("--data-file", dataFile,
                 "Intel HEX data file (default: quivo.HEX beside the program)");
  app.add_option("--json", jsonFile,
                 "write the report of every device as JSON to FILE (- for standard output)")
      ->type_name("FILE");
  app.add_option("--restore-xport", restoreFile,
                 "send an XPort setup record saved before an override back to the XPort at "
                 "--address (only when it is the XPort the record came from), then exit");
  auto* historyOption =
      app.add_option("--history", historyText, "print the last N runs (default 20), then exit")
          ->expected(0, 1)
          ->type_name("[N]");
  app.add_option("--lang", languageName, "language of the batch's texts: ja or en")
      ->check(CLI::IsMember({"ja", "en"}))
      ->capture_default_str();
  const ui::DiscoverCommand discover(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : kUsageError;
  }
  fleet::Language language = fleet::Language::Japanese;
  fleet::ParseLanguage(languageName, &language);
  platform::UseUtf8Console();
  if (discover.requested()) return discover.Run(stdout, stderr);

  if (historyOption->count() > 0) {
    std::size_t last = kHistoryDefault;
    if (!historyText.empty() && !ParseCount(historyText, &last)) {
      return UsageError(fleet::Fill(fleet::texts::kBadHistoryCount.In(language), {historyText}));
    }
    return PrintHistory(last, language);
  }

  // Everything the operator named is checked before anything goes on the network.
  std::size_t jobs = 0;
  if (!jobsText.empty() && (!ParseCount(jobsText, &jobs) || jobs == 0)) {
    return UsageError(fleet::Fill(fleet::texts::kBadJobs.In(language), {jobsText}));
  }
  std::vector<fleet::DeviceTarget> targets;
  std::string error;
  for (const std::string& a : addresses) {
    if (!fleet::AddTarget(a, "--address", language, &targets, &error)) return UsageError(error);
  }
  if (!devicesFile.empty()) {
    std::string text;
    if (!platform::ReadWholeFile(devicesFile, &text)) {
      return UsageError(fleet::Fill(fleet::texts::kDevicesUnreadable.In(language), {devicesFile}));
    }
    const std::size_t before = targets.size();
    if (!fleet::ParseDevicesText(text, devicesFile, language, &targets, &error)) {
      return UsageError(error);
    }
    if (targets.size() == before) {
      return UsageError(fleet::Fill(fleet::texts::kNoDevices.In(language), {devicesFile}));
    }
  }
  if (!fleet::CheckDistinct(targets, language, &error)) return UsageError(error);
  const bool batch = !devicesFile.empty() || targets.size() > 1;
  if (!restoreFile.empty() && batch) {
    return UsageError(fleet::texts::kRestoreOneAddress.In(language));
  }

  std::string file = image::kDataFileName;
  if (!dataFile.empty()) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(dataFile, ec);
    file = ec ? dataFile : absolute.string();
  }
  // With the report on standard output, everything else goes to the error stream.
  std::FILE* out = jsonFile == "-" ? stderr : stdout;
  ui::ConsoleOptions options;
  options.answerYes = yes;
  options.interactive = platform::StdinIsTerminal();
  options.drawInPlace = out == stdout && platform::StdoutIsTerminal();
  platform::InstallInterruptHandler(fleet::texts::kEndingNow.In(language));
  const std::atomic<bool>& interrupted = platform::InterruptFlag();

  std::vector<fleet::DeviceReport> reports;
  if (batch) {
    fleet::FleetOptions fleetOptions;
    fleetOptions.dataFile = file;
    fleetOptions.jobs = jobs;
    fleetOptions.language = language;
    if (portOption->count() > 0) {
      for (fleet::DeviceTarget& t : targets) {
        if (!t.port) t.port = static_cast<std::uint16_t>(device::ParsePortText(port) & 0xFFFF);
      }
    }
    platform::LowerTimerSlack();
    fleet::FleetRun run(std::move(targets), fleetOptions);
    ui::FleetConsole console(stdin, out, options, options.drawInPlace, language, &interrupted);
    run.Run(console);
    reports = run.Reports();
    console.PrintSummary(reports);
  } else {
    ui::ConsoleHost host(stdin, out, options);
    host.SetInterruptFlag(&interrupted);
    std::string address = targets.empty() ? std::string() : targets[0].address;
    if (!targets.empty() && targets[0].port) port = std::to_string(*targets[0].port);
    // Like the dialog's edit boxes: without an address on a terminal, ask for both.
    if (address.empty() && options.interactive && restoreFile.empty()) {
      std::fputs("IP Address: ", out);
      std::fflush(out);
      host.ReadLine(&address);
      std::fprintf(out, "Port [%s]: ", port.c_str());
      std::fflush(out);
      std::string typed;
      if (host.ReadLine(&typed) && !typed.empty()) port = typed;
    }
    host.Prefill(panel::IDC_ADDRESS, ui::LimitChars(address, ui::kAddressBoxChars));
    host.Prefill(panel::IDC_PORT, port);

    fleet::SingleRun single(host, platform::RealSleeper());
    if (!restoreFile.empty()) {
      return fleet::RestoreSavedRecord(single.session(), restoreFile, language) == 1 ? 0 : 1;
    }
    platform::LowerTimerSlack();
    reports.push_back(single.Run(file, language, &interrupted, fleet::HistoryPath()));
  }

  if (!jsonFile.empty() && !WriteReport(jsonFile, reports)) {
    std::fprintf(stderr, "DERURUZUD-cli: %s\n",
                 fleet::Fill(fleet::texts::kReportUnwritten.In(language), {jsonFile}).c_str());
  }
  if (interrupted.load()) return platform::kInterruptedExitCode;
  for (const fleet::DeviceReport& r : reports) {
    if (r.result != fleet::Result::Updated) return 1;
  }
  return 0;
}
