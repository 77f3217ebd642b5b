#include "fleet/fleet_run.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "fleet/history.h"
#include "fleet/sleep_mode.h"
#include "panel/dialog_host.h"
#include "xport/saved_records.h"

namespace fleet {
namespace {

constexpr auto kTickPeriod = std::chrono::milliseconds(100);

double SecondsSince(std::int64_t startMs) {
  return static_cast<double>(platform::MonotonicMs() - startMs) / 1000.0;
}

std::string WithoutLineEnds(const std::string& text) {
  const auto first = text.find_first_not_of('\n');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of('\n') - first + 1);
}

}  // namespace

struct FleetRun::Device {
  Device(DeviceTarget t, platform::Sleeper& sleeper)
      : target(std::move(t)), session(host, sleeper) {}

  DeviceTarget target;
  RunHost host;
  update::UpdateSession session;
  std::unique_ptr<xport::QueryPort> port;
  std::thread thread;
  std::int64_t startMs = 0;

  // Guarded by FleetRun::mu_.
  enum class State { Queued, Active, AtGate, Done } state = State::Queued;
  bool holdsSlot = false;
  update::Confirmation confirmation;
  std::string portText;  // the port it connected to, at the gate
  std::string mac;       // "00-20-4A-0B-4C-0E", at the gate
  DeviceReport report;
};

panel::TextId PhaseText(Phase phase) {
  switch (phase) {
    case Phase::Queued:
      return panel::TextId::PhaseQueued;
    case Phase::Preparing:
      return panel::TextId::PhasePreparing;
    case Phase::XPort:
      return panel::TextId::PhaseXPort;
    case Phase::Identifying:
      return panel::TextId::PhaseIdentifying;
    case Phase::Awaiting:
      return panel::TextId::PhaseAwaiting;
    case Phase::Writing:
      return panel::TextId::PhaseWriting;
    case Phase::Verifying:
      return panel::TextId::PhaseVerifying;
    case Phase::Leaving:
      return panel::TextId::PhaseLeaving;
    case Phase::CleanUp:
      return panel::TextId::PhaseCleanUp;
    case Phase::Done:
      break;
  }
  return panel::TextId::PhaseDone;
}

FleetRun::FleetRun(std::vector<DeviceTarget> targets, FleetOptions options)
    : options_(std::move(options)), socket_(std::make_unique<SharedQuerySocket>()) {
  const std::size_t wanted = options_.jobs == 0 ? targets.size() : options_.jobs;
  jobs_ = std::clamp<std::size_t>(wanted, 1, kMaxJobs);
  freeSlots_ = jobs_;
  platform::Sleeper& sleeper =
      options_.sleeper ? *options_.sleeper
                       : platform::RealSleeper(SleepModeForBatch(std::min(targets.size(), jobs_)));
  for (DeviceTarget& t : targets) {
    auto d = std::make_unique<Device>(std::move(t), sleeper);
    d->host.Prefill(panel::IDC_ADDRESS, d->target.address);
    // No port given: an empty box, so the run takes the XPort's LocalPort without asking.
    d->host.Prefill(panel::IDC_PORT, d->target.port ? std::to_string(*d->target.port) : "");
    // A port given that differs from the XPort's LocalPort: the run's question is answered
    // Yes, so the device is reached where its XPort says it listens. The port it used is
    // shown in the one question before anything is written.
    d->host.SetQuestionAnswer(true);
    d->port = socket_->NewPort();
    update::UpdateSession& s = d->session;
    s.xport.UseQueryPort(d->port.get());
    s.xport.SetReplyWaitMs(options_.replyWaitMs);
    s.link.SetReceiveWaitMs(options_.receiveWaitMs);
    if (!options_.stateFolder.empty()) s.savedRecords = xport::SavedRecords(options_.stateFolder);
    s.stopRequest = &stop_;
    const std::size_t index = devices_.size();
    s.confirm = [this, index](const update::Confirmation& c) { return AtGate(index, c); };
    d->report.address = d->target.address;
    devices_.push_back(std::move(d));
  }
}

