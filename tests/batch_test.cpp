// The batch engine against a cabinet of simulated devices on 127.0.0.x, some of them
// faulty: each device's memory, version word, XPort record and report entry on its own; the
// workers bounded by --jobs; every device's report after a stop; the devices file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "batch/batch_run.h"
#include "platform/state_folder.h"
#include "report/history.h"
#include "update/update_procedure.h"
#include "sim/simulator.h"
#include "support/temp_dir.h"
#include "support/recording_host.h"
#include "xport/saved_records.h"

namespace {

using update::Result;

constexpr std::uint16_t kOldVersion = 12;
constexpr std::uint16_t kNewVersion = 13;

struct FrontEnd : batch::BatchFrontEnd {
  void Tick(batch::BatchRun& run) override { onTick ? onTick(run) : void(); }
  bool Confirm(batch::BatchRun& run, const batch::BatchQuestion& question) override {
    questions.push_back(batch::QuestionText(question));
    if (stopWhileAsked) run.RequestStop();  // Ctrl-C while the question waits
    return answer;
  }
  bool answer = true;
  bool stopWhileAsked = false;
  std::vector<std::string> questions;
  std::function<void(batch::BatchRun&)> onTick;
};

sim::Memory OldMemory() {
  sim::Memory m;
  m.fill(0x3FFF);
  return m[sim::kVersionWord] = kOldVersion, m;
}

// Simulated devices on 127.0.0.2, .3, ... each with a MAC of its own, and the batch's
// options: short waits, a recording sleeper, a state folder of the test's own.
class Cabinet {
 public:
  explicit Cabinet(std::vector<sim::Config> configs) {
    for (std::size_t i = 0; i < configs.size(); ++i) {
      sim::Config c = configs[i];
      c.address = "127.0.0." + std::to_string(2 + i);
      c.tcpPort = c.settleMs = 0;
      c.mac = {0x00, 0x20, 0x4A, 0x10, 0x00, static_cast<std::uint8_t>(2 + i)};
      if (!c.memory) c.memory = OldMemory();
      sims.push_back(std::make_unique<sim::Simulator>(c));
      std::string error;
      EXPECT_TRUE(sims.back()->Start(&error)) << error;
      originals.push_back(sims.back()->SetupRecord());
      // No port: the run takes the XPort's LocalPort (the simulator's TCP port).
      targets.push_back({{platform::InetAddr(c.address.c_str()), std::nullopt}, "test"});
    }
    options = {.dataFile = hex, .stateFolder = dir.path() + "/state", .sleeper = &sleeper,
               .session = {.receiveWaitMs = 300, .replyWaitMs = 300}};
  }
  std::vector<report::DeviceReport> Run(FrontEnd& frontEnd) {
    batch::BatchRun run(targets, options);
    run.Run(frontEnd);
    peakBusy = run.PeakBusy();
    for (auto& s : sims) EXPECT_TRUE(s->WaitForNoConnection(2000));
    return run.Reports();
  }
  std::string Mac(std::size_t i) const { return "00-20-4A-10-00-0" + std::to_string(2 + i); }

