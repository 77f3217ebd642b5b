#include "report/single_run.h"

#include "platform/clock.h"
#include "report/history.h"

namespace report {

SingleRun::SingleRun(panel::RunObserver& frontEnd, platform::Sleeper& sleeper,
                     update::SessionOptions options)
    : record_(&frontEnd), session_(record_, sleeper, options) {}

DeviceReport SingleRun::Run(const device::Target& target,
                            const std::filesystem::path& namedDataFile,
                            const std::atomic<bool>* stop,
                            const std::filesystem::path& historyPath, update::Outcome* outcome) {
  record_.NewRecord();
  session_.UseStopFlag(stop);
  const std::int64_t start = platform::MonotonicMs();
  const update::Outcome result = update::UpdateJob(session_, target, namedDataFile);
  DeviceReport report =
      MakeReport(target, result, record_.Notices(),
                 static_cast<double>(platform::MonotonicMs() - start) / 1000.0);
  if (!historyPath.empty()) AppendHistory(report, historyPath);
  if (outcome) *outcome = result;
  return report;
}

}  // namespace report
