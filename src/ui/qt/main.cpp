// DERURUZUD: the operator's dialog.
//
// DERURUZUD [FILE] [--data-file FILE] [--batch [--devices FILE]] [--lang en|ja] [--version]
// [--help]. The options are read before the toolkit starts, so --version and --help need
// no display.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "batch/batch_run.h"
#include "image/data_file_check.h"
#include "report/history.h"
#include "report/single_run.h"
#include "panel/panel_texts.h"
#include "panel/settings.h"
#include "panel/text_catalog.h"
#include "platform/clock.h"
#include "platform/program_folder.h"
#include "platform/user_environment.h"
#include "ui/dialog/dialog_panel.h"
#include "ui/qt/app.h"
#include "update/update_procedure.h"

namespace {

using panel::Text;
using panel::TextId;

// A file dropped on the window: written by the GUI thread, read by a worker at its start.
class DroppedFile {
 public:
  void Set(const std::string& path) {
    const std::lock_guard<std::mutex> lock(mu_);
    path_ = path;
  }
  std::string Get() const {
    const std::lock_guard<std::mutex> lock(mu_);
    return path_;
  }

 private:
  mutable std::mutex mu_;
  std::string path_;
};

}  // namespace

int main(int argc, char** argv) {
  panel::SetLanguage(panel::ChooseLanguage(panel::FindLangOption(argc, argv)));

  CLI::App app{Text(TextId::HelpDialogDescription), panel::kProgramName};
  app.get_formatter()->label("Usage", Text(TextId::HelpUsageLabel));
  app.get_formatter()->label("OPTIONS", Text(TextId::HelpOptionsLabel));
  app.get_formatter()->label("Positionals", Text(TextId::HelpPositionalsLabel));
  app.option_defaults()->group(Text(TextId::HelpOptionsLabel));
  app.set_help_flag("-h,--help", Text(TextId::HelpHelp));
  std::string namedFile;
  std::string lang;
  std::string dataFileOption;
  app.add_option("FILE", namedFile, Text(TextId::HelpDialogFile))->type_name("");
  app.add_option("--data-file", dataFileOption, Text(TextId::HelpDialogFile))->type_name("FILE");
  bool batchWindow = false;
  std::string devicesFile;
  app.add_flag("--batch", batchWindow, Text(TextId::HelpBatchWindow));
  app.add_option("--devices", devicesFile, Text(TextId::HelpBatchDevices))
      ->type_name("FILE")
      ->needs("--batch");
  std::string bind;
  app.add_option("--bind", bind, Text(TextId::HelpBind))->type_name("ADDRESS");
  app.add_option("--lang", lang, Text(TextId::HelpLang))
      ->type_name("LANG")
      ->check(CLI::IsMember({"en", "ja"}));
  app.set_version_flag("--version", panel::VersionText(panel::kProgramName),
                       Text(TextId::HelpVersion));
  char footer[1024];
  std::snprintf(footer, sizeof footer, Text(TextId::HelpDialogFooter),
                platform::UserDataFolderHint());
  app.footer(footer);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }
  if (!namedFile.empty() && !dataFileOption.empty()) {
    return app.exit(CLI::ExcludesError("FILE", "--data-file")) == 0 ? 0 : 2;
  }
  if (namedFile.empty()) namedFile = dataFileOption;
  // --bind, else the "bind" setting: the dialogs have no box for it.
  std::string bindError;
  const std::optional<std::uint32_t> localAddress = panel::LocalAddressSetting(bind, &bindError);
  if (!localAddress) {
    std::fprintf(stderr, "%s: %s\n", panel::kProgramName, bindError.c_str());
    return 2;
  }

  DroppedFile dropped;
  // The batch window's runs: the same data file as the dialog's, sixteen devices talking
  // at once, every run in the history, and the data file judged as DERURUZUD-cli judges it
  // (its signature against the trusted keys of the settings folders, the machine's policy).
  const auto batchOptions = [&namedFile, &dropped, &localAddress] {
    batch::BatchOptions options;
    options.session.localAddress = *localAddress;
    options.dataFile = platform::PathFromUtf8(namedFile.empty() ? dropped.Get() : namedFile);
    options.jobs = 16;
    options.integrity.check = true;
    options.integrity.requireSignature = image::PolicyRequiresSignature();
    std::string error;
    std::vector<std::string> warnings;
    image::LoadTrustedKeys({}, &options.integrity.trusted, &error, &warnings);
    for (const std::string& w : warnings) std::fprintf(stderr, "%s\n", w.c_str());
    return options;
  };
  if (batchWindow) return ui::qt::RunBatchApplication(argc, argv, batchOptions, devicesFile);

  // One session for the window's lifetime: the XPort records, the device identity and
  // OverrideFlag outlast a run, and only one worker runs at a time. Every run is recorded
  // in the history of runs.
  std::unique_ptr<ui::DialogPanel> panel;
  std::unique_ptr<report::SingleRun> run;
  const auto job = [&](ui::DialogHost& owner) {
    platform::LowerTimerSlack();
    if (!run) {
      panel = std::make_unique<ui::DialogPanel>(owner);
      update::SessionOptions options;
      options.localAddress = *localAddress;
      run = std::make_unique<report::SingleRun>(*panel, platform::RealSleeper(), options);
    }
    update::Outcome outcome;
    run->Run(panel->TargetFromBoxes(),
             platform::PathFromUtf8(namedFile.empty() ? dropped.Get() : namedFile), nullptr,
             report::HistoryPath(), &outcome);
    if (const std::error_code why = run->HistoryFailure()) {
      owner.ShowMessage(report::HistoryUnwrittenText(why), Text(TextId::CaptionCaution),
                        panel::NoticeStyle::Warning);
    }
    if (!outcome.dataFileLookedIn.empty()) {
      std::fprintf(stderr, "%s\n", Text(TextId::DataFileLookedIn));
      for (const auto& place : outcome.dataFileLookedIn)
        std::fprintf(stderr, "  %s\n", platform::PathToUtf8(place).c_str());
    }
  };
  // A file named on the command line comes first: the window then takes no drops.
  ui::qt::FileDropped onDrop = nullptr;
  if (namedFile.empty()) onDrop = [&dropped](const std::string& path) { dropped.Set(path); };
  return ui::qt::RunApplication(argc, argv, job, onDrop, batchOptions);
}
