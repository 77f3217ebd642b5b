// BatchRun: many devices updated side by side with one confirmation, and one report.
//
// Each device's run is a whole update session of its own (the same bytes on the wire, the
// same notices in its own record, the same clean-up and its own XPort restore). What the
// runs share is what the network forces on them: one UDP socket bound to local port 10001,
// whose replies are routed to the run by the sender's address (xport::SharedQuerySocket),
// and the data file, read and parsed once for all of them.
//
// The order of a batch:
// 1. Every device is identified (XPort queries, the settings change where needed, the
//    link, the identify exchange) and waits at the question, holding its TCP connection.
// 2. The version policy sorts the identified devices: written, skipped (already at the
//    data file's version) or refused (newer than the data file).
// 3. One question lists them, and the devices that failed before; nothing to write, a dry
//    run or a stop asks nothing.
// 4. Yes: the devices to write are written (a canary group first, when asked for, and no
//    new one once the failure limit is reached); every other identified device gets its
//    leave command. Each device's run ends with its own clean-up.
//
// A fixed number of workers (--jobs) runs the devices' phases, in the shape of a build
// tool's job runner: a worker takes the next phase that may start, runs it and takes the
// next. Every phase that talks to a device (identifying, writing, the leave command and
// the restore after No) holds a worker, so at most --jobs devices talk to the network at
// once, and the threads stay bounded whatever the number of devices.
//
// Thread notes: Run() blocks the calling thread, which is also the thread of every front
// end call (Tick, Confirm). RequestStop(), View() and NewNotices() may be called from any
// thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "batch/targets.h"
#include "panel/events.h"
#include "panel/text_catalog.h"
#include "platform/clock.h"
#include "report/device_report.h"
#include "report/run_record.h"
#include "update/rollout.h"
#include "update/update_session.h"
#include "xport/shared_query_socket.h"

namespace batch {

// The most runs that talk to their devices at once, whatever --jobs says.
inline constexpr std::size_t kMaxJobs = 64;
// The largest batch. Every identified device keeps its TCP connection until its leave
// command, so a batch also needs that many open files (RaiseOpenFileLimit).
inline constexpr std::size_t kMaxDevices = 4096;

using update::Judge;
using update::Verdict;
using update::VersionPolicy;

struct BatchOptions {
  std::filesystem::path dataFile;  // empty: looked for where a single run looks for it
  std::size_t jobs = 0;            // 0: every device at once (up to kMaxJobs)
  // Saved XPort records and the history; empty: the state folder.
  std::filesystem::path stateFolder{};
  bool writeHistory = true;
  // Every run's pauses; null: the real sleeper in the mode SleepModeForBatch() chooses for
  // the runs that go on at once.
  platform::Sleeper* sleeper = nullptr;
  update::SessionOptions session{};
  VersionPolicy policy{};
  update::IntegrityPolicy integrity{};  // check on: the data file is judged before anything
  std::size_t canary = 0;       // write this many first; the rest only when all of them pass
  std::size_t maxFailures = 0;  // once this many failed while writing, start no more (0: none)
  bool dryRun = false;          // identify and judge, write nothing
};

// A device as the one question lists it.
struct QuestionEntry {
  std::string address;
  int port = 0;
  std::string mac;
  int modelCode = 0;
  int versionBefore = 0;
};
struct FailedEntry {
  std::string address;
  update::Failure failure;
};
// The one question, as values; QuestionText renders it.
struct BatchQuestion {
  std::vector<QuestionEntry> toWrite, skipped, refused;
  std::vector<FailedEntry> failed;
  std::uint16_t imageVersion = 0;
  image::DataFileFacts dataFile;  // its SHA-256, signature and checksum errors
  std::size_t canary = 0;
  std::size_t maxFailures = 0;
};
// The question as the console asks it, in the current language.
std::string QuestionText(const BatchQuestion& question);
// A group's head with its count ("Devices to update: 3"), the same in every window.
std::string GroupHead(panel::TextId head, std::size_t count);

// One device as a live view shows it.
struct DeviceView {
  std::string address;
  std::optional<int> port;            // once the XPort told it (or the target gave it)
  std::optional<std::string> mac;
  std::string model;                  // once identified: "KT-21"
  std::optional<int> versionBefore;   // once identified
  panel::Stage stage = panel::Stage::Queued;
  int percent = 0;  // along the current pass of the progress bar
  bool done = false;
  const report::DeviceReport* report = nullptr;  // once done; lives as long as the run
};

class BatchRun;

class BatchFrontEnd {
 public:
  virtual ~BatchFrontEnd() = default;
  // About ten times a second while runs go on, and once more after the last one ended.
  virtual void Tick(BatchRun& run) = 0;
  // The one question, when there is something to write. True for Yes. A front end that
  // learns of an interrupt while it asks calls run.RequestStop() before it returns.
  virtual bool Confirm(BatchRun& run, const BatchQuestion& question) = 0;
};

class BatchRun {
 public:
  // REQUIRES: targets are distinct devices (CheckDistinct), at most kMaxDevices.
  BatchRun(std::vector<NamedTarget> targets, BatchOptions options);
  // Stops and joins whatever still runs (Run() has returned by then in every ordinary use).
  ~BatchRun();
  BatchRun(const BatchRun&) = delete;
  BatchRun& operator=(const BatchRun&) = delete;

