#include "batch/batch_run.h"

#include <algorithm>
#include <chrono>
#include <set>

#include "batch/sleep_mode.h"
#include "report/history.h"
#include "update/update_procedure.h"
#include "xport/saved_records.h"

namespace batch {
namespace {

using panel::TextId;

constexpr auto kTickPeriod = std::chrono::milliseconds(100);

std::string WithoutLineEnds(const std::string& text) {
  const auto first = text.find_first_not_of('\n');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of('\n') - first + 1);
}

std::string ListLine(const QuestionEntry& e, std::uint16_t imageVersion) {
  const device::ModelInfo* model = device::FindModel(e.modelCode);
  return "  " + e.address + ":" + std::to_string(e.port) + "  MAC:" + e.mac + "  " +
         (model ? model->questionLine : "") + "  " +
         panel::VersionLineText({e.versionBefore, imageVersion}) + "\n";
}

}  // namespace

std::string GroupHead(TextId head, std::size_t count) {
  return std::string(panel::Text(head)) + " " + std::to_string(count);
}

std::string QuestionText(const BatchQuestion& q) {
  using panel::Text;
  std::string text = GroupHead(TextId::BatchQuestionHead, q.toWrite.size()) + "\n";
  std::vector<int> models;  // in the order they first appear
  for (const QuestionEntry& e : q.toWrite) {
    text += ListLine(e, q.imageVersion);
    if (std::find(models.begin(), models.end(), e.modelCode) == models.end()) {
      models.push_back(e.modelCode);
    }
  }
  // Each model's caution once, however many of its devices are listed.
  for (const int code : models) {
    if (const device::ModelInfo* model = device::FindModel(code)) {
      text += std::string("  ") + model->name + ": " + WithoutLineEnds(Text(model->caution)) + "\n";
    }
  }
  if (!q.skipped.empty()) {
    text += "\n" + GroupHead(TextId::BatchQuestionSkippedHead, q.skipped.size()) + "\n";
    for (const QuestionEntry& e : q.skipped) text += ListLine(e, q.imageVersion);
  }
  if (!q.refused.empty()) {
    text += "\n" + GroupHead(TextId::BatchQuestionRefusedHead, q.refused.size()) + "\n";
    for (const QuestionEntry& e : q.refused) text += ListLine(e, q.imageVersion);
  }
  if (!q.failed.empty()) {
    text += "\n" + GroupHead(TextId::BatchQuestionFailedHead, q.failed.size()) + "\n";
    for (const FailedEntry& f : q.failed) {
      // One device, one line: a reason written over several lines is put on one.
      std::string reason = WithoutLineEnds(update::ReasonText(f.failure));
      std::replace(reason.begin(), reason.end(), '\n', ' ');
      text += "  " + f.address + "  " + reason + "\n";
    }
  }
  for (const std::string& line : update::DataFileLines(q.dataFile)) text += "\n" + line;
  text += "\n";
  const std::size_t writes = q.toWrite.size();
  if (q.canary > 0 && q.canary < writes) {
    text += "\n" + panel::FormatText(TextId::BatchQuestionCanary,
                                     {std::to_string(q.canary), std::to_string(writes - q.canary)});
  }
  if (q.maxFailures > 0) {
    text += "\n" + panel::FormatText(TextId::BatchQuestionFailureLimit,
                                     {std::to_string(q.maxFailures)});
  }
  const TextId ask = writes == 1 ? TextId::BatchQuestionAskOne : TextId::BatchQuestionAsk;
  text += "\n" + panel::FormatText(ask, {std::to_string(writes)});
  return text;
}

struct BatchRun::Device {
  explicit Device(NamedTarget t) : named(std::move(t)) {}

  NamedTarget named;
  report::RunRecord record;
  std::unique_ptr<xport::QueryPort> port;
  // From the start of its identification to the end of its run.
  std::unique_ptr<update::UpdateSession> session;
  std::int64_t activeMs = 0;  // time in its phases, the wait at the question left out

  // Guarded by BatchRun::mu_.
  enum class State { Queued, Active, AtGate, Done } state = State::Queued;
  Verdict verdict = Verdict::Write;
  update::Identified identified;
  report::DeviceReport report;
};