  testing_support::TempDir dir;
  testing_support::RecordingSleeper sleeper;
  std::string hex = dir.Write("quivo.HEX", sim::SampleHex(kNewVersion));
  std::vector<std::unique_ptr<sim::Simulator>> sims;
  std::vector<sim::Record> originals;
  std::vector<batch::NamedTarget> targets;
  batch::BatchOptions options;
  std::size_t peakBusy = 0;
};

TEST(BatchRun, MixedCabinetEachDeviceOnItsOwn) {
  // What an updated device holds: the image where the update writes, the rest untouched.
  const sim::Memory updated = [] {
    sim::Memory image, m = OldMemory();
    EXPECT_TRUE(sim::ParseMemoryHex(sim::SampleHex(kNewVersion), &image));
    for (int w : {0x26C, 0x26D, 0x26E, 0x26F}) m[w] = image[w];
    std::copy(image.begin() + 0x290, image.begin() + 0x2A0, m.begin() + 0x290);
    std::copy(image.begin() + 0x300, image.end(), m.begin() + 0x300);
    return m;
  }();
  struct Case {
    const char* what;
    sim::Config config;
    Result result;
    std::uint16_t version;  // the device's version word at the end
    bool recordOriginal;    // the XPort holds its own record at the end
    int leaves;
    const char* reason;     // part of the report's reason
  };
  const std::vector<Case> cases = {
      {"healthy KT-21", {.modelCode = 0x60}, Result::Updated, kNewVersion, true, 1, ""},
      {"needs its settings changed", {.needsOverride = true}, Result::Updated, kNewVersion, true,
       1, ""},
      {"silent XPort", {.faults = {.xport = sim::XPortFault::Silent}}, Result::Failed,
       kOldVersion, true, 0, "情報を取得出来ませんでした"},
      {"wrong device", {.faults = {.identify = sim::IdentifyFault::WrongFirstByte}},
       Result::Failed, kOldVersion, true, 0, "接続機器が異なります"},
      {"restore refused", {.needsOverride = true, .faults = {.refuseSetsFrom = 2}}, Result::Updated,
       kNewVersion, false, 1, ""},
      {"silent mid-write", {.faults = {.blocks = {{"bulk:928", sim::BlockFault::Silent}}}},
       Result::Failed, 0, true, 0, "タイムアウトしました"},
      {"corrupt echo", {.faults = {.blocks = {{"bulk:5", sim::BlockFault::WrongEcho}}}},
       Result::Failed, 0, true, 1, "ベリファイエラー"},
  };
  std::vector<sim::Config> configs;
  for (const Case& c : cases) configs.push_back(c.config);
  Cabinet cab(configs);
  FrontEnd frontEnd;
  const auto reports = cab.Run(frontEnd);

  ASSERT_EQ(frontEnd.questions.size(), 1u);
  const std::string& question = frontEnd.questions[0];
  ASSERT_EQ(reports.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    const sim::Simulator& device = *cab.sims[i];
    const report::DeviceReport& r = reports[i];
    SCOPED_TRACE(c.what);
    EXPECT_EQ(r.result, c.result) << r.reason;
    EXPECT_EQ(device.VersionWord(), c.version);
    if (c.result == Result::Updated) {
      EXPECT_EQ(device.ProgramMemory(), updated);
    } else if (c.version == kOldVersion) {
      EXPECT_EQ(device.ProgramMemory(), OldMemory());
    }
    EXPECT_EQ(device.SetupRecord() == cab.originals[i], c.recordOriginal);
    EXPECT_EQ(device.LeaveCommands(), c.leaves);
    EXPECT_NE(r.reason.find(c.reason), std::string::npos) << r.reason;
    EXPECT_EQ(r.reason.empty(), c.result != Result::Failed);
    EXPECT_EQ(r.failure.kind == update::FailureKind::None, c.result != Result::Failed);
    // Every exchange went out from the one shared port, and each reply reached its own
    // run: a reply routed to another run would show that device's MAC here.
    for (const std::string& e : device.Events()) {
      EXPECT_TRUE(e.find("udp rx") == std::string::npos || e.find(":10001") != std::string::npos);
    }
    EXPECT_EQ(r.mac.value_or("none"),
              c.config.faults.xport == sim::XPortFault::Silent ? "none" : cab.Mac(i));
    const bool identified = c.config.faults.identify == sim::IdentifyFault::None &&
                            c.config.faults.xport == sim::XPortFault::None;
    EXPECT_EQ(r.versionBefore.has_value(), identified);
    const std::string listed = r.address + ":" + std::to_string(device.TcpPort()) + "  MAC:";
    if (identified) {
      EXPECT_EQ(r.versionBefore.value_or(0), kOldVersion);
      EXPECT_EQ(r.versionAfter, c.version);
      EXPECT_NE(question.find(listed + cab.Mac(i)), std::string::npos);
    } else {
      EXPECT_EQ(device.DataBlocks(), 0);
      EXPECT_NE(question.find(r.address + "  " + r.reason), std::string::npos) << question;
    }
    EXPECT_TRUE(r.xportOverridden == c.config.needsOverride &&
                r.xportRestored == (c.config.needsOverride && c.recordOriginal));
    // Only a refused restore leaves the original record on disk, and it is this XPort's.
    EXPECT_EQ(r.savedRecord.has_value(), !c.recordOriginal);
    xport::SetupRecordBytes kept{};
    std::string mac;
    if (r.savedRecord && xport::SavedRecords::Load(*r.savedRecord, &kept, &mac)) {
      EXPECT_EQ(mac, cab.Mac(i));
      EXPECT_TRUE(std::equal(kept.begin() + 4, kept.end(), cab.originals[i].begin() + 4));
    }
  }
  EXPECT_NE(question.find("5台のファームの書換えを開始しますか？"), std::string::npos) << question;

  // The report and the history hold one entry per device.
  const auto devices = nlohmann::json::parse(report::ReportJson(reports))["devices"];
  ASSERT_EQ(devices.size(), cases.size());
  EXPECT_TRUE(devices[1]["xport_restored"] == true && devices[1]["mac"] == cab.Mac(1) &&
              devices[2]["version_before"].is_null());
  std::vector<std::string> warnings;
  EXPECT_EQ(report::ReadHistory(report::HistoryPath(cab.options.stateFolder), 100, &warnings).size(),
            cases.size());
}

TEST(BatchRun, NoLeavesEveryDeviceAndAStopCleansUpEveryRun) {
  for (const bool interrupted : {false, true}) {
    // No: each identified device is sent its leave command, the changed XPort is restored;
    // an interrupt while the question waits is that, not the operator's No.
    Cabinet cab({{}, {.needsOverride = true}});
    FrontEnd frontEnd;
    frontEnd.answer = false;
    frontEnd.stopWhileAsked = interrupted;
    for (const auto& r : cab.Run(frontEnd)) {
      EXPECT_EQ(r.result, interrupted ? Result::Interrupted : Result::Declined);
      EXPECT_EQ(r.interrupted, interrupted);
    }
    for (std::size_t i = 0; i < 2; ++i) {
      EXPECT_TRUE(cab.sims[i]->LeaveCommands() == 1 && cab.sims[i]->ProgramMemory() == OldMemory());
      EXPECT_EQ(cab.sims[i]->SetupRecord(), cab.originals[i]);
    }
  }
  // A stop in the middle of the writing, with two workers for four devices: the runs
  // writing end at their next block, every changed XPort takes its own record back, no
  // saved record is left, and every device has its report and its history line, the ones
  // whose turn never came too.
  const sim::Faults slow{.replyDelayMs = 2};
  Cabinet cab({{.needsOverride = true, .faults = slow}, {.faults = slow},
               {.needsOverride = true, .faults = slow}, {.faults = slow}});
  cab.options.jobs = 2;
  FrontEnd frontEnd;
  std::size_t mostConnected = 0;  // devices with a TCP connection at once
  frontEnd.onTick = [&](batch::BatchRun& run) {
    for (const auto& s : cab.sims) s->DataBlocks() > 20 ? run.RequestStop() : void();
    std::size_t connected = 0;
    for (std::size_t i = 0; i < run.Size(); ++i) {
      const panel::Stage st = run.View(i).stage;
      connected += st != panel::Stage::Queued && st != panel::Stage::Done;
    }
    mostConnected = std::max(mostConnected, connected);
  };
  const auto reports = cab.Run(frontEnd);
  EXPECT_LE(cab.peakBusy, 2u);
  EXPECT_GE(mostConnected, 2u);
  for (std::size_t i = 0; i < reports.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(reports[i].result == Result::Interrupted && reports[i].interrupted);
    EXPECT_EQ(reports[i].failure.kind, update::FailureKind::Interrupted);
    EXPECT_EQ(cab.sims[i]->SetupRecord(), cab.originals[i]);
    EXPECT_NE(cab.sims[i]->VersionWord(), kNewVersion);
    EXPECT_LT(cab.sims[i]->DataBlocks(), 1855 + 6);
    EXPECT_FALSE(reports[i].savedRecord.has_value());
    // Stopped inside the bulk range, the device is not sent a leave command it would take
    // for data; stopped before its turn to write, it is.
    EXPECT_EQ(cab.sims[i]->LeaveCommands(), cab.sims[i]->DataBlocks() > 6 ? 0 : 1);
  }
  EXPECT_EQ(frontEnd.questions.size(), 1u);
  for (const auto& e : std::filesystem::directory_iterator(cab.options.stateFolder)) {
    EXPECT_NE(e.path().extension(), ".setup") << e.path();
  }
  std::vector<std::string> warnings;
  EXPECT_EQ(report::ReadHistory(report::HistoryPath(cab.options.stateFolder), 100, &warnings).size(),
            reports.size());
}

sim::Memory Version(std::uint16_t v) {
  sim::Memory m = OldMemory();
  return m[sim::kVersionWord] = v, m;
}

// The rollout rules of a batch, each device's own result from them, and the retry that
// takes up exactly the devices that did not end at the data file's version.
TEST(BatchRun, VersionPolicyCanaryAndFailureLimit) {
  const sim::Config silent{.faults = {.blocks = {{"bulk:5", sim::BlockFault::Silent}}}};
  const sim::Config equal{.memory = Version(kNewVersion)}, newer{.memory = Version(20)};
  const struct {
    const char* what;
    std::vector<sim::Config> devices;
    std::function<void(batch::BatchOptions&)> set;
    std::vector<Result> results;
    const char* asked;  // in the question; "" for no question
  } cases[] = {
      {"policy groups", {equal, {}, newer}, [](auto&) {},
       {Result::Skipped, Result::Updated, Result::Refused}, "Newer than the data file"},
      {"nothing to write", {equal, newer}, [](auto&) {}, {Result::Skipped, Result::Refused}, ""},
      {"dry run", {equal, {}, newer}, [](auto& o) { o.dryRun = true; },
       {Result::Skipped, Result::WouldUpdate, Result::Refused}, ""},
      {"canary fails", {silent, {}, {}}, [](auto& o) { o.canary = 1; },
       {Result::Failed, Result::NotStarted, Result::NotStarted}, "1 first; the other 2"},
      {"canary passes", {{}, silent, {}}, [](auto& o) { o.canary = 1; },
       {Result::Updated, Result::Failed, Result::Updated}, "1 first"},
      {"failure limit", {silent, {}, {}}, [](auto& o) { o.jobs = 1, o.maxFailures = 1; },
       {Result::Failed, Result::NotStarted, Result::NotStarted}, "failures reaches 1"},
  };
  panel::SetLanguage(panel::Language::English);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Cabinet cab(c.devices);
    c.set(cab.options);
    FrontEnd frontEnd;
    const auto reports = cab.Run(frontEnd);
    ASSERT_EQ(reports.size(), c.results.size());
    EXPECT_EQ(frontEnd.questions.size(), *c.asked ? 1u : 0u);
    if (*c.asked) {
      EXPECT_NE(frontEnd.questions[0].find(c.asked), std::string::npos) << frontEnd.questions[0];
    }
    std::vector<std::string> expectRetry;
    for (std::size_t i = 0; i < reports.size(); ++i) {
      EXPECT_EQ(reports[i].result, c.results[i]) << i << " " << reports[i].reason;
      // Only a device that was written holds the new version; every identified device got
      // its leave command, the ones never written too.
      EXPECT_EQ(cab.sims[i]->VersionWord() == kNewVersion,
                c.results[i] == Result::Updated || c.results[i] == Result::Skipped);
      EXPECT_EQ(cab.sims[i]->LeaveCommands(), c.results[i] == Result::Failed ? 0 : 1);
      if (c.results[i] != Result::Updated && c.results[i] != Result::Skipped) {
        expectRetry.push_back(reports[i].address);
      }
    }
    std::vector<batch::NamedTarget> retry;
    std::string error;
    ASSERT_TRUE(batch::TargetsFromReport(report::ReportJson(reports), "r.json", &retry, &error));
    std::vector<std::string> retried;
    for (const auto& t : retry) retried.push_back(device::AddressText(t.target));
    EXPECT_EQ(retried, expectRetry);
  }
  panel::SetLanguage(panel::Language::Japanese);
}

