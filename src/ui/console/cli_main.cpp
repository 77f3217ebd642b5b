// DERURUZUD-cli: the update with a console panel, for scripts, CI, headless hosts and
// orchestrators; one device as the dialog does it, or a batch of many side by side with one
// question, both held to the rollout rules (update/rollout.h).
//
// Exit status: 0 when every device ends at the data file's version (updated or skipped; a
// dry run: would be) and no XPort is left changed; 1 otherwise (a failure, a No, a refusal,
// a data file that cannot be read or may not be written, a report that cannot be written);
// 2 for a usage error (nothing sent on the network); 130 after an interrupt (Ctrl-C,
// SIGTERM) once every run's clean-up is done. --discover lists the XPorts on a network
// instead (discover_command.h).
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "batch/batch_run.h"
#include "batch/sleep_mode.h"
#include "batch/targets.h"
#include "image/data_file_check.h"
#include "report/history.h"
#include "report/single_run.h"
#include "panel/panel_texts.h"
#include "panel/text_catalog.h"
#include "platform/clock.h"
#include "platform/interrupt.h"
#include "platform/process_limits.h"
#include "platform/program_folder.h"
#include "platform/state_folder.h"
#include "platform/terminal.h"
#include "platform/user_environment.h"
#include "ui/console/batch_console.h"
#include "ui/console/console_host.h"
#include "ui/console/console_text.h"
#include "ui/console/discover_command.h"
#include "ui/console/help_format.h"
#include "ui/dialog/dialog_panel.h"
#include "update/rollout.h"

namespace {

using panel::Text;
using panel::TextId;

constexpr int kUsageError = 2;
constexpr std::size_t kHistoryDefault = 20;

// The ways the program is called, as the help's usage lines show them.
const std::vector<std::string> kUsageForms = {
    "--address ADDR [--port PORT] [OPTIONS]",
    "--devices FILE [OPTIONS]",
    "--address ADDR --address ADDR ... [OPTIONS]",
    "--discover RANGE [--json FILE]",
    "--restore-xport FILE --address ADDR",
    "--history [N]",
};

// The terminal's size as the shell exports it (COLUMNS, LINES), else as the terminal says
// it; 0 when neither tells.
std::size_t TerminalSize(const char* variable, std::size_t told) {
  const char* text = std::getenv(variable);
  if (!text || !*text) return told;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 10);
  return value < 10000 && end && *end == '\0' ? value : told;
}