BatchRun::BatchRun(std::vector<NamedTarget> targets, BatchOptions options)
    : options_(std::move(options)), socket_(std::make_unique<xport::SharedQuerySocket>()) {
  const std::size_t wanted = options_.jobs == 0 ? targets.size() : options_.jobs;
  jobs_ = std::clamp<std::size_t>(wanted, 1, std::min(kMaxJobs, std::max<std::size_t>(targets.size(), 1)));
  sleeper_ = options_.sleeper ? options_.sleeper
                              : &platform::RealSleeper(SleepModeForBatch(jobs_));
  for (NamedTarget& t : targets) {
    auto d = std::make_unique<Device>(std::move(t));
    d->report.address = device::AddressText(d->named.target);
    d->report.port = d->named.target.port;
    devices_.push_back(std::move(d));
  }
}

BatchRun::~BatchRun() {
  RequestStop();
  {
    std::lock_guard lock(mu_);
    closed_ = true;
  }
  changed_.notify_all();
  for (std::thread& w : workers_) {
    if (w.joinable()) w.join();
  }
}

void BatchRun::RequestStop() {
  {
    std::lock_guard lock(mu_);
    stop_ = true;
  }
  changed_.notify_all();
}

std::size_t BatchRun::PeakBusy() const {
  std::lock_guard lock(mu_);
  return peakBusy_;
}

bool BatchRun::ReadDataFile() {
  image::ImageSet images;
  image::DataFileFacts facts;
  fileFailure_ = {update::FailureKind::DataFileUnreadable, {}};
  if (!update::ReadDataFile(images, fileRecord_, options_.dataFile, options_.integrity, &facts,
                            &dataFileLookedIn_)) {
    return false;
  }
  dataFile_ = facts;
  fileFailure_ = update::JudgeDataFile(facts, options_.integrity);
  if (fileFailure_.kind != update::FailureKind::None) {
    fileRecord_.OnEvent(panel::NoticeRaised{update::ReasonMessage(fileFailure_)});
    return false;
  }
  firmware_ = images.SharedFirmware();
  imageVersion_ = images.ImageVersion();
  return true;
}

void BatchRun::Enqueue(Task task, std::size_t index) {
  queue_.push_back({task, index});
  changed_.notify_all();
}

template <typename Pred>
void BatchRun::TickUntil(BatchFrontEnd& frontEnd, Pred pred) {
  for (;;) {
    {
      std::unique_lock lock(mu_);
      if (pred()) return;
      changed_.wait_for(lock, kTickPeriod);
      if (pred()) return;
    }
    frontEnd.Tick(*this);
  }
}

void BatchRun::Run(BatchFrontEnd& frontEnd) {
  if (!ReadDataFile()) {
    // Nothing goes on the network: every device fails with the data file's notices.
    update::Outcome outcome;
    outcome.failure = fileFailure_;
    outcome.dataFile = dataFile_;
    for (auto& d : devices_) {
      for (const report::NoticeRecord& n : fileRecord_.Notices()) d->record.AddNotice(n);
      outcome.port = d->named.target.port;
      Conclude(*d, outcome);
    }
    frontEnd.Tick(*this);
    return;
  }

  {
    std::lock_guard lock(mu_);
    for (std::size_t i = 0; i < devices_.size(); ++i) Enqueue(Task::Identify, i);
  }
  for (std::size_t w = 0; w < jobs_; ++w) workers_.emplace_back([this] { Worker(); });

  // 1. Everyone identified, or out.
  TickUntil(frontEnd, [this] {
    return std::none_of(devices_.begin(), devices_.end(), [](const auto& d) {
      return d->state == Device::State::Queued || d->state == Device::State::Active;
    });
  });
  frontEnd.Tick(*this);
  // 2-4. The policy, the question, the writing.
  Decide(frontEnd);
  TickUntil(frontEnd, [this] {
    return std::all_of(devices_.begin(), devices_.end(),
                       [](const auto& d) { return d->state == Device::State::Done; });
  });
  {
    std::lock_guard lock(mu_);
    closed_ = true;
  }
  changed_.notify_all();
  for (std::thread& w : workers_) w.join();
  workers_.clear();
  frontEnd.Tick(*this);
}