// --restore-xport sends a saved record only to the XPort it came from, only when it is
// whole, and only when it differs from what the XPort holds in nothing but the two bytes
// the change touches, unless an operator has seen the difference and said Yes.
TEST(Restore, ARecordGoesBackOnlyToTheXPortItCameFrom) {
  Cabinet cab({sim::Config{}});
  sim::Simulator& device = *cab.sims[0];
  testing_support::RecordingHost host;
  update::UpdateSession session(host.Panel(), cab.sleeper, {.replyWaitMs = 300});
  const device::Target target{platform::InetAddr("127.0.0.2"), std::nullopt};
  xport::SavedRecords records(cab.dir.path() + "/saved");
  auto saved = [&](std::uint8_t last, int changedByte) {
    xport::XPortInfoBytes info{};
    info[25] = 0x20, info[26] = 0x4A, info[27] = 0x10, info[29] = last;
    xport::SetupRecordBytes r{};
    std::copy(cab.originals[0].begin(), cab.originals[0].end(), r.begin());
    r[static_cast<std::size_t>(changedByte)] ^= 0x81;  // so that the XPort is seen to take it
    return records.Save(info, r);
  };
  const std::filesystem::path other = saved(0x99, 33);
  // A file of the earlier form under a name that does not say whose it is.
  const std::filesystem::path anonymous = cab.dir.Write("record.setup", std::string(124, '\x01'));
  const std::filesystem::path foreign = saved(0x02, 24);  // LocalPort differs: not its original
  std::string damaged;
  ASSERT_TRUE(platform::ReadWholeFile(saved(0x02, 32), &damaged));
  damaged.back() ^= 1;
  const std::filesystem::path broken = cab.dir.Write("00-20-4A-10-00-02-x.setup", damaged);
  for (const std::filesystem::path& refused : {other, anonymous, foreign, broken}) {
    EXPECT_EQ(update::RestoreSavedRecord(session, target, refused), 0) << refused;
    EXPECT_TRUE(std::filesystem::exists(refused));
  }
  EXPECT_EQ(device.SetRequests(), 0);
  const auto notices = host.Notices();
  EXPECT_TRUE(notices[0].text.find("00-20-4A-10-00-99") < notices[0].text.find("00-20-4A-10-00-02"))
      << notices[0].text;
  EXPECT_TRUE(notices[2].question && notices[2].text.find("24: ") != std::string::npos)
      << notices[2].text;

  const std::filesystem::path own = saved(0x02, 33);
  EXPECT_EQ(update::RestoreSavedRecord(session, target, own), 1);
  EXPECT_FALSE(std::filesystem::exists(own));
  EXPECT_TRUE(device.SetRequests() == 1 && device.SetupRecord() != cab.originals[0]);
  host.AnswerNext(true);  // having seen what differs, the operator sends it all the same
  EXPECT_EQ(update::RestoreSavedRecord(session, target, foreign), 1);
  EXPECT_EQ(device.SetRequests(), 2);
}

