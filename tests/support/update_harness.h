// One whole update against a fresh quivo-sim, shared by the update, fault-matrix, soak and
// hostile-peer tests: a RecordingHost answers the questions from a script, a
// RecordingSleeper records the 2,000 ms XPort steps and 1 ms pauses instead of taking
// them, the receive and reply waits are short and the simulated XPort settles at once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/simulator.h"
#include "support/hex_files.h"
#include "support/recording_host.h"
#include "support/recording_sleeper.h"
#include "update/update_procedure.h"

namespace testing_support {

inline constexpr const char* kFinalStatus = "QUIVOの電源を入れ直してから接続して下さい。";
inline constexpr std::uint16_t kDeviceVersion = 12;
inline constexpr std::uint16_t kImageVersion = 13;
// The waits a run is given unless a test sets its own.
inline constexpr int kHarnessWaitMs = 300;

class UpdateRun {
 public:
  explicit UpdateRun(sim::Config config = {});
  ~UpdateRun();
  UpdateRun(const UpdateRun&) = delete;
  UpdateRun& operator=(const UpdateRun&) = delete;

  // The simulator of the next Run(), for a test that runs one session several times.
  void Reconfigure(sim::Config config);

  // Starts the simulator, fills the two boxes and runs the job. answers are the operator's
  // answers to the questions, in order. IDC_PORT gets port when it is set, else the
  // simulator's TCP port.
  update::JobOutcome Run(std::vector<bool> answers = {true});

  sim::Simulator& device() { return *sim_; }
  // Stops and drops the last run's simulator, closing its sockets.
  void StopDevice() { sim_.reset(); }
  update::UpdateSession& session() { return session_; }
  const sim::Record& originalRecord() const { return originalRecord_; }
  const std::string& hexPath() const { return hexPath_; }
  const TempDir& dir() const { return dir_; }
  // Wall time of the last Run(), in milliseconds.
  std::int64_t ElapsedMs() const { return elapsedMs_; }
  int ReceiveWaitMs() const;
  int ReplyWaitMs() const;
  // Both waits at once; takes effect for the next Run().
  void SetWaitsMs(int receiveMs, int replyMs);

  // The image the simulator's sample data file holds.
  static sim::Memory Image();

  // The state every run that reached the procedure ends in.
  void ExpectReadyAgain() const;

  std::string Mac() const { return session_.xport.FormatMacAddress(); }
  // The XPort records saved in this run's state folder.
  std::vector<std::string> SavedFiles() const;
  std::vector<int> Sleeps(int ms) const { return sleeper.Calls(ms); }

  RecordingHost host;
  RecordingSleeper sleeper;
  std::string address = "127.0.0.1";
  std::string port;  // empty: the simulator's TCP port
  std::string dataFile;

 private:
  sim::Config config_;
  TempDir dir_;
  std::string hexPath_;
  update::UpdateSession session_{host, sleeper};
  std::unique_ptr<sim::Simulator> sim_;
  sim::Record originalRecord_{};
  std::int64_t elapsedMs_ = 0;
};

// The number of open file descriptors of this process, or -1 where it cannot be counted.
int OpenDescriptorCount();

}  // namespace testing_support