BatchQuestion BatchRun::MakeQuestion() {
  BatchQuestion q;
  q.imageVersion = imageVersion_;
  if (dataFile_) q.dataFile = *dataFile_;
  q.canary = options_.canary;
  q.maxFailures = options_.maxFailures;
  std::lock_guard lock(mu_);
  for (const auto& d : devices_) {
    if (d->state == Device::State::AtGate) {
      d->verdict = Judge(d->identified.identity.ReportedVersion, imageVersion_, options_.policy);
      const QuestionEntry e{d->report.address, d->identified.port, xport::FormatMac(d->identified.mac),
                            d->identified.identity.ModelCode, d->identified.identity.ReportedVersion};
      (d->verdict == Verdict::Write ? q.toWrite : d->verdict == Verdict::Skip ? q.skipped : q.refused)
          .push_back(e);
    } else if (d->state == Device::State::Done) {
      q.failed.push_back({d->report.address, d->report.failure});
    }
  }
  return q;
}

void BatchRun::Decide(BatchFrontEnd& frontEnd) {
  const BatchQuestion question = MakeQuestion();
  bool yes = false;
  if (!stop_ && !options_.dryRun && !question.toWrite.empty()) {
    yes = frontEnd.Confirm(*this, question);
    // Every identified device keeps the question and its answer in its record.
    const std::string text = QuestionText(question);
    const std::string caption = panel::CaptionText(panel::Caption::Confirm);
    std::lock_guard lock(mu_);
    for (auto& d : devices_) {
      if (d->state == Device::State::AtGate) d->record.RecordQuestion(text, caption, yes && !stop_);
    }
  }

  std::vector<std::size_t> writes;
  {
    std::lock_guard lock(mu_);
    for (std::size_t i = 0; i < devices_.size(); ++i) {
      Device& d = *devices_[i];
      if (d.state != Device::State::AtGate) continue;
      // A stop (also one during the question) sends each its leave command and restore.
      if (yes && !stop_ && d.verdict == Verdict::Write) {
        writes.push_back(i);
      } else {
        Enqueue(Task::Leave, i);
      }
    }
  }
  const std::size_t canary = std::min(options_.canary, writes.size());
  std::size_t next = 0;
  if (canary > 0) {
    {
      std::lock_guard lock(mu_);
      for (; next < canary; ++next) Enqueue(Task::Write, writes[next]);
    }
    TickUntil(frontEnd, [&] {
      return std::all_of(writes.begin(), writes.begin() + static_cast<std::ptrdiff_t>(canary),
                         [this](std::size_t i) { return devices_[i]->state == Device::State::Done; });
    });
    const bool passed = std::all_of(
        writes.begin(), writes.begin() + static_cast<std::ptrdiff_t>(canary),
        [this](std::size_t i) { return devices_[i]->report.result == update::Result::Updated; });
    if (!passed) {
      std::lock_guard lock(mu_);
      for (; next < writes.size(); ++next) Enqueue(Task::NotStarted, writes[next]);
    }
  }
  std::lock_guard lock(mu_);
  for (; next < writes.size(); ++next) Enqueue(Task::Write, writes[next]);
}

void BatchRun::Worker() {
  for (;;) {
    Job job;
    {
      std::unique_lock lock(mu_);
      changed_.wait(lock, [this] { return !queue_.empty() || closed_; });
      if (queue_.empty()) return;
      job = queue_.front();
      queue_.pop_front();
      Device& d = *devices_[job.index];
      if (job.task == Task::Identify && stop_) {
        // Stopped before its turn: nothing was sent to this device.
        lock.unlock();
        update::Outcome outcome;
        outcome.result = update::Result::Interrupted;
        outcome.failure = {update::FailureKind::Interrupted, {}};
        outcome.interrupted = true;
        outcome.port = d.named.target.port;
        Conclude(d, std::move(outcome));
        continue;
      }
      // The failure limit: a device not yet begun is not begun.
      if (job.task == Task::Write && options_.maxFailures > 0 &&
          writeFailures_ >= options_.maxFailures) {
        job.task = Task::NotStarted;
      }
      d.state = Device::State::Active;
      peakBusy_ = std::max(peakBusy_, ++busy_);
    }
    Device& d = *devices_[job.index];
    if (job.task == Task::Identify) {
      Identify(d);
    } else {
      Finish(d, job.task);
    }
    std::lock_guard lock(mu_);
    --busy_;
    changed_.notify_all();
  }
}

