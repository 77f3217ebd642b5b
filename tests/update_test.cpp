// Whole updates in detail, where the fault matrix checks outcomes: a good run word by word,
// override and restore, a record left behind, the data file, the XPort's socket failures,
// and devices that flood or never speak.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "platform/socket.h"
#include "report/single_run.h"
#include "support/scripted_ports.h"
#include "support/update_harness.h"

namespace {

using namespace testing_support;

TEST(UpdateRun, GoodRunWritesTheImageAndTheVersionLast) {
  UpdateRun run;
  EXPECT_EQ(Code(run.Run()), 1);
  EXPECT_EQ(run.host.Notices(),
            (std::vector{Question(run.Confirmation(), "確認"), Plain(kDone, "DERURUZUD")}));
  EXPECT_EQ(run.host.Text(ui::IDC_MODEL), "Model:KT-40D(-W)");
  EXPECT_EQ(run.host.Text(ui::IDC_VERSION), "Ver:  12 ->   13 書込み成功");
  run.ExpectReadyAgain();

  // Every written word reached the device; the words never written kept their content.
  const sim::Memory image = run.Image();
  const sim::Memory device = run.device().ProgramMemory();
  for (int w = 0; w < sim::kWords; ++w) {
    const bool written = (w >= 0x26C && w <= 0x26F) || (w >= 0x290 && w <= 0x29F) || w >= 0x300;
    ASSERT_EQ(device[w], written ? image[w] : 0x3FFF) << "word 0x" << std::hex << w;
  }
  EXPECT_EQ(run.device().LeaveCommands(), 1);
  EXPECT_EQ(run.device().SetRequests(), 0);

  // The status line walks through the stages; the counter ends at the whole bulk range.
  const auto status = run.host.StatusTexts();
  auto at = status.begin();
  for (const char* s : {"接続中...", "接続完了!確認中...", "FIRM WRITE MODE", "書込み中...",
                        "書込み中... 8", "書込み中... 16", "書込み中... 14840", "ﾍﾞﾘﾌｧｲ中...",
                        "書込み完了", "処理中...", kFinalStatus}) {
    at = std::find(at, status.end(), s);
    ASSERT_NE(at, status.end()) << s;
  }
  // 1,855 + 14,840 progress steps; the 1 ms pauses of every data block, nothing longer.
  EXPECT_EQ(run.host.StepCount(), 1855 + 14840);
  EXPECT_EQ(run.sleeper.Calls(), std::vector<int>((1855 + 7) * 3, 1));
}

TEST(UpdateRun, AnEchoThatDiffersIsNotCounted) {
  sim::Config c;
  c.faults.blocks.push_back({"bulk:2", sim::BlockFault::WrongEcho});
  UpdateRun run(c);
  EXPECT_EQ(Code(run.Run()), 0);
  const auto status = run.host.StatusTexts();
  EXPECT_NE(std::find(status.begin(), status.end(), "書込み中... 8"), status.end());
  EXPECT_EQ(std::find(status.begin(), status.end(), "書込み中... 16"), status.end());
  EXPECT_NE(std::find(status.begin(), status.end(), "書込み中... 24"), status.end());
}

TEST(UpdateRun, OverrideIsSentAndTheRecordPutBack) {
  sim::Config c;
  c.needsOverride = true;
  UpdateRun run(c);
  EXPECT_EQ(Code(run.Run()), 1);
  EXPECT_EQ(run.host.Notices(),
            (std::vector{Plain(kOverrideNotice, "注意"), Question(run.Confirmation(), "確認"),
                         Plain(kDone, "DERURUZUD"), Plain(kRestoreNotice, "注意")}));
  EXPECT_EQ(run.device().SetRequests(), 2);
  EXPECT_EQ(run.device().SetupRecord(), run.originalRecord());
  EXPECT_TRUE(run.SavedFiles().empty());  // saved before the override, gone after the restore
  // Four 2,000 ms steps with the dotted texts for the override, four for the restore.
  EXPECT_EQ(run.Sleeps(2000).size(), 8u);
  const auto status = run.host.StatusTexts();
  const std::vector<std::string> dots = {"XPort設定中", "XPort設定中.", "XPort設定中..",
                                         "XPort設定中..."};
  const auto first = std::search(status.begin(), status.end(), dots.begin(), dots.end());
  ASSERT_NE(first, status.end());
  EXPECT_NE(std::search(first + 4, status.end(), dots.begin(), dots.end()), status.end());
  run.ExpectReadyAgain();
}

// A restore that never gets through leaves the original on disk, with the command that
// puts it back; the next run for that XPort takes the record as the XPort's original and
// restores it at its end (after asking, in a dialog); No leaves it as it was.
TEST(UpdateRun, ARecordLeftBehindIsTheOriginalTheNextRunRestores) {
  sim::Config refused;
  refused.needsOverride = true;
  refused.faults.refuseSetsFrom = 2;
  UpdateRun run(refused);
  EXPECT_EQ(Code(run.Run()), 1);
  const auto saved = run.SavedFiles();
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(run.host.Notices().back().text,
            "XPortの元の設定は次のコマンドで戻せます:\nDERURUZUD-cli --restore-xport " + saved[0] +
                " --address 127.0.0.1");
  EXPECT_EQ(run.device().SetRequests(), 1 + update::kXPortAttempts);
  xport::SetupRecordBytes kept{};
  ASSERT_TRUE(xport::SavedRecords::Load(saved[0], &kept));
  EXPECT_TRUE(std::equal(kept.begin() + 4, kept.end(), run.originalRecord().begin() + 4));

  for (const bool adopt : {false, true}) {
    run.Reconfigure({});  // the XPort as the crashed run left it: settings not its own
    EXPECT_EQ(Code(run.Run({adopt, true})), 1);
    const auto notices = run.host.Notices();
    ASSERT_GE(notices.size(), 2u);
    EXPECT_EQ(notices[0].caption, "注意");
    EXPECT_NE(notices[0].text.find(saved[0]), std::string::npos) << notices[0].text;
    EXPECT_TRUE(notices[1].question);
    // Yes: the record went back at the end, and only then the file; No: nothing changed.
    EXPECT_EQ(std::filesystem::exists(saved[0]), !adopt);
    EXPECT_EQ(run.device().SetRequests(), adopt ? 1 : 0);
    EXPECT_EQ(run.device().SetupRecord() == run.originalRecord(), !adopt);
    EXPECT_EQ(run.session().LastOutcome().xportRestored, adopt);
  }
}

TEST(UpdateRun, RunsThatNeverReachTheDevice) {
  {
    UpdateRun run;
    run.address = "";
    EXPECT_EQ(Code(run.Run()), 0);
    EXPECT_EQ(run.host.Notices(), std::vector{Plain("IPアドレスを入力してください", "")});
    EXPECT_EQ(run.device().UdpRequests(), 0);
    run.ExpectReadyAgain();
  }
  {
    UpdateRun run;
    run.dataFile = run.dir().path() + "/missing.HEX";
    EXPECT_FALSE(run.Run().dataFileRead);
    EXPECT_EQ(run.host.Notices(), std::vector{Warning("Can't open data file.", "Error")});
    EXPECT_EQ(run.device().UdpRequests(), 0);
    // The inputs were never disabled.
    for (const auto& e : run.host.Events()) EXPECT_EQ(e.rfind("enable", 0), std::string::npos);
  }
  UpdateRun run;
  const std::string whole = sim::SampleHex(kImageVersion);
  run.dataFile = run.dir().Write("cut.HEX", whole.substr(0, whole.size() / 2));
  EXPECT_FALSE(run.Run().dataFileRead);
  EXPECT_EQ(run.host.Notices(), std::vector{Plain("Error: データファイル読込みエラー\n", "Error")});
  EXPECT_EQ(run.device().UdpRequests(), 0);
}

TEST(UpdateRun, XPortSocketFailuresEndTheRunAndTheNextRunWorks) {
  UpdateRun run;
  {
    platform::Socket holder = platform::OpenUdpSocket();  // the local port taken
    ASSERT_TRUE(platform::Bind(holder, {0, 10001}));
    EXPECT_EQ(Code(run.Run()), 0);
    EXPECT_EQ(run.host.Notices(), (std::vector{Plain("UDP受信ポート番号の指定に失敗\n", "Error"),
                                               Plain(kNoInformation, "Error")}));
  }
  run.Reconfigure({});
  run.address = "abc";  // 255.255.255.255, which a socket without broadcast may not send to
  EXPECT_EQ(Code(run.Run()), 0);
  EXPECT_EQ(run.host.Notices(), (std::vector{Plain("サーバへの送信失敗\n", "Error"),
                                             Plain(kNoInformation, "Error")}));
  EXPECT_EQ(run.device().UdpRequests(), 0);
  // Each failed exchange closed its socket: the next run binds local port 10001 again.
  run.Reconfigure({});
  run.address = "127.0.0.1";
  EXPECT_EQ(Code(run.Run()), 1);
}

TEST(UpdateRun, DevicesThatFloodOrNeverSpeakEndTheRunWithItsNotice) {
  const struct {
    const char* name;
    Bytes flood;  // empty: a device that never answers
    std::vector<std::string> notices;
  } cases[] = {
      // An endless repetition of a good identify reply: every echo and the leave reply are
      // made of it.
      {"identify replies", {'M', 0x81, 12, 0}, {"?", "0x0300 Clear Error", kLeaveError}},
      {"noise", {0x58, 0x00, 0xFF, 0x45}, {kWrongDevice}},
      {"silence", {}, {kTimedOut, kNoBootMode}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UpdateRun run;
    ScriptedLink device;
    if (!c.flood.empty()) device.Flood(c.flood);
    run.session().Link().UseLinkPort(&device);
    EXPECT_EQ(Code(run.Run()), 0);
    std::vector<std::string> notices;
    for (const auto& n : run.host.Notices()) notices.push_back(n.question ? "?" : n.text);
    EXPECT_EQ(notices, c.notices);
    if (c.flood.empty()) {
      EXPECT_EQ(device.sent, (Bytes{'@', 'Q', 'U', 'I', 'V', 'O'}));
    }
    run.ExpectReadyAgain();
  }
}

}  // namespace

namespace {

// The rollout rules DERURUZUD-cli holds one device to, in process so that each write is
// quick: what each rule writes, and what the question says of the data file.
TEST(Rollout, EachRuleWritesOrLeavesTheDevice) {
  TempDir dir;
  const std::string d = dir.path() + "/";
  dir.Write("signed.HEX", sim::SampleHex(13));
  ASSERT_EQ(std::system(("cd " + d + " && minisign -G -W -p k.pub -s k.sec >/dev/null && "
                         "minisign -S -l -s k.sec -m signed.HEX -t 'build 13' >/dev/null")
                            .c_str()),
            0);
  std::string badSums = sim::SampleHex(13);
  badSums[badSums.find('\n') - 1] ^= 1;
  dir.Write("sums.HEX", badSums);
  dir.Write("plain.HEX", sim::SampleHex(13));
  std::vector<image::PublicKey> keys;
  std::string error;
  std::vector<std::string> warnings;
  ASSERT_TRUE(image::LoadTrustedKeys({d + "k.pub"}, &keys, &error, &warnings)) << error;

  using R = update::Result;
  const struct {
    const char* what;
    std::uint16_t before;
    const char* file;
    std::function<void(report::RunPolicy&)> set;
    R result;
    std::uint16_t after;
    const char* asked;  // in the question; "" when none is asked
  } cases[] = {
      {"older", 12, "signed.HEX", [](auto&) {}, R::Updated, 13, "Signed by key"},
      {"equal", 13, "signed.HEX", [](auto&) {}, R::Skipped, 13, ""},
      {"equal, reinstall", 13, "signed.HEX", [](auto& p) { p.version.reinstall = true; },
       R::Updated, 13, "build 13"},
      {"newer", 14, "signed.HEX", [](auto&) {}, R::Refused, 14, ""},
      {"newer, allow older", 14, "signed.HEX", [](auto& p) { p.version.allowOlder = true; },
       R::Updated, 13, "Ver:  14 ->   13"},
      {"stopped midway", 0, "plain.HEX", [](auto&) {}, R::Updated, 13, "Unsigned"},
      {"dry run", 12, "signed.HEX", [](auto& p) { p.dryRun = true; }, R::WouldUpdate, 12, ""},
      {"checksums, asked", 12, "sums.HEX", [](auto&) {}, R::Updated, 13, "Unsigned"},
      {"checksums ignored, unattended", 12, "sums.HEX",
       [](auto& p) { p.integrity.unattended = p.integrity.ignoreChecksums = true; }, R::Updated,
       13, "Unsigned"},
  };
  panel::SetLanguage(panel::Language::English);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Config config;
    config.address = "127.0.0.1";
    config.tcpPort = config.settleMs = 0;
    sim::Memory m;
    m.fill(0x3FFF);
    m[sim::kVersionWord] = c.before;
    config.memory = m;
    sim::Simulator device(config);
    ASSERT_TRUE(device.Start(&error)) << error;
    RecordingHost host;
    RecordingSleeper sleeper;
    host.AnswerNext(true);
    report::SingleRun run(host.Panel(), sleeper, {.receiveWaitMs = 2000, .replyWaitMs = 2000});
    run.session().UseSavedRecords(xport::SavedRecords(d + "state"));
    report::RunPolicy policy{.rollout = true};
    policy.integrity.trusted = keys;
    c.set(policy);
    const report::DeviceReport r =
        run.Run({platform::InetAddr("127.0.0.1"), device.TcpPort()}, d + c.file, nullptr, {},
                nullptr, policy);
    EXPECT_TRUE(device.WaitForNoConnection(2000));
    EXPECT_EQ(r.result, c.result) << r.reason;
    EXPECT_EQ(device.VersionWord(), c.after);
    EXPECT_EQ(device.LeaveCommands(), 1);
    std::string asked;
    for (const Notice& n : host.Notices()) asked += n.question ? n.text : "";
    EXPECT_NE(asked.find(c.asked), std::string::npos) << asked;
    EXPECT_EQ(asked.empty(), *c.asked == '\0');
    const bool caution = std::string(c.file) == "sums.HEX" && !policy.integrity.ignoreChecksums;
    EXPECT_EQ(r.notices.size() > 0 && !r.notices[0].question &&
                  r.notices[0].text.find("checksum is wrong: 1") != std::string::npos,
              caution);
  }
  panel::SetLanguage(panel::Language::Japanese);
}

}  // namespace
