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
#include "update/rollout.h"
#include "update/update_procedure.h"

namespace report {

// The rules of DERURUZUD-cli's runs; the dialog runs without them (rollout false), showing
// both versions and letting its operator decide.
struct RunPolicy {
  bool rollout = false;
  update::VersionPolicy version{};
  update::IntegrityPolicy integrity{};
  bool dryRun = false;  // identify, judge, leave: nothing is written
};

class SingleRun {
 public:
  SingleRun(panel::RunObserver& frontEnd, platform::Sleeper& sleeper,
            update::SessionOptions options = {});

  // Runs once for target with namedDataFile (empty: the data file is looked for): the data
  // file read and judged, the device identified, judged by its version, asked about and
  // written or left. stop, when given, ends the run at its next block (an interrupt).
  // Appends the history line to historyPath when it is not empty. *outcome, when given,
  // gets the run's outcome (where the data file was looked for, among the rest).
  DeviceReport Run(const device::Target& target, const std::filesystem::path& namedDataFile,
                   const std::atomic<bool>* stop = nullptr,
                   const std::filesystem::path& historyPath = {},
                   update::Outcome* outcome = nullptr, const RunPolicy& policy = {});

  update::UpdateSession& session() { return session_; }
  // Why the last run's history line could not be written; empty when it was.
  const std::error_code& HistoryFailure() const { return historyFailure_; }

 private:
  update::Outcome RunOnce(const device::Target& target, const std::filesystem::path& dataFile,
                          const RunPolicy& policy);

  RunRecord record_;
  update::UpdateSession session_;
  std::error_code historyFailure_;
};

}  // namespace report
