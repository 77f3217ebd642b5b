// Whole updates against a fresh quivo-sim each, for every test that runs an update: the
// questions answered from a script, the pauses recorded instead of taken, short waits, an
// XPort that settles at once. One UpdateRun is one window: its session outlives its runs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/simulator.h"
#include "support/temp_dir.h"
#include "support/recording_host.h"
#include "ui/dialog/dialog_panel.h"
#include "update/update_procedure.h"

namespace testing_support {

inline constexpr std::uint16_t kDeviceVersion = 12;
inline constexpr std::uint16_t kImageVersion = 13;
// The waits a run is given unless a test sets its own.
inline constexpr int kHarnessWaitMs = 2000;

// The texts the operator is shown, as the tests expect them.
inline constexpr const char* kFinalStatus = "QUIVOの電源を入れ直してから接続して下さい。";
inline constexpr const char* kNoInformation = "情報を取得出来ませんでした!!処理を中断します。";
inline constexpr const char* kOverrideNotice =
    "XPortの設定DisConnectionModeにOn Mdm_Ctrl_In Drop(DTR)又は\nActive ConnectionにWith Any "
    "Characterが設定されている可能性があります。\n処理を継続する為に設定を一時的に変更します。";
inline constexpr const char* kOverrideRefused =
    "XPortの設定DisConnectionModeにOn Mdm_Ctrl_In Drop(DTR)又は\nActive ConnectionにWith Any "
    "Characterが設定されている可能性があります\n設定を無効にしてください。処理を中断します。";
inline constexpr const char* kRestoreNotice = "変更したXPortの設定を戻します。";
inline constexpr const char* kRestoreRefused =
    "XPortの設定DisConnectionModeにOn Mdm_Ctrl_In Drop(DTR)及び\nActive ConnectionにWith Any "
    "Characterを設定できませんでした\n設定を確認してください。\n(SetupRecordファイルなどでXPortの"
    "設定を初期値に設定してください。)";
inline constexpr const char* kRestoreCommand = "XPortの元の設定は次のコマンドで戻せます:";
inline constexpr const char* kTimedOut = "タイムアウトしました\n";
inline constexpr const char* kNoBootMode = "ファーム書換えモードに入れませんでした!!処理を中断します。";
inline constexpr const char* kWrongDevice = "接続機器が異なります!!処理を中断します。";
inline constexpr const char* kBulkFailed = "Error: 書込み失敗しました。\n";
inline constexpr const char* kVerifyError = "Error: ベリファイエラー\n";
inline constexpr const char* kDone = "書込み完了\n";
inline constexpr const char* kLeaveError = "ファーム書換えモードキャンセルエラー";

class UpdateRun {
 public:
  explicit UpdateRun(sim::Config config = {});
  ~UpdateRun();
  UpdateRun(const UpdateRun&) = delete;
  UpdateRun& operator=(const UpdateRun&) = delete;

  // The simulator of the next Run(); what the last run recorded is forgotten.
  void Reconfigure(sim::Config config);

  // Starts the simulator, fills the two boxes (IDC_PORT: port, else the simulator's) and
  // runs the job, the operator answering the questions in order.
  update::Outcome Run(std::vector<bool> answers = {true});

  sim::Simulator& device() { return *sim_; }
  // Stops and drops the last run's simulator, closing its sockets.
  void StopDevice() { sim_.reset(); }
  update::UpdateSession& session() { return session_; }
  const sim::Record& originalRecord() const { return originalRecord_; }
  const TempDir& dir() const { return dir_; }
  // Wall time of the last Run(), in milliseconds.
  std::int64_t ElapsedMs() const { return elapsedMs_; }
  // Both waits at once; takes effect for the next Run().
  void SetWaitsMs(int receiveMs, int replyMs);

  // The image the simulator's sample data file holds.
  static sim::Memory Image();
  // The state every run that reached the procedure ends in.
  void ExpectReadyAgain() const;
  // The confirmation question for the simulated KT-40D(-W), version 12 to 13.
  std::string Confirmation();
  // The XPort records saved in this run's state folder.
  std::vector<std::string> SavedFiles() const;
  std::vector<int> Sleeps(int ms) const { return sleeper.Calls(ms); }

  RecordingHost host;
  ui::DialogPanel& panel = host.Panel();
  RecordingSleeper sleeper;
  std::string address = "127.0.0.1";
  std::string port;  // empty: the simulator's TCP port
  std::string dataFile;

 private:
  sim::Config config_;
  TempDir dir_;
  std::string hexPath_;
  update::UpdateSession session_{panel, sleeper};
  std::unique_ptr<sim::Simulator> sim_;
  sim::Record originalRecord_{};
  std::int64_t elapsedMs_ = 0;
};

// 1 for a run that updated the device, 0 for every other outcome.
inline int Code(const update::Outcome& outcome) {
  return outcome.result == update::Result::Updated ? 1 : 0;
}

// The number of open file descriptors of this process, or -1 where it cannot be counted.
int OpenDescriptorCount();

}  // namespace testing_support
