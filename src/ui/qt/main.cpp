// DERURUZUD: the operator's dialog.
#include <memory>

#include "fleet/fleet_run.h"
#include "fleet/history.h"
#include "platform/clock.h"
#include "ui/qt/app.h"
#include "update/update_procedure.h"

int main(int argc, char** argv) {
  // One session for the window's lifetime: the XPort records, the device identity and
  // OverrideFlag outlast a run, and only one worker runs at a time. Every run is recorded
  // in the history of runs.
  std::unique_ptr<fleet::SingleRun> run;
  return ui::qt::RunApplication(argc, argv, [&run](panel::DialogHost& owner) {
    platform::LowerTimerSlack();
    if (!run) run = std::make_unique<fleet::SingleRun>(owner, platform::RealSleeper());
    run->Run(image::kDataFileName, fleet::Language::Japanese, nullptr, fleet::HistoryPath());
  });
}