// The help in the catalog's language, CLI11's own words included, wrapped at width.
void SpeakCatalogLanguage(CLI::App& app, std::size_t width) {
  app.formatter(std::make_shared<ui::HelpFormatter>(width, kUsageForms));
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

// A count typed on the command line: decimal digits only, at most nine of them.
bool ParseCount(const std::string& text, std::size_t* out) {
  if (text.empty() || text.size() > 9 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
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
// written. A file is replaced only where a regular file or nothing stands; a device, a FIFO
// or a link's target is written into.
bool WriteReport(const std::string& where, const std::vector<report::DeviceReport>& reports) {
  const std::string json = report::ReportJson(reports);
  if (where == "-") {
    std::fputs(json.c_str(), stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
  }
  std::error_code why;
  return platform::WriteReport(platform::PathFromUtf8(where), json, &why);
}

// Whether the report can go where it is asked to, found before anything is sent, without
// opening the place (a FIFO's reader must get the one real report). Empty when it can.
std::string ReportRefusal(const std::string& where) {
  if (where.empty() || where == "-") return {};
  std::error_code why;
  if (platform::CheckReportTarget(platform::PathFromUtf8(where), &why) !=
      platform::ReportTarget::Refused) {
    return {};
  }
  return panel::FormatText(TextId::ReportRefused, {where, platform::ErrorText(why)});
}

void HistoryWarning(const std::error_code& why) {
  std::fprintf(stderr, "DERURUZUD-cli: %s\n", report::HistoryUnwrittenText(why).c_str());
}

void PrintDataFileLookedIn(std::FILE* out, const std::vector<std::filesystem::path>& places) {
  if (places.empty()) return;
  std::fprintf(out, "%s\n", Text(TextId::DataFileLookedIn));
  for (const std::filesystem::path& place : places) {
    std::fprintf(out, "  %s\n", platform::PathToUtf8(place).c_str());
  }
}

int PrintHistory(std::size_t last) {
  const std::filesystem::path path = report::HistoryPath();
  if (path.empty()) {
    std::printf("%s\n", Text(TextId::HistoryNoFolder));
    return 0;
  }
  std::vector<std::string> warnings;
  std::error_code unreadable;
  const auto entries = report::ReadHistory(path, last, &warnings, &unreadable);
  if (unreadable) {
    std::fprintf(stderr, "DERURUZUD-cli: %s\n",
                 panel::FormatText(TextId::HistoryUnreadable,
                                   {platform::PathToUtf8(path), platform::ErrorText(unreadable)})
                     .c_str());
    return 1;
  }
  for (const std::string& w : warnings) std::fprintf(stderr, "%s\n", w.c_str());
  if (entries.empty()) {
    std::printf("%s\n",
                panel::FormatText(TextId::HistoryEmpty, {platform::PathToUtf8(path)}).c_str());
    return 0;
  }
  std::vector<std::vector<std::string>> rows = {
      {Text(TextId::ColumnTime), Text(TextId::ColumnAddress), Text(TextId::ColumnMac),
       Text(TextId::ColumnModel), Text(TextId::ColumnVersion), Text(TextId::ColumnResult),
       Text(TextId::ColumnSeconds), Text(TextId::ColumnReason)}};
  auto orDash = [](const std::string& s) { return s.empty() ? std::string("-") : s; };
  auto resultText = [](const std::string& name) {
    for (update::Result r : {update::Result::Updated, update::Result::Failed, update::Result::Declined,
                             update::Result::Interrupted, update::Result::Skipped,
                             update::Result::Refused, update::Result::NotStarted,
                             update::Result::WouldUpdate}) {
      if (name == update::ResultName(r)) return std::string(Text(update::ResultText(r)));
    }
    return name;
  };
  for (const report::HistoryEntry& e : entries) {
    rows.push_back({e.time, e.address, orDash(e.mac), orDash(e.model),
                    orDash(e.versionBefore) + " -> " + orDash(e.versionAfter), resultText(e.result),
                    e.seconds, ui::OneLine(e.reason)});
  }
  std::fputs(ui::Table(rows).c_str(), stdout);
  return 0;
}

// The exit status a batch or a run ends with: 0 only when every device ends at the data
// file's version (a dry run: would) and no XPort is left changed.
int ExitStatus(const std::vector<report::DeviceReport>& reports, bool interrupted, bool dryRun) {
  if (interrupted) return platform::kInterruptedExitCode;
  for (const report::DeviceReport& r : reports) {
    const bool atVersion = r.result == update::Result::Updated ||
                           r.result == update::Result::Skipped ||
                           (dryRun && r.result == update::Result::WouldUpdate);
    if (!atVersion || r.XPortLeftChanged()) return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  platform::UseUtf8Console();  // --help may already be Japanese
  panel::SetLanguage(panel::ChooseLanguage(panel::FindLangOption(argc, argv)));

  ui::ConsoleOptions options;
  const platform::TerminalSize terminal = platform::OutputTerminalSize();
  options.columns = TerminalSize("COLUMNS", terminal.columns);
  options.rows = TerminalSize("LINES", terminal.rows);
  CLI::App app{Text(TextId::HelpCliDescription), "DERURUZUD-cli"};
  SpeakCatalogLanguage(app, options.columns == 0 ? 80 : options.columns);
  std::vector<std::string> addresses;
  std::string devicesFile;
  std::string port = panel::kDefaultPortText;
  std::string jobsText, canaryText, maxFailuresText;
  std::string dataFile;
  std::string restoreFile;
  std::string jsonFile;
  std::string lang;
  std::string historyText;
  std::string retryFile;
  std::string signatureFile;
  std::vector<std::string> trustedKeys;
  std::string bindText;
  bool yes = false, reinstall = false, allowOlder = false, dryRun = false;
  bool requireSignature = false, ignoreChecksums = false;
  app.add_option("--address", addresses, Text(TextId::HelpAddress))->type_name("ADDR");
  app.add_option("--devices", devicesFile, Text(TextId::HelpDevices))->type_name("FILE");
  auto* portOption = app.add_option("--port", port, Text(TextId::HelpPort))->type_name("PORT");
  app.add_option("--jobs", jobsText, Text(TextId::HelpJobs))->type_name("N");
  app.add_flag("--yes", yes, Text(TextId::HelpYes));
  app.add_option("--data-file", dataFile, Text(TextId::HelpDataFile))->type_name("FILE");
  app.add_option("--json", jsonFile, Text(TextId::HelpJson))->type_name("FILE");
  app.add_option("--canary", canaryText, Text(TextId::HelpCanary))->type_name("N");
  app.add_option("--max-failures", maxFailuresText, Text(TextId::HelpMaxFailures))->type_name("K");
  app.add_flag("--reinstall", reinstall, Text(TextId::HelpReinstall));
  app.add_flag("--allow-older", allowOlder, Text(TextId::HelpAllowOlder));
  app.add_flag("--dry-run", dryRun, Text(TextId::HelpDryRun));
  app.add_option("--retry-failed", retryFile, Text(TextId::HelpRetryFailed))->type_name("REPORT");
  app.add_option("--signature", signatureFile, Text(TextId::HelpSignature))->type_name("FILE");
  app.add_option("--trusted-key", trustedKeys, Text(TextId::HelpTrustedKey))->type_name("FILE");
  app.add_flag("--require-signature", requireSignature, Text(TextId::HelpRequireSignature));
  app.add_flag("--ignore-checksums", ignoreChecksums, Text(TextId::HelpIgnoreChecksums));
  app.add_option("--bind", bindText, Text(TextId::HelpBind))->type_name("ADDRESS");
  app.add_option("--restore-xport", restoreFile, Text(TextId::HelpRestoreXPort))->type_name("FILE");
  auto* historyOption = app.add_option("--history", historyText, Text(TextId::HelpHistory))
                            ->expected(0, 1)
                            ->type_name("[N]");
  app.add_option("--lang", lang, Text(TextId::HelpLang))
      ->type_name("LANG")
      ->check(CLI::IsMember({"en", "ja"}));
  app.set_version_flag("--version", panel::VersionText("DERURUZUD-cli"), Text(TextId::HelpVersion));
  app.footer(std::string(Text(TextId::HelpCliExamples)) + "\n\n" +
             Format(TextId::HelpCliFooter, platform::UserDataFolderHint()));
  const ui::DiscoverCommand discover(app);
  // UTF-8 on every platform, so that a path such as C:\田中\quivo.HEX survives.
  const std::vector<std::string> args = platform::CommandLineArgs(argc, argv);
  std::vector<const char*> argp;
  for (const std::string& a : args) argp.push_back(a.c_str());
  try {
    app.parse(static_cast<int>(argp.size()), argp.data());
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : kUsageError;
  }

  // The local address every socket binds, checked before anything else is done with it.
  std::uint32_t localAddress = 0;
  if (!bindText.empty()) {
    const auto parsed = device::ParseIpv4(bindText);
    if (!parsed || !platform::IsLocalAddress(*parsed)) {
      return UsageError(panel::FormatText(TextId::BadBind, {bindText}));
    }
    localAddress = *parsed;
  }
  if (const std::string refusal = ReportRefusal(jsonFile); !refusal.empty()) {
    return UsageError(refusal);
  }
  if (discover.requested()) return discover.Run(stdout, stderr, localAddress);
  if (historyOption->count() > 0) {
    std::size_t last = kHistoryDefault;
    if (!historyText.empty() && !ParseCount(historyText, &last)) {
      return UsageError(panel::FormatText(TextId::BadHistoryCount, {historyText}));
    }
    return PrintHistory(last);
  }

  // Everything the operator named is checked before anything goes on the network, and the
  // options before any file they name is read.
  std::size_t jobs = 0, canary = 0, maxFailures = 0;
  for (auto [name, text, value] : {std::tuple{"--jobs", &jobsText, &jobs},
                                   std::tuple{"--canary", &canaryText, &canary},
                                   std::tuple{"--max-failures", &maxFailuresText, &maxFailures}}) {
    if (!text->empty() && (!ParseCount(*text, value) || *value == 0)) {
      return UsageError(panel::FormatText(TextId::BadCount, {name, *text}));
    }
  }
  if (jobs > batch::kMaxJobs) {
    return UsageError(
        panel::FormatText(TextId::TooManyJobs, {jobsText, std::to_string(batch::kMaxJobs)}));
  }
  std::optional<int> portGiven;
  if (portOption->count() > 0) {
    std::size_t value = 0;
    if (!ParseCount(port, &value) || value < 1 || value > 65535) {
      return UsageError(panel::FormatText(TextId::BadPort, {port}));
    }
    portGiven = static_cast<int>(value);
  }
  if (!restoreFile.empty() && addresses.empty()) return UsageError(Text(TextId::RestoreNeedsAddress));

  std::vector<batch::NamedTarget> targets;
  std::string error;
  for (const std::string& a : addresses) {
    if (!batch::AddTarget(a, "--address", &targets, &error)) return UsageError(error);
  }
  if (!devicesFile.empty()) {
    std::string text;
    if (!platform::ReadWholeFile(platform::PathFromUtf8(devicesFile), &text)) {
      return UsageError(panel::FormatText(TextId::DevicesUnreadable, {devicesFile}));
    }
    const std::size_t before = targets.size();
    if (!batch::ParseDevicesText(text, devicesFile, &targets, &error)) return UsageError(error);
    if (targets.size() == before) {
      return UsageError(panel::FormatText(TextId::NoDevices, {devicesFile}));
    }
  }
  if (!retryFile.empty()) {
    std::string text;
    if (!platform::ReadWholeFile(platform::PathFromUtf8(retryFile), &text) ||
        !batch::TargetsFromReport(text, retryFile, &targets, &error)) {
      return UsageError(error.empty() ? panel::FormatText(TextId::NotAReport, {retryFile}) : error);
    }
  }
  if (!batch::CheckDistinct(targets, &error)) return UsageError(error);
  // Every identified device holds its TCP connection until its leave command.
  const std::size_t openFiles = platform::RaiseOpenFileLimit();
  const std::size_t largest = std::min(batch::kMaxDevices, openFiles > 64 ? openFiles - 64 : 0);
  if (targets.size() > largest) {
    return UsageError(panel::FormatText(
        TextId::TooManyDevices, {std::to_string(targets.size()), std::to_string(largest)}));
  }
  const bool isBatch = !devicesFile.empty() || !retryFile.empty() || targets.size() > 1;
  if (!restoreFile.empty() && isBatch) return UsageError(Text(TextId::RestoreOneAddress));

  update::IntegrityPolicy integrity;
  integrity.check = true;
  integrity.signatureFile = platform::PathFromUtf8(signatureFile);
  integrity.requireSignature = requireSignature || image::PolicyRequiresSignature();
  integrity.ignoreChecksums = ignoreChecksums;
  integrity.unattended = yes;
  {
    std::vector<std::filesystem::path> named;
    for (const std::string& k : trustedKeys) named.push_back(platform::PathFromUtf8(k));
    std::vector<std::string> warnings;
    if (!image::LoadTrustedKeys(named, &integrity.trusted, &error, &warnings)) {
      return UsageError(error);
    }
    for (const std::string& w : warnings) std::fprintf(stderr, "DERURUZUD-cli: %s\n", w.c_str());
    std::string text;
    if (!signatureFile.empty() &&
        (!platform::ReadWholeFile(integrity.signatureFile, &text) ||
         image::CheckSignature({}, text, {}).state == image::SignatureState::Malformed)) {
      return UsageError(panel::FormatText(TextId::BadSignatureFile, {signatureFile}));
    }
  }

  // With the report on standard output, everything else goes to the error stream.
  std::FILE* out = jsonFile == "-" ? stderr : stdout;
  options.answerYes = yes;
  options.interactive = platform::StdinIsTerminal();
  options.drawInPlace = out == stdout && platform::StdoutIsTerminal();
  platform::InstallInterruptHandler(Text(TextId::InterruptedAgain));
  const std::atomic<bool>& interrupted = platform::InterruptFlag();
  update::SessionOptions session;
  session.localAddress = localAddress;
  // With --yes nobody is there to answer: a change whose original cannot be saved fails
  // the device instead of being asked about.
  session.asksOperator = !yes;

  std::vector<report::DeviceReport> reports;
  if (isBatch) {
    batch::BatchOptions batchOptions;
    batchOptions.dataFile = platform::PathFromUtf8(dataFile);
    batchOptions.jobs = jobs;
    batchOptions.session = session;
    batchOptions.session.asksOperator = false;  // one question for the batch, and no other
    batchOptions.policy = {reinstall, allowOlder};
    batchOptions.integrity = integrity;
    batchOptions.canary = canary;
    batchOptions.maxFailures = maxFailures;
    batchOptions.dryRun = dryRun;
    for (batch::NamedTarget& t : targets) {
      if (!t.target.port) t.target.port = portGiven;
    }
    platform::LowerTimerSlack();
    batch::BatchRun run(std::move(targets), batchOptions);
    ui::BatchConsole console(stdin, out, options, options.drawInPlace, &interrupted);
    run.Run(console);
    reports = run.Reports();
    PrintDataFileLookedIn(out, run.DataFileLookedIn());
    console.PrintSummary(reports);
    std::error_code why;
    if (run.HistoryFailures(&why) > 0) HistoryWarning(why);
  } else {
    ui::ConsoleHost host(stdin, out, options);
    host.SetInterruptFlag(&interrupted);
    std::string address =
        targets.empty() ? std::string() : device::AddressText(targets[0].target);
    if (!targets.empty() && targets[0].target.port) port = std::to_string(*targets[0].target.port);
    // Like the dialog's edit boxes: without an address on a terminal, ask for both.
    if (address.empty() && options.interactive && restoreFile.empty()) {
      std::fprintf(out, "%s: ", Text(TextId::AddressLabel));
      std::fflush(out);
      host.ReadLine(&address);
      std::fprintf(out, "%s [%s]: ", Text(TextId::PortLabel), port.c_str());
      std::fflush(out);
      std::string typed;
      if (host.ReadLine(&typed) && !typed.empty()) port = typed;
    }
    host.Prefill(ui::IDC_ADDRESS, ui::LimitChars(address, ui::kAddressBoxChars));
    host.Prefill(ui::IDC_PORT, port);
    ui::DialogPanel panel(host);
    const device::Target target = panel.TargetFromBoxes();

    report::SingleRun single(panel, platform::RealSleeper(batch::SleepModeForBatch(1)), session);
    if (!restoreFile.empty()) {
      const bool restored =
          update::RestoreSavedRecord(single.session(), target, platform::PathFromUtf8(restoreFile)) == 1;
      std::error_code why;
      if (!report::AppendRestoreHistory(device::AddressText(target), restoreFile, restored,
                                        report::HistoryPath(), &why)) {
        HistoryWarning(why);
      }
      platform::CleanUpFinished();
      return restored ? 0 : 1;
    }
    platform::LowerTimerSlack();
    report::RunPolicy policy;
    policy.rollout = true;
    policy.version = {reinstall, allowOlder};
    policy.integrity = integrity;
    policy.dryRun = dryRun;
    update::Outcome outcome;
    reports.push_back(single.Run(target, platform::PathFromUtf8(dataFile), &interrupted,
                                 report::HistoryPath(), &outcome, policy));
    PrintDataFileLookedIn(out, outcome.dataFileLookedIn);
    host.EndRun(ui::ResultLine(reports.back()));
    if (single.HistoryFailure()) HistoryWarning(single.HistoryFailure());
  }

  // A dry run asks nothing: what its question would have shown of the data file is said here.
  if (dryRun && !reports.empty() && reports.front().dataFile) {
    for (const std::string& line : update::DataFileLines(*reports.front().dataFile)) {
      std::fprintf(out, "%s\n", line.c_str());
    }
  }
  // The way out of a port another program holds (a discovery, a second run).
  if (std::any_of(reports.begin(), reports.end(), [](const report::DeviceReport& r) {
        return r.failure.kind == update::FailureKind::XPortPortTaken;
      })) {
    std::fprintf(stderr, "DERURUZUD-cli: %s\n", Text(TextId::BindHint));
  }
  int status = ExitStatus(reports, interrupted.load(), dryRun);
  if (!jsonFile.empty() && !WriteReport(jsonFile, reports)) {
    std::fprintf(stderr, "DERURUZUD-cli: %s\n",
                 panel::FormatText(TextId::ReportUnwritten, {jsonFile}).c_str());
    if (status == 0) status = 1;
  }
  platform::CleanUpFinished();
  return status;
}
