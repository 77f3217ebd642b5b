// Whole update runs against quivo-sim, one per outcome: the notices in order, the panel's
// final state, what the simulated device holds and what its XPort holds at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/simulator.h"
#include "support/recording_host.h"
#include "support/update_harness.h"
#include "update/update_procedure.h"

namespace {

using testing_support::kDeviceVersion;
using testing_support::kFinalStatus;
using testing_support::kImageVersion;
using testing_support::Notice;
using testing_support::Plain;
using testing_support::Question;
using testing_support::RecordingHost;
using testing_support::RecordingSleeper;
using testing_support::UpdateRun;

constexpr const char* kDone = "書込み完了\n";
constexpr const char* kOverrideNotice =
    "XPortの設定DisConnectionModeにOn Mdm_Ctrl_In Drop(DTR)又は\nActive ConnectionにWith Any "
    "Characterが設定されている可能性があります。\n処理を継続する為に設定を一時的に変更します。";
constexpr const char* kRestoreNotice = "変更したXPortの設定を戻します。";
constexpr const char* kTimeout = "タイムアウトしました\n";

std::string Confirmation(const std::string& mac) {
  return "MAC:" + mac + "\nModel:KT-40D(-W)\nVer:  12 ->   13" +
         "\n\n(注意:KT-52-Wとの入出力延長機能が動作中は実行しないで下さい!!)\n\n" +
         "\n\nファームの書換えを開始しますか？";
}

sim::Config WithBlockFault(const std::string& phase, sim::BlockFault fault) {
  sim::Config c;
  c.faults.blocks.push_back({phase, fault});
  return c;
}

sim::Config NeedingOverride() {
  sim::Config c;
  c.needsOverride = true;
  return c;
}

std::string FailedVersionLine() {
  return "Ver:  12 ->   13 書込み失敗";
}

TEST(UpdateRun, GoodRunWritesTheImageAndTheVersionLast) {
  UpdateRun run;
  const update::JobOutcome outcome = run.Run();
  EXPECT_TRUE(outcome.dataFileRead);
  EXPECT_EQ(outcome.result, 1);
  EXPECT_EQ(run.host.Notices(), (std::vector<Notice>{Question(Confirmation(run.Mac()), "確認"),
                                                     Plain(kDone, "DERURUZUD")}));
  EXPECT_EQ(run.host.Text(panel::IDC_MODEL), "Model:KT-40D(-W)");
  EXPECT_EQ(run.host.Text(panel::IDC_VERSION), "Ver:  12 ->   13 書込み成功");
  run.ExpectReadyAgain();

  // Every written word reached the device; the words never written kept their content.
  const sim::Memory image = run.Image();
  const sim::Memory device = run.device().ProgramMemory();
  for (int w = 0; w < sim::kWords; ++w) {
    const bool written = (w >= 0x26C && w <= 0x26F) || (w >= 0x290 && w <= 0x29F) || w >= 0x300;
    ASSERT_EQ(device[w], written ? image[w] : 0x3FFF) << "word 0x" << std::hex << w;
  }
  EXPECT_EQ(run.device().VersionWord(), kImageVersion);
  EXPECT_EQ(run.device().LeaveCommands(), 1);
  EXPECT_EQ(run.device().SetRequests(), 0);

  // The status line walks through the stages; the counter ends at the whole bulk range.
  const auto status = run.host.StatusTexts();
  for (const char* s :
       {"接続中...", "接続完了!確認中...", "FIRM WRITE MODE", "書込み中...", "書込み中... 8",
        "書込み中... 14840", "ﾍﾞﾘﾌｧｲ中...", "書込み完了", "処理中...", kFinalStatus}) {
    EXPECT_NE(std::find(status.begin(), status.end(), s), status.end()) << s;
  }
  // 1,855 + 14,840 progress steps; the 1 ms pauses of every data block, nothing longer.
  EXPECT_EQ(run.host.StepCount(), 1855 + 14840);
  EXPECT_EQ(run.Sleeps(1).size(), (1855u + 7u) * 3u);
  EXPECT_TRUE(run.Sleeps(2000).empty());
}

TEST(UpdateRun, OverrideIsSentAndTheRecordPutBack) {
  UpdateRun run(NeedingOverride());
  EXPECT_EQ(run.Run().result, 1);
  EXPECT_EQ(run.host.Notices(),
            (std::vector<Notice>{Plain(kOverrideNotice, "注意"),
                                 Question(Confirmation(run.Mac()), "確認"),
                                 Plain(kDone, "DERURUZUD"), Plain(kRestoreNotice, "注意")}));
  EXPECT_EQ(run.device().SetRequests(), 2);
  EXPECT_EQ(run.device().SetupRecord(), run.originalRecord());
  EXPECT_TRUE(run.SavedFiles().empty());  // saved before the override, gone after the restore
  // Four 2,000 ms steps for the override and four for the restore, with the dotted texts.
  EXPECT_EQ(run.Sleeps(2000).size(), 8u);
  const auto status = run.host.StatusTexts();
  const std::vector<std::string> dots = {"XPort設定中", "XPort設定中.", "XPort設定中..",
                                         "XPort設定中..."};
  EXPECT_TRUE(std::search(status.begin(), status.end(), dots.begin(), dots.end()) != status.end());
  EXPECT_EQ(status.back(), kFinalStatus);
  EXPECT_EQ(run.device().VersionWord(), kImageVersion);
  run.ExpectReadyAgain();
}

TEST(UpdateRun, RefusedOverrideEndsTheRunWithNothingToRestore) {
  sim::Config c = NeedingOverride();
  c.faults.refuseSet = 1;
  UpdateRun run(c);
  EXPECT_EQ(run.Run().result, 0);
  ASSERT_EQ(run.host.Notices().size(), 2u);
  EXPECT_EQ(run.host.Notices()[0], Plain(kOverrideNotice, "注意"));
  EXPECT_EQ(run.host.Notices()[1].caption, "Error");
  EXPECT_NE(run.host.Notices()[1].text.find("設定を無効にしてください。処理を中断します。"),
            std::string::npos);
  EXPECT_EQ(run.device().SetRequests(), 1);
  EXPECT_EQ(run.device().SetupRecord(), run.originalRecord());
  EXPECT_EQ(run.device().Connections(), 0);
  EXPECT_TRUE(run.SavedFiles().empty());  // nothing was changed, nothing is kept
  EXPECT_TRUE(run.Sleeps(2000).empty());
  run.ExpectReadyAgain();
}

TEST(UpdateRun, FailuresAfterTheOverrideStillRestore) {
  {
    sim::Config c = NeedingOverride();
    c.faults.identify = sim::IdentifyFault::Silent;
    UpdateRun run(c);
    EXPECT_EQ(run.Run().result, 0);
    EXPECT_EQ(run.host.Notices(),
              (std::vector<Notice>{
                  Plain(kOverrideNotice, "注意"), Plain(kTimeout, "Error"),
                  Plain("ファーム書換えモードに入れませんでした!!処理を中断します。", "Error"),
                  Plain(kRestoreNotice, "注意")}));
    EXPECT_EQ(run.device().SetupRecord(), run.originalRecord());
    EXPECT_EQ(run.device().LeaveCommands(), 0);
    EXPECT_EQ(run.host.Text(panel::IDC_MODEL), "");
    EXPECT_EQ(run.host.Text(panel::IDC_VERSION), "");
    run.ExpectReadyAgain();
  }

  // A refused restore is reported with its advice and not repeated.
  sim::Config refused = NeedingOverride();
  refused.faults.refuseSet = 2;
  refused.faults.identify = sim::IdentifyFault::WrongFirstByte;
  UpdateRun second(refused);
  EXPECT_EQ(second.Run().result, 0);
  const auto notices = second.host.Notices();
  ASSERT_EQ(notices.size(), 4u);
  EXPECT_EQ(notices[1], Plain("接続機器が異なります!!処理を中断します。", "Error"));
  EXPECT_EQ(notices[3].caption, "Error");
  EXPECT_EQ(notices[3].text,
            "XPortの設定DisConnectionModeにOn Mdm_Ctrl_In Drop(DTR)及び\nActive ConnectionにWith "
            "Any Characterを設定できませんでした\n設定を確認してください。\n(SetupRecordファイルな"
            "どでXPortの設定を初期値に設定してください。)");
  EXPECT_EQ(second.device().SetRequests(), 2);
  EXPECT_EQ(second.Sleeps(2000).size(), 4u);
  second.ExpectReadyAgain();

  // The refused restore left the original record in a file, holding it exactly as the
  // XPort reported it.
  const auto saved = second.SavedFiles();
  ASSERT_EQ(saved.size(), 1u);
  xport::SetupRecordBytes kept{};
  ASSERT_TRUE(xport::SavedRecords::Load(saved[0], &kept));
  EXPECT_TRUE(std::equal(kept.begin() + 4, kept.end(), second.originalRecord().begin() + 4));
}

TEST(UpdateRun, ARecordLeftByAnEarlierRunIsAnnounced) {
  UpdateRun run;
  std::filesystem::create_directories(run.dir().path() + "/state");
  const std::string left =
      run.dir().Write("state/00-20-4A-0B-4C-0E-20260101-000000.setup", std::string(124, '\x01'));
  EXPECT_EQ(run.Run().result, 1);
  const auto notices = run.host.Notices();
  ASSERT_EQ(notices.size(), 3u);
  EXPECT_EQ(notices[0].caption, "注意");
  EXPECT_NE(notices[0].text.find(left), std::string::npos) << notices[0].text;
  EXPECT_EQ(notices[1], Question(Confirmation(run.Mac()), "確認"));
  EXPECT_TRUE(std::filesystem::exists(left));  // only a restore that was accepted removes it
}

TEST(UpdateRun, RunsThatEndBeforeTheDevice) {
  {
    UpdateRun run;
    run.address = "";
    EXPECT_EQ(run.Run().result, 0);
    EXPECT_EQ(run.host.Notices(), (std::vector<Notice>{Plain("IPアドレスを入力してください", "")}));
    EXPECT_EQ(run.device().UdpRequests(), 0);
    run.ExpectReadyAgain();
  }
  for (sim::XPortFault fault :
       {sim::XPortFault::Silent, sim::XPortFault::ShortInfo, sim::XPortFault::ShortRecord}) {
    sim::Config c;
    c.faults.xport = fault;
    UpdateRun run(c);
    EXPECT_EQ(run.Run().result, 0);
    EXPECT_EQ(
        run.host.Notices(),
        (std::vector<Notice>{Plain("情報を取得出来ませんでした!!処理を中断します。", "Error")}));
    EXPECT_EQ(run.device().Connections(), 0);
    run.ExpectReadyAgain();
  }
  {
    // An unlisted model ends the run without a notice of the procedure's own.
    sim::Config c;
    c.modelCode = 0x40;
    UpdateRun run(c);
    EXPECT_EQ(run.Run().result, 0);
    EXPECT_TRUE(run.host.Notices().empty());
    EXPECT_EQ(run.device().LeaveCommands(), 0);
    EXPECT_EQ(run.device().VersionWord(), kDeviceVersion);
    run.ExpectReadyAgain();
  }
}

TEST(UpdateRun, OperatorSaysNo) {
  UpdateRun run;
  EXPECT_EQ(run.Run({false}).result, 0);
  EXPECT_EQ(run.host.Notices(), (std::vector<Notice>{Question(Confirmation(run.Mac()), "確認")}));
  EXPECT_EQ(run.host.Text(panel::IDC_VERSION), "Ver:  12 ->   13");
  EXPECT_EQ(run.device().LeaveCommands(), 1);
  EXPECT_EQ(run.device().VersionWord(), kDeviceVersion);
  const auto status = run.host.StatusTexts();
  EXPECT_EQ(status[status.size() - 2], "処理中...");
  run.ExpectReadyAgain();
}

TEST(UpdateRun, SingleBlockFailuresLeaveVersionZero) {
  const struct {
    const char* phase;
    sim::BlockFault fault;
    const char* notice;
  } cases[] = {
      {"clear", sim::BlockFault::MissingE, "0x0300 Clear Error"},
      {"single:0x26C", sim::BlockFault::WrongEcho, "0x026C Write Error"},
      {"single:0x29C", sim::BlockFault::WrongEcho, "0x029c Write Error"},
      {"version", sim::BlockFault::MissingE, "0x0300 Write Error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.phase);
    UpdateRun run(WithBlockFault(c.phase, c.fault));
    EXPECT_EQ(run.Run().result, 0);
    auto notices = run.host.Notices();
    ASSERT_FALSE(notices.empty());
    EXPECT_EQ(notices.back(), Plain(c.notice, "Error"));
    EXPECT_EQ(run.host.Text(panel::IDC_VERSION), FailedVersionLine());
    EXPECT_EQ(run.device().LeaveCommands(), 1);
    if (std::string(c.phase) != "version") {
      EXPECT_EQ(run.device().VersionWord(), 0);
    }
    run.ExpectReadyAgain();
  }
}

TEST(UpdateRun, BulkWriteFailures) {
  const struct {
    const char* phase;
    sim::BlockFault fault;
    std::vector<Notice> tail;  // the last notices of the run
    int leaves;
  } cases[] = {
      // The device falls silent: the link's time-out, then the write failure; the link is
      // closed, so no leave command.
      {"bulk:928",
       sim::BlockFault::Silent,
       {Plain(kTimeout, "Error"), Plain("Error: 書込み失敗しました。\n", "DERURUZUD")},
       0},
      // The device closes the connection: no notice from the link, the link still counts
      // as open, so the leave command is tried and finds nothing.
      {"bulk:3",
       sim::BlockFault::Close,
       {Plain("Error: 書込み失敗しました。\n", "DERURUZUD"),
        Plain("ファーム書換えモードキャンセルエラー", "Error")},
       0},
      // A wrong echo is only found by the verification.
      {"bulk:1", sim::BlockFault::WrongEcho, {Plain("Error: ベリファイエラー\n", "DERURUZUD")}, 1},
      // The last reply without 'E', or cut at 16 bytes: step 27 fails before verifying.
      {"bulk:1855",
       sim::BlockFault::MissingE,
       {Plain("Error: 書込み失敗しました。\n", "DERURUZUD")},
       1},
      // The late two bytes of a split last echo are then taken as the leave reply, whose
      // 'E' is not 'N'.
      {"bulk:1855",
       sim::BlockFault::SplitEcho,
       {Plain("Error: 書込み失敗しました。\n", "DERURUZUD"),
        Plain("ファーム書換えモードキャンセルエラー", "Error")},
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.phase);
    UpdateRun run(WithBlockFault(c.phase, c.fault));
    EXPECT_EQ(run.Run().result, 0);
    // The listed notices come in this order and the last one ends the list; the link may
    // add its own send or receive notices in between.
    const auto notices = run.host.Notices();
    auto at = notices.begin();
    for (const Notice& n : c.tail) {
      at = std::find(at, notices.end(), n);
      ASSERT_NE(at, notices.end()) << n.text;
    }
    EXPECT_EQ(notices.back(), c.tail.back());
    EXPECT_EQ(run.host.Text(panel::IDC_VERSION), FailedVersionLine());
    EXPECT_EQ(run.device().VersionWord(), 0);
    EXPECT_EQ(run.device().LeaveCommands(), c.leaves);
    run.ExpectReadyAgain();
  }
}

TEST(UpdateRun, LeaveNotAnsweredKeepsTheSuccess) {
  sim::Config c;
  c.faults.leave = sim::LeaveFault::Wrong;
  UpdateRun run(c);
  EXPECT_EQ(run.Run().result, 1);
  EXPECT_EQ(run.host.Notices().back(), Plain("ファーム書換えモードキャンセルエラー", "Error"));
  EXPECT_EQ(run.host.Text(panel::IDC_VERSION), "Ver:  12 ->   13 書込み成功");
  EXPECT_EQ(run.device().VersionWord(), kImageVersion);
  run.ExpectReadyAgain();
}

TEST(UpdateRun, DataFileProblemsNeverTouchTheDevice) {
  {
    UpdateRun run;
    run.dataFile = run.dir().path() + "/missing.HEX";
    const update::JobOutcome outcome = run.Run();
    EXPECT_FALSE(outcome.dataFileRead);
    EXPECT_EQ(run.host.Notices(),
              (std::vector<Notice>{testing_support::Warning("Can't open data file.", "Error")}));
    EXPECT_EQ(run.device().UdpRequests(), 0);
    // The inputs were never disabled.
    for (const auto& e : run.host.Events()) EXPECT_EQ(e.rfind("enable", 0), std::string::npos);
  }
  {
    UpdateRun run;
    const std::string whole = sim::SampleHex(kImageVersion);
    run.dataFile = run.dir().Write("cut.HEX", whole.substr(0, whole.size() / 2));
    EXPECT_FALSE(run.Run().dataFileRead);
    EXPECT_EQ(run.host.Notices(),
              (std::vector<Notice>{Plain("Error: データファイル読込みエラー\n", "Error")}));
    EXPECT_EQ(run.device().UdpRequests(), 0);
  }
}

TEST(UpdateRun, FragmentedRepliesAreGathered) {
  // Every reply in random fragments: identify, the single echoes and the leave reply are
  // gathered whole. The bulk write stops gathering at 16 bytes, so an echo whose last two
  // bytes come late runs into the next block's reply: the run must fail, never pass.
  sim::Config c;
  c.faults.fragmentAll = true;
  c.faults.seed = 7;
  UpdateRun run(c);
  const int result = run.Run().result;
  if (result == 1) {
    EXPECT_EQ(run.device().VersionWord(), kImageVersion);
    EXPECT_EQ(run.device().ProgramMemory()[0x1FFF], run.Image()[0x1FFF]);
  } else {
    EXPECT_EQ(run.device().VersionWord(), 0);
    EXPECT_EQ(run.host.Text(panel::IDC_VERSION), FailedVersionLine());
  }
  run.ExpectReadyAgain();
}

TEST(Verify, ComparesTheRangeAndStopsAtTheFirstDifference) {
  RecordingHost host;
  panel::OperatorPanel panel(host);
  image::ImageBuffer a{}, b{};
  image::FillErased(a);
  image::FillErased(b);
  EXPECT_EQ(update::VerifyReadback(panel, 1544, 16384, a, b), 1);
  EXPECT_EQ(host.StepCount(), 14840);
  EXPECT_EQ(host.Progress().high, 14840);
  EXPECT_EQ(host.Progress().step, 1);

  // Differences outside the range do not count; inside, the steps stop just before.
  b[1543] = 0;
  b[16384] = 0;
  EXPECT_EQ(update::VerifyReadback(panel, 1544, 16384, a, b), 1);
  b[1544 + 100] = 0;
  RecordingHost host2;
  panel::OperatorPanel panel2(host2);
  EXPECT_EQ(update::VerifyReadback(panel2, 1544, 16384, a, b), 0);
  EXPECT_EQ(host2.StepCount(), 100);
}

}  // namespace
