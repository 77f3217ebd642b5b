// One device's run in a front end's own window (the console with one --address, or a
// dialog): the run exactly as the front end shows it, recorded for its report and its
// history line.
#pragma once

#include <atomic>
#include <filesystem>

#include "panel/events.h"
#include "panel/target.h"
#include "report/device_report.h"
#include "report/run_record.h"
#include "update/update_procedure.h"

namespace report {

class SingleRun {
 public:
  SingleRun(panel::RunObserver& frontEnd, platform::Sleeper& sleeper,
            update::SessionOptions options = {});

  // Runs UpdateJob once for target with namedDataFile (empty: the data file is looked
  // for). stop, when given, ends the run at its next block (an interrupt). Appends the
  // history line to historyPath when it is not empty. *outcome, when given, gets the run's
  // outcome (where the data file was looked for, among the rest).
  DeviceReport Run(const device::Target& target, const std::filesystem::path& namedDataFile,
                   const std::atomic<bool>* stop = nullptr,
                   const std::filesystem::path& historyPath = {},
                   update::Outcome* outcome = nullptr);

  update::UpdateSession& session() { return session_; }

 private:
  RunRecord record_;
  update::UpdateSession session_;
};

}  // namespace report