FleetRun::~FleetRun() {
  RequestStop();
  for (auto& d : devices_) {
    if (d->thread.joinable()) d->thread.join();
  }
}

void FleetRun::RequestStop() {
  {
    std::lock_guard lock(mu_);
    stop_ = true;
  }
  changed_.notify_all();
}

void FleetRun::Run(FleetFrontEnd& frontEnd) {
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    devices_[i]->thread = std::thread([this, i] { Work(i); });
  }
  for (;;) {
    {
      std::unique_lock lock(mu_);
      changed_.wait_for(lock, kTickPeriod);
    }
    // The front end sees where every run stands before it is asked anything.
    frontEnd.Tick(*this);
    std::unique_lock lock(mu_);
    std::size_t done = 0, atGate = 0;
    for (const auto& d : devices_) {
      done += d->state == Device::State::Done;
      atGate += d->state == Device::State::AtGate;
    }
    if (done == devices_.size()) break;
    if (decision_ == Decision::Open && (stop_ || done + atGate == devices_.size())) {
      // Every device is identified or out: the one question, unless there is nothing to ask.
      std::size_t identified = 0;
      const std::string text = QuestionText(&identified);
      bool yes = false;
      if (!stop_ && identified > 0) {
        lock.unlock();
        frontEnd.Tick(*this);
        yes = frontEnd.Confirm(text, panel::Text(panel::TextId::CaptionConfirm));
        lock.lock();
      }
      decision_ = yes && !stop_ ? Decision::Yes : Decision::No;
      changed_.notify_all();
    }
  }
  for (auto& d : devices_) d->thread.join();
  frontEnd.Tick(*this);
}

bool FleetRun::TakeSlot(std::unique_lock<std::mutex>& lock) {
  changed_.wait(lock, [this] { return freeSlots_ > 0 || stop_; });
  if (stop_) return false;
  --freeSlots_;
  return true;
}

void FleetRun::Work(std::size_t index) {
  Device& d = *devices_[index];
  {
    std::unique_lock lock(mu_);
    if (!TakeSlot(lock)) {
      // Stopped before its turn: nothing was sent to this device.
      d.report.interrupted = true;
      d.report.reason = panel::Text(panel::TextId::ReasonNotStarted);
      d.state = Device::State::Done;
      changed_.notify_all();
      return;
    }
    d.holdsSlot = true;
    d.state = Device::State::Active;
  }
  d.startMs = platform::MonotonicMs();
  const update::JobOutcome outcome = update::UpdateJob(d.session, options_.dataFile);
  DeviceReport report = MakeReport(d.session, d.host, outcome, SecondsSince(d.startMs));
  if (options_.writeHistory) {
    std::lock_guard history(historyMu_);
    AppendHistory(report, HistoryPath(options_.stateFolder));
  }
  std::lock_guard lock(mu_);
  if (d.holdsSlot) ++freeSlots_;
  d.holdsSlot = false;
  d.report = std::move(report);
  d.state = Device::State::Done;
  changed_.notify_all();
}

bool FleetRun::AtGate(std::size_t index, const update::Confirmation& confirmation) {
  Device& d = *devices_[index];
  const std::string port = d.host.Text(panel::IDC_PORT);
  const std::string mac = xport::MacKey(d.session.xport.XPortInfo());
  std::unique_lock lock(mu_);
  d.confirmation = confirmation;
  d.portText = port;
  d.mac = mac;
  d.state = Device::State::AtGate;
  // Waiting costs the device nothing: its slot goes to a run that still identifies.
  if (d.holdsSlot) ++freeSlots_;
  d.holdsSlot = false;
  changed_.notify_all();
  changed_.wait(lock, [this] { return decision_ != Decision::Open || stop_; });
  d.state = Device::State::Active;
  if (decision_ != Decision::Yes || stop_) return false;
  if (!TakeSlot(lock)) return false;
  d.holdsSlot = true;
  return true;
}