  // Runs the whole batch; returns when every device's run has ended and its report (and
  // history line) is made. Call once.
  void Run(BatchFrontEnd& frontEnd);

  // Every run stops at its next block and goes through its clean-up; devices not yet
  // begun are not begun, and the question not yet answered counts as an interrupt.
  void RequestStop();
  bool StopRequested() const { return stop_.load(); }

  std::size_t Size() const { return devices_.size(); }
  std::size_t Jobs() const { return jobs_; }
  // The most workers that were busy at once (for tests and measurements).
  std::size_t PeakBusy() const;
  DeviceView View(std::size_t index) const;
  // The notices and questions of device index from the n-th on.
  std::vector<report::NoticeRecord> NewNotices(std::size_t index, std::size_t n) const;
  // The reports in the order of the targets; complete once Run() has returned.
  std::vector<report::DeviceReport> Reports() const;
  // The data file's notices when it could not be read (every device then failed), and
  // every place it was looked for when none held it.
  std::vector<report::NoticeRecord> DataFileNotices() const { return fileRecord_.Notices(); }
  const std::vector<std::filesystem::path>& DataFileLookedIn() const { return dataFileLookedIn_; }
  // Why a history line could not be written (the first such reason), and for how many
  // devices; zero when every line was written.
  std::size_t HistoryFailures(std::error_code* first) const;
  // What was known of the data file, once Run() has read it.
  const std::optional<image::DataFileFacts>& DataFile() const { return dataFile_; }

 private:
  struct Device;
  enum class Task { Identify, Write, Leave, NotStarted };
  struct Job {
    Task task;
    std::size_t index;
  };

  bool ReadDataFile();
  void Worker();
  void Identify(Device& d);
  void Finish(Device& d, Task task);
  void Conclude(Device& d, update::Outcome outcome);
  void Enqueue(Task task, std::size_t index);
  // Waits, ticking the front end, until pred() holds (under mu_).
  template <typename Pred>
  void TickUntil(BatchFrontEnd& frontEnd, Pred pred);
  BatchQuestion MakeQuestion();
  void Decide(BatchFrontEnd& frontEnd);

  BatchOptions options_;
  std::size_t jobs_;
  std::atomic<bool> stop_{false};
  platform::Sleeper* sleeper_;
  std::unique_ptr<xport::SharedQuerySocket> socket_;
  std::vector<std::unique_ptr<Device>> devices_;
  report::RunRecord fileRecord_;
  std::shared_ptr<const image::ImageBuffer> firmware_;
  std::uint16_t imageVersion_ = 0;
  std::vector<std::filesystem::path> dataFileLookedIn_;
  std::optional<image::DataFileFacts> dataFile_;
  update::Failure fileFailure_{};  // why the data file may not be written, when it may not

  mutable std::mutex mu_;
  std::condition_variable changed_;  // a device's state changed, or a job was queued
  std::deque<Job> queue_;
  bool closed_ = false;  // no more jobs: the workers end once the queue is empty
  std::size_t busy_ = 0;
  std::size_t peakBusy_ = 0;
  std::size_t writeFailures_ = 0;
  std::vector<std::thread> workers_;
  mutable std::mutex historyMu_;  // one history line at a time from this process
  std::size_t historyFailures_ = 0;
  std::error_code historyFailure_;
};

}  // namespace batch
