// UpdateSession: everything one device's update works on, owned in one place, so that
// tests and the batch run independent sessions side by side.
//
// A run is split at the question: BeginRun takes a typed target through the XPort stage
// to the device's identity (or to a failure, the clean-up done), and FinishRun takes the
// answer, writes or not, and ends with the clean-up. Between the two the session holds
// the device's TCP connection and, where it changed them, the XPort's settings; the
// clean-up (leave command, link closed, XPort restored) runs exactly once, in FinishRun,
// or in the destructor of a session whose run was begun and never finished.
//
// A dialog keeps one session for as long as its window lives: the XPort records, the
// device identity and OverrideFlag outlast a run and the next run replaces or clears them.
// Thread notes: only the thread of a run touches its session; the stop flag may be set
// from any thread.
#pragma once

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>

#include "image/image_set.h"
#include "link/boot_protocol.h"
#include "link/device_link.h"
#include "panel/events.h"
#include "panel/target.h"
#include "platform/clock.h"
#include "update/outcome.h"
#include "xport/query_client.h"
#include "xport/saved_records.h"

namespace update {

// The four 2,000 ms steps while the XPort restarts after a new record.
inline constexpr int kXPortStepMs = 2000;

struct SessionOptions {
  // The local address the XPort exchanges and the TCP link bind (0: every one).
  std::uint32_t localAddress = 0;
  // Tests shorten the waits; production keeps these.
  int receiveWaitMs = device::kReceiveWaitMs;
  int replyWaitMs = xport::kReplyWaitMs;
  int connectWaitMs = device::kConnectWaitMs;
  // An operator is there to ask (the dialog, an interactive console without --yes): before
  // the XPort's settings are changed without their original safely on disk, and before a
  // record an earlier run left behind is taken as the XPort's original. Without one the
  // first is a failure of the device and the second is done.
  bool asksOperator = true;
};

// How often the restore (and the question of what an XPort holds after a lost answer) is
// tried before the run gives up, kXPortStepMs apart: an XPort still restarting, or local
// port 10001 held a moment by another program, must not leave the settings changed.
inline constexpr int kXPortAttempts = 5;

// What the question before the writing shows, once a device is identified.
struct Identified {
  xport::Mac mac{};
  int port = 0;  // the TCP port the link stands on
  device::DeviceIdentity identity{};
  std::uint16_t imageVersion = 0;
};

class UpdateSession {
 public:
  UpdateSession(panel::RunObserver& events, platform::Sleeper& sleeper,
                SessionOptions options = {});
  // Runs the clean-up of a run begun and never finished.
  ~UpdateSession();
  UpdateSession(const UpdateSession&) = delete;
  UpdateSession& operator=(const UpdateSession&) = delete;

  // The identify half: from the panel reset through the XPort stage, the link and the
  // identify exchange. REQUIRES: images held (ParseDataFile or UseFirmware). True: the
  // device is identified and waits at the question, Identification() says what it is.
  // False: the run has ended (clean-up done) and Outcome() says why.
  bool BeginRun(const device::Target& target);
  // The write half, after BeginRun returned true: yes writes, verifies and writes the
  // version block last; no leaves the device alone. Then the leave command and the
  // clean-up. Returns the outcome.
  const Outcome& FinishRun(bool yes);

  // The confirmation question, as a single run asks it.
  panel::Question ConfirmationQuestion() const;

  const Identified& Identification() const { return identified_; }
  const Outcome& LastOutcome() const { return outcome_; }
  bool RunOpen() const { return runOpen_; }

  // Set from any thread: the run stops at its next block and runs its clean-up (leave
  // command where the link stands, XPort restore where overridden). Null: never.
  void UseStopFlag(const std::atomic<bool>* stop);
  bool StopRequested() const {
    return stop_ != nullptr && stop_->load(std::memory_order_relaxed);
  }
  // Where the XPort's original record is kept while it is changed (tests point it at a
  // folder of their own).
  void UseSavedRecords(xport::SavedRecords records) { savedRecords_ = std::move(records); }
  xport::SavedRecords& SavedRecords() { return savedRecords_; }

  image::ImageSet& Images() { return images_; }
  xport::QueryClient& XPort() { return xport_; }
  device::DeviceLink& Link() { return link_; }
  device::BootProtocol& Protocol() { return protocol_; }
  panel::RunObserver& Events() { return events_; }
  platform::Sleeper& Sleeper() { return sleeper_; }
  bool OverrideFlag() const { return overrideFlag_; }
  bool AsksOperator() const { return options_.asksOperator; }

 private:
  void Emit(const panel::Event& event) { events_.OnEvent(event); }
  void Status(panel::TextId id, int dots = 0, int echoed = -1);
  void Stage(panel::Stage stage);
  void Notice(panel::Message message, panel::Caption caption = panel::Caption::Error);
  // Records the run's failure unless one was recorded before (the first error counts).
  void Fail(FailureKind kind, std::vector<std::string> args = {});
  void FailFromLink();
  void FailFromXPort();
  bool StopHere();

  bool XPortStage();
  bool DeviceStage(const device::Target& target);
  void WriteAndVerify();
  device::EchoReply BulkWrite(bool* allSent);
  bool GatherEcho(device::EchoReply& reply, int& count, int need, int& owed);
  void BlockFailure(FailureKind kind, panel::Message text, std::vector<std::string> args = {});
  void LeaveBootModeStep();
  void CleanUp();
  void RestoreXPort();
  void WaitWithDots();
  void AdoptSavedRecords();
  bool SaveOriginalRecord();
  bool ChangeSettings();
  // Asks the XPort for its record until it answers (a bounded number of times): 1 when it
  // holds record, 0 when it holds something else, -1 when it never answered.
  int XPortHolds(const xport::SetupRecordBytes& record);
  void ForgetSavedRecord();
  void TellHowToRestore();
  panel::VersionLineChanged VersionLine(panel::VersionLineChanged::Mark mark) const;

  panel::RunObserver& events_;
  platform::Sleeper& sleeper_;
  image::ImageSet images_;
  xport::QueryClient xport_;
  device::DeviceLink link_;
  device::BootProtocol protocol_;
  xport::SavedRecords savedRecords_;
  const std::atomic<bool>* stop_ = nullptr;

  SessionOptions options_;
  // 1 while the XPort carries this run's override record; the clean-up restores then.
  bool overrideFlag_ = false;
  // The XPort's own settings, to be restored: as the XPort reported them, or the record an
  // earlier run saved and never restored, when this run took it over.
  xport::SetupRecordBytes original_{};
  bool adopted_ = false;                   // original_ is an earlier run's saved record
  std::filesystem::path savedRecordPath_;  // the original's file, empty when none
  bool runOpen_ = false;                   // BeginRun succeeded, FinishRun not yet run
  bool result_ = false;                    // the procedure's result flag
  Identified identified_;
  Outcome outcome_;
};

}  // namespace update
