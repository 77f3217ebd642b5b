#include "report/single_run.h"

#include "platform/clock.h"
#include "report/history.h"

namespace report {
namespace {

using panel::TextId;

}  // namespace

SingleRun::SingleRun(panel::RunObserver& frontEnd, platform::Sleeper& sleeper,
                     update::SessionOptions options)
    : record_(&frontEnd), session_(record_, sleeper, options) {}

update::Outcome SingleRun::RunOnce(const device::Target& target,
                                   const std::filesystem::path& dataFile, const RunPolicy& policy) {
  update::Outcome failed;
  failed.failure = {update::FailureKind::DataFileUnreadable, {}};
  failed.port = target.port;
  image::DataFileFacts facts;
  update::IntegrityPolicy integrity = policy.integrity;
  integrity.check = policy.rollout;
  if (!update::ReadDataFile(session_.Images(), record_, dataFile, integrity, &facts,
                            &failed.dataFileLookedIn)) {
    return failed;
  }
  failed.dataFile = facts;
  failed.failure = update::JudgeDataFile(facts, integrity);
  if (failed.failure.kind != update::FailureKind::None) {
    // Refused before anything is sent.
    session_.Images().ReleaseImages();
    record_.OnEvent(panel::NoticeRaised{update::ReasonMessage(failed.failure)});
    return failed;
  }
  if (facts.checksumErrors > 0 && !integrity.ignoreChecksums) {
    record_.OnEvent(panel::NoticeRaised{
        {TextId::ChecksumCaution,
         {std::to_string(facts.checksumErrors), std::to_string(facts.firstBadLine)}},
        panel::Caption::Caution});
  }
  // The bulk write pauses 1 ms three times per block; with the default 15.6 ms timer on
  // Windows each pause would take a whole tick.
  const platform::TimerResolutionGuard fineTimer;
  if (!session_.BeginRun(target)) {
    update::Outcome o = session_.LastOutcome();
    o.dataFile = facts;
    return o;
  }
  const update::Verdict verdict =
      policy.rollout ? update::Judge(session_.Identification().identity.ReportedVersion,
                                     facts.version, policy.version)
                     : update::Verdict::Write;
  bool yes = false;
  if (verdict == update::Verdict::Write && !policy.dryRun && !session_.StopRequested()) {
    panel::Question q = session_.ConfirmationQuestion();
    if (policy.rollout) {
      // The CLI's question also says what is about to be written and who signed it.
      q.message.id = TextId::ConfirmQuestionWithFile;
      std::string lines;
      for (const std::string& line : update::DataFileLines(facts)) {
        lines += (lines.empty() ? "" : "\n") + line;
      }
      q.message.args.push_back(lines);
    }
    yes = record_.OnQuestion(q);
  }
  update::Outcome o = session_.FinishRun(yes);
  if (o.result == update::Result::Declined) {
    if (verdict == update::Verdict::Skip) o.result = update::Result::Skipped;
    if (verdict == update::Verdict::Refuse) o.result = update::Result::Refused;
    if (verdict == update::Verdict::Write && policy.dryRun) o.result = update::Result::WouldUpdate;
  }
  o.dataFile = facts;
  return o;
}

DeviceReport SingleRun::Run(const device::Target& target,
                            const std::filesystem::path& namedDataFile,
                            const std::atomic<bool>* stop,
                            const std::filesystem::path& historyPath, update::Outcome* outcome,
                            const RunPolicy& policy) {
  record_.NewRecord();
  session_.UseStopFlag(stop);
  const std::int64_t start = platform::MonotonicMs();
  const update::Outcome result = RunOnce(target, namedDataFile, policy);
  DeviceReport report =
      MakeReport(target, result, record_.Notices(),
                 static_cast<double>(platform::MonotonicMs() - start) / 1000.0);
  historyFailure_.clear();
  if (!historyPath.empty() && !AppendHistory(report, historyPath, &historyFailure_) &&
      !historyFailure_) {
    historyFailure_ = std::make_error_code(std::errc::io_error);
  }
  if (outcome) *outcome = result;
  return report;
}

}  // namespace report