void BatchRun::Identify(Device& d) {
  const std::int64_t start = platform::MonotonicMs();
  d.port = socket_->NewPort();
  d.session = std::make_unique<update::UpdateSession>(d.record, *sleeper_, options_.session);
  update::UpdateSession& s = *d.session;
  s.XPort().UseQueryPort(d.port.get());
  if (!options_.stateFolder.empty()) s.UseSavedRecords(xport::SavedRecords(options_.stateFolder));
  s.UseStopFlag(&stop_);
  s.Images().UseFirmware(firmware_, imageVersion_);
  const bool identified = s.BeginRun(d.named.target);
  d.activeMs += platform::MonotonicMs() - start;
  if (!identified) {
    Conclude(d, s.LastOutcome());
    return;
  }
  std::lock_guard lock(mu_);
  d.identified = s.Identification();
  d.report.port = d.identified.port;
  d.state = Device::State::AtGate;
}

void BatchRun::Finish(Device& d, Task task) {
  const std::int64_t start = platform::MonotonicMs();
  update::Outcome outcome = d.session->FinishRun(task == Task::Write);
  d.activeMs += platform::MonotonicMs() - start;
  // What the device's No stands for, when it was not the operator's.
  if (outcome.result == update::Result::Declined) {
    if (task == Task::NotStarted) {
      outcome.result = update::Result::NotStarted;
      outcome.failure = {update::FailureKind::NotStarted, {}};
    } else if (d.verdict == Verdict::Skip) {
      outcome.result = update::Result::Skipped;
    } else if (d.verdict == Verdict::Refuse) {
      outcome.result = update::Result::Refused;
    } else if (options_.dryRun) {
      outcome.result = update::Result::WouldUpdate;
    }
  }
  if (task == Task::Write && outcome.result == update::Result::Failed) {
    std::lock_guard lock(mu_);
    ++writeFailures_;
  }
  Conclude(d, std::move(outcome));
}

void BatchRun::Conclude(Device& d, update::Outcome outcome) {
  if (!outcome.dataFile) outcome.dataFile = dataFile_;
  d.session.reset();  // the run has ended: its socket and images go now
  d.port.reset();
  report::DeviceReport r = report::MakeReport(d.named.target, outcome, d.record.Notices(),
                                              static_cast<double>(d.activeMs) / 1000.0);
  if (options_.writeHistory) {
    std::lock_guard history(historyMu_);
    std::error_code why;
    if (!report::AppendHistory(r, report::HistoryPath(options_.stateFolder), &why) &&
        historyFailures_++ == 0) {
      historyFailure_ = why ? why : std::make_error_code(std::errc::io_error);
    }
  }
  std::lock_guard lock(mu_);
  d.report = std::move(r);
  d.state = Device::State::Done;
  d.record.SetStage(panel::Stage::Done);
  changed_.notify_all();
}

DeviceView BatchRun::View(std::size_t index) const {
  const Device& d = *devices_[index];
  DeviceView v;
  v.stage = d.record.Stage();
  v.percent = d.record.Percent();
  const std::optional<device::DeviceIdentity> identity = d.record.Identity();
  std::lock_guard lock(mu_);
  v.address = d.report.address;
  v.port = d.report.port;
  if (identity) {
    if (const device::ModelInfo* model = device::FindModel(identity->ModelCode)) v.model = model->name;
    v.versionBefore = identity->ReportedVersion;
  }
  if (d.state == Device::State::AtGate || d.state == Device::State::Active) {
    if (d.identified.port != 0) v.mac = xport::FormatMac(d.identified.mac);
  }
  if (d.state == Device::State::Done) {
    v.done = true;
    v.stage = panel::Stage::Done;
    v.report = &d.report;
    v.mac = d.report.mac;
  } else if (d.state == Device::State::AtGate) {
    v.stage = panel::Stage::Awaiting;
  } else if (d.state == Device::State::Queued) {
    v.stage = panel::Stage::Queued;
  }
  return v;
}

std::size_t BatchRun::HistoryFailures(std::error_code* first) const {
  std::lock_guard lock(historyMu_);
  if (first) *first = historyFailure_;
  return historyFailures_;
}

std::vector<report::NoticeRecord> BatchRun::NewNotices(std::size_t index, std::size_t n) const {
  return devices_[index]->record.NoticesFrom(n);
}

std::vector<report::DeviceReport> BatchRun::Reports() const {
  std::lock_guard lock(mu_);
  std::vector<report::DeviceReport> reports;
  for (const auto& d : devices_) reports.push_back(d->report);
  return reports;
}

}  // namespace batch