TEST(History, ABrokenLineIsSkippedAndSpoilsNothingElse) {
  testing_support::TempDir dir;
  const std::filesystem::path path = report::HistoryPath(dir.path());
  ASSERT_TRUE(report::AppendHistory({.address = "192.168.0.20"}, path));
  // A crash in the middle of the next line, then a line edited by hand.
  std::string text;
  ASSERT_TRUE(platform::ReadWholeFile(path, &text));
  text += "{\"time\":\"2026-12-07T02:22:51Z\",\"address\":\"192.1";
  ASSERT_TRUE(platform::WriteFileAtomically(path, text.data(), text.size()));
  ASSERT_TRUE(platform::AppendLine(path, "[1, 2]"));
  // A Japanese run's failure, read back by an English reader: its reason in English, from
  // the line's code and arguments.
  const update::Failure failed{update::FailureKind::ConnectFailed, {"111"}};
  ASSERT_TRUE(report::AppendHistory({.address = "192.168.0.21", .result = Result::Failed,
                                     .failure = failed, .reason = update::ReasonText(failed)},
                                    path));
  std::vector<std::string> warnings;
  panel::SetLanguage(panel::Language::English);
  const auto all = report::ReadHistory(path, 20, &warnings);
  panel::SetLanguage(panel::Language::Japanese);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].address + " " + all[1].address + " " + all[1].result,
            "192.168.0.20 192.168.0.21 failed");
  EXPECT_EQ(all[1].reason, update::ReasonText(failed, panel::Language::English));
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_NE(warnings[0].find("line 2"), std::string::npos) << warnings[0];
  EXPECT_EQ(report::ReadHistory(path, 1, &warnings)[0].address, "192.168.0.21");
  // An update that left its XPort changed says so, and where the original waits.
  report::DeviceReport left{.address = "192.168.0.22", .result = Result::Updated};
  left.xportOverridden = true;
  left.savedRecord = "/s/00-20-4A-10-00-22.setup";
  ASSERT_TRUE(report::AppendHistory(left, path));
  panel::SetLanguage(panel::Language::English);
  const std::string reason = report::ReadHistory(path, 1, &warnings)[0].reason;
  panel::SetLanguage(panel::Language::Japanese);
  EXPECT_EQ(reason, "the XPort's settings are still changed (saved record: " + *left.savedRecord + ")");
  // A history that cannot be read is not an empty one.
  std::error_code unreadable;
  EXPECT_TRUE(report::ReadHistory(dir.path(), 20, &warnings, &unreadable).empty());
  EXPECT_TRUE(unreadable);
}