std::string FleetRun::QuestionText(std::size_t* identified) const {
  std::string listed, failed;
  *identified = 0;
  for (const auto& d : devices_) {
    if (d->state == Device::State::AtGate) {
      const update::Confirmation& c = d->confirmation;
      listed += "  " + d->target.address + ":" + d->portText + "  MAC:" + d->mac + "  " + c.model +
                "  " + c.versionText + "\n    " + WithoutLineEnds(c.caution) + "\n";
      ++*identified;
    } else if (d->state == Device::State::Done) {
      failed += "  " + d->target.address + "  " + d->report.reason + "\n";
    }
  }
  std::string text = std::string(panel::Text(panel::TextId::BatchQuestionHead)) + "\n" + listed;
  if (!failed.empty())
    text += std::string("\n") + panel::Text(panel::TextId::BatchQuestionFailedHead) + "\n" + failed;
  text += "\n" + panel::FormatText(panel::TextId::BatchQuestionAsk, {std::to_string(*identified)});
  return text;
}

RunView FleetRun::View(std::size_t index) const {
  const Device& d = *devices_[index];
  RunView v;
  v.address = d.target.address;
  v.percent = d.host.Percent();
  std::lock_guard lock(mu_);
  // The model as the question names it, once the run has stood at the gate.
  const std::string& model = d.confirmation.model;
  v.model = model.rfind("Model:", 0) == 0 ? model.substr(6) : model;
  switch (d.state) {
    case Device::State::Queued:
      v.phase = Phase::Queued;
      return v;
    case Device::State::AtGate:
      v.phase = Phase::Awaiting;
      return v;
    case Device::State::Done:
      v.phase = Phase::Done;
      v.done = true;
      v.report = &d.report;
      return v;
    case Device::State::Active:
      break;
  }
  switch (d.session.stage.load()) {
    case update::Stage::Idle:
    case update::Stage::Preparing:
      v.phase = Phase::Preparing;
      break;
    case update::Stage::XPort:
      v.phase = Phase::XPort;
      break;
    case update::Stage::Linked:
    case update::Stage::Identified:
      v.phase = Phase::Identifying;
      break;
    case update::Stage::Writing:
      v.phase = Phase::Writing;
      break;
    case update::Stage::Verifying:
      v.phase = Phase::Verifying;
      break;
    case update::Stage::Leaving:
      v.phase = Phase::Leaving;
      break;
    case update::Stage::CleanUp:
      v.phase = Phase::CleanUp;
      break;
  }
  return v;
}

std::vector<NoticeRecord> FleetRun::NewNotices(std::size_t index, std::size_t n) const {
  std::vector<NoticeRecord> all = devices_[index]->host.Notices();
  if (n >= all.size()) return {};
  return {all.begin() + static_cast<std::ptrdiff_t>(n), all.end()};
}

std::vector<DeviceReport> FleetRun::Reports() const {
  std::lock_guard lock(mu_);
  std::vector<DeviceReport> reports;
  for (const auto& d : devices_) reports.push_back(d->report);
  return reports;
}

SingleRun::SingleRun(panel::DialogHost& frontEnd, platform::Sleeper& sleeper)
    : host_(&frontEnd), session_(host_, sleeper) {}

DeviceReport SingleRun::Run(const std::filesystem::path& namedDataFile,
                            const std::atomic<bool>* stop, const std::filesystem::path& historyPath,
                            update::JobOutcome* outcome) {
  host_.NewRecord();
  session_.stopRequest = stop;
  const std::int64_t start = platform::MonotonicMs();
  const update::JobOutcome result = update::UpdateJob(session_, namedDataFile);
  DeviceReport report = MakeReport(session_, host_, result, SecondsSince(start));
  if (!historyPath.empty()) AppendHistory(report, historyPath);
  if (outcome) *outcome = result;
  return report;
}

}  // namespace fleet
