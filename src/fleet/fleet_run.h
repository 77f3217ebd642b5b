// FleetRun: many devices updated side by side with one confirmation, and one report.
//
// Each device's run is a whole update session of its own (UpdateJob, unchanged: the same
// bytes on the wire, the same notices in its own record, the same clean-up and its own
// XPort restore) on a thread of its own, reporting into a RunHost. What the runs share is
// what the network forces on them: one UDP socket bound to local port 10001, whose
// replies are routed to the run by the sender's address (SharedQuerySocket). The engine
// only schedules, gates, routes and collects: one run's failure never stops another.
//
// The order of a batch:
// 1. Every run identifies its device (XPort queries, the override where needed, the link,
//    Identify) and stops at the gate, where a single run would ask its question.
// 2. Once every run stands at the gate or has ended, the front end is asked one question
//    listing each identified device and each device that failed before, with its reason.
// 3. Yes: every identified device is written. No: each is sent its leave command. Either
//    way each run goes on through its own clean-up.
//
// The limit on jobs bounds how many runs talk to their devices at once. A run holds one
// of the slots while it prepares and identifies, gives it up while it waits at the gate
// and takes one again to write; so with fewer slots than devices, identification goes in
// waves and everything is still identified before the question.
//
// Thread notes: Run() blocks the calling thread, which is also the thread of every front
// end call (Tick, Confirm). RequestStop(), View() and NewNotices() may be called from any
// thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fleet/device_report.h"
#include "fleet/run_host.h"
#include "fleet/shared_query_port.h"
#include "fleet/targets.h"
#include "image/image_set.h"
#include "link/device_link.h"
#include "panel/text_catalog.h"
#include "platform/clock.h"
#include "update/update_procedure.h"
#include "xport/query_client.h"

namespace fleet {

// The most runs that talk to their devices at once, whatever --jobs says.
inline constexpr std::size_t kMaxJobs = 64;

struct FleetOptions {
  std::filesystem::path dataFile;  // empty: looked for where a single run looks for it
  std::size_t jobs = 0;            // 0: every device at once (up to kMaxJobs)
  // Saved XPort records and the history; empty: the state folder.
  std::filesystem::path stateFolder{};
  bool writeHistory = true;
  // Every run's pauses; null: the real sleeper in the mode SleepModeForBatch() chooses for
  // the runs that go on at once.
  platform::Sleeper* sleeper = nullptr;
  // Tests shorten the waits; production keeps these.
  int receiveWaitMs = device::kReceiveWaitMs;
  int replyWaitMs = xport::kReplyWaitMs;
};

// Where a device's run stands, for the live view.
enum class Phase {
  Queued,
  Preparing,
  XPort,
  Identifying,
  Awaiting,
  Writing,
  Verifying,
  Leaving,
  CleanUp,
  Done
};
panel::TextId PhaseText(Phase phase);

struct RunView {
  std::string address;
  std::string model;  // once identified: "KT-21"
  Phase phase = Phase::Queued;
  int percent = 0;  // along the current pass of the progress bar
  bool done = false;
  const DeviceReport* report = nullptr;  // once done; lives as long as the FleetRun
};

class FleetRun;

class FleetFrontEnd {
 public:
  virtual ~FleetFrontEnd() = default;
  // About ten times a second while runs go on, and once more after the last one ended.
  virtual void Tick(FleetRun& run) = 0;
  // The one question, when at least one device was identified. True for Yes.
  virtual bool Confirm(const std::string& text, const std::string& caption) = 0;
};

class FleetRun {
 public:
  // REQUIRES: targets are distinct devices (CheckDistinct).
  FleetRun(std::vector<DeviceTarget> targets, FleetOptions options);
  // Joins whatever still runs (Run() has returned by then in every ordinary use).
  ~FleetRun();
  FleetRun(const FleetRun&) = delete;
  FleetRun& operator=(const FleetRun&) = delete;

  // Runs the whole batch; returns when every device's run has ended and its report (and
  // history line) is made. Call once.
  void Run(FleetFrontEnd& frontEnd);

  // Every run stops at its next block and goes through its clean-up; runs that have not
  // started do not start, and a question not yet answered counts as No.
  void RequestStop();
  bool StopRequested() const { return stop_.load(); }

  std::size_t Size() const { return devices_.size(); }
  std::size_t Jobs() const { return jobs_; }
  RunView View(std::size_t index) const;
  // The notices and questions of device index from the n-th on.
  std::vector<NoticeRecord> NewNotices(std::size_t index, std::size_t n) const;
  // The reports in the order of the targets; complete once Run() has returned.
  std::vector<DeviceReport> Reports() const;

 private:
  struct Device;
  enum class Decision { Open, Yes, No };

  void Work(std::size_t index);
  bool AtGate(std::size_t index, const update::Confirmation& confirmation);
  // Waits for a free slot; false when a stop came first. REQUIRES: lock held.
  bool TakeSlot(std::unique_lock<std::mutex>& lock);
  std::string QuestionText(std::size_t* identified) const;

  FleetOptions options_;
  std::size_t jobs_;
  std::atomic<bool> stop_{false};
  std::unique_ptr<SharedQuerySocket> socket_;
  std::vector<std::unique_ptr<Device>> devices_;

  mutable std::mutex mu_;
  std::condition_variable changed_;
  std::size_t freeSlots_;
  Decision decision_ = Decision::Open;
  std::mutex historyMu_;  // one history line at a time from this process
};

// One device run in the front end's own host (the console with one --address, or a
// dialog): today's run exactly, recorded for the report and the history.
class SingleRun {
 public:
  SingleRun(panel::DialogHost& frontEnd, platform::Sleeper& sleeper);

  // Runs UpdateJob once with namedDataFile (empty: the data file is looked for). stop, when
  // given, ends the run at its next block (an interrupt). Appends the history line to
  // historyPath when it is not empty.
  // *outcome, when given, gets the job's outcome (where the data file was looked for).
  DeviceReport Run(const std::filesystem::path& namedDataFile,
                   const std::atomic<bool>* stop = nullptr,
                   const std::filesystem::path& historyPath = {},
                   update::JobOutcome* outcome = nullptr);

  update::UpdateSession& session() { return session_; }

 private:
  RunHost host_;
  update::UpdateSession session_;
};

}  // namespace fleet