TEST(DevicesFile, EntriesCommentsBlanksAndPortsAnywhere) {
  const std::string text =
      "\xEF\xBB\xBF"  // Notepad's byte-order mark
      "# cabinet 3\n\n  192.168.0.20  \n192.168.0.21:10005 # spare\r\n\t192.168.0.22:1\n"
      "#192.168.0.99\n192.168.0.23:65535";
  std::vector<batch::NamedTarget> targets;
  std::string error;
  ASSERT_TRUE(batch::ParseDevicesText(text, "cab.txt", &targets, &error)) << error;
  const std::vector<std::pair<std::string, int>> want = {
      {"192.168.0.20", 0}, {"192.168.0.21", 10005}, {"192.168.0.22", 1}, {"192.168.0.23", 65535}};
  ASSERT_EQ(targets.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(device::AddressText(targets[i].target), want[i].first);
    EXPECT_EQ(targets[i].target.port.value_or(0), want[i].second);
  }
  EXPECT_EQ(targets[1].origin, "cab.txt:4");
  // Every bad line is named; nothing of the file counts then.
  for (const std::string& bad : std::vector<std::string>{
           "192.168.0.20:0", "192.168.0.20:65536", "192.168.0.20:", "010.0.0.1", "192.168.0.256",
        "0.1.2.3", "255.255.255.255", "192.168.0.20:80:80", "192.168.0.20 192.168.0.21",
        std::string("192.168.0.2\0", 12)}) {
    std::vector<batch::NamedTarget> none;
    std::string why;
    EXPECT_FALSE(batch::ParseDevicesText("192.168.0.1\n" + bad + "\n", "f", &none, &why)) << bad;
    EXPECT_NE(why.find("f"), std::string::npos);
  }
  targets.push_back(targets[0]);
  targets.back().origin = "--address";
  EXPECT_FALSE(batch::CheckDistinct(targets, &error));
  EXPECT_NE(error.find("cab.txt:3"), std::string::npos) << error;
}

}  // namespace
