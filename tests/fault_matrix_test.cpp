// The fault matrix: every stage of a run crossed with every fault quivo-sim can put there,
// each cell a whole update through one session, as a window open all day runs them. Each
// cell expects its result, its last notice (the XPort's restore aside), the leave commands
// and the version line, and is held to the rules no fault may break: the run ends within its
// waits, the clean-up runs once, the device never holds an unverified version, and a changed
// XPort record is put back or the operator told. At the end no descriptor is left open.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "sim/fault_names.h"
#include "support/update_harness.h"

namespace {

using namespace testing_support;
using F = sim::BlockFault;

enum class Stage { XPort, Identify, Confirm, Write };

struct Cell {
  std::string name;
  Stage stage = Stage::Write;
  int result = 0;
  std::string last;  // the run's last notice, exactly; "?" for the question, "" for none
  int leaves = 0;    // leave commands the device took
  std::function<void(sim::Config&)> set = [](sim::Config&) {};
  bool quiet = false;  // the run waits out a time-out
  bool yes = true;
  bool refusedPort = false;      // the typed port and LocalPort lead nowhere
  bool versionBlockSent = false;  // the fault lies at or after the version block
  bool slow = false;              // 1 ms more per reply piece
  bool prefix = false;            // the last notice begins with last
  bool stateIsFile = false;       // a file stands where the state folder would be
};

const F kBlockFaults[] = {F::Silent,   F::Close,   F::Reset,     F::WrongEcho,
                          F::MissingE, F::Garbage, F::ShortEcho, F::SplitEcho};

std::function<void(sim::Config&)> BlockFault(const std::string& phase, F fault) {
  return [=](sim::Config& c) { c.faults.blocks.push_back({phase, fault}); };
}

// A single block waits for all 18 bytes of its echo and fails on every fault; after a lost
// link no leave command is sent, after a close it finds nothing.
void SingleBlockRow(std::vector<Cell>& cells, const std::string& phase, const std::string& text) {
  for (F f : kBlockFaults) {
    const bool answered = f == F::WrongEcho || f == F::MissingE || f == F::Garbage;
    Cell c{phase + " / " + sim::BlockFaultName(f), Stage::Write, 0, f == F::Close ? kLeaveError : text,
           answered ? 1 : 0, BlockFault(phase, f), f == F::Silent || f == F::ShortEcho || f == F::SplitEcho};
    c.versionBlockSent = phase == "version";
    cells.push_back(c);
  }
}

// The bulk write judges the echoed data of a block, and byte 16 of the last one only. An
// echo split after 16 bytes is whole once its tail came (the last one's tail waits for
// bytes the tool never sends); one that stays 16 bytes leaves every later echo two bytes
// short, and the last one's tail never comes.
void BulkRow(std::vector<Cell>& cells, int block) {
  const std::string phase = "bulk:" + std::to_string(block);
  const bool last = block == 1855;
  for (F f : kBlockFaults) {
    const bool passes = !last && (f == F::MissingE || f == F::SplitEcho);
    const bool lost = f == F::Silent || f == F::Reset || f == F::Close || f == F::ShortEcho ||
                      (last && f == F::SplitEcho);
    const char* text = passes                                          ? kDone
                       : f == F::Close                                 ? kLeaveError
                       : f == F::WrongEcho || (!last && f == F::Garbage) ? kVerifyError
                                                                       : kBulkFailed;
    cells.push_back({phase + " / " + sim::BlockFaultName(f), Stage::Write, passes ? 1 : 0, text,
                     lost ? 0 : 1, BlockFault(phase, f), lost && f != F::Close && f != F::Reset});
  }
}

std::vector<Cell> Matrix() {
  using S = sim::XPortFault;
  using I = sim::IdentifyFault;
  using L = sim::LeaveFault;
  std::vector<Cell> cells = {
      {"xport info / silent", Stage::XPort, 0, kNoInformation, 0, [](auto& c) { c.faults.xport = S::Silent; }, true},
      {"xport info / short", Stage::XPort, 0, kNoInformation, 0, [](auto& c) { c.faults.xport = S::ShortInfo; }},
      {"setup record / silent", Stage::XPort, 0, kNoInformation, 0, [](auto& c) { c.faults.xport = S::SilentRecord; }, true},
      {"setup record / short", Stage::XPort, 0, kNoInformation, 0, [](auto& c) { c.faults.xport = S::ShortRecord; }},
      {"override / refused", Stage::XPort, 0, kOverrideRefused, 0,
       [](auto& c) { c.needsOverride = true, c.faults.refuseSet = 1; }},
      {"override / ignored", Stage::XPort, 0, kOverrideRefused, 0,
       [](auto& c) { c.needsOverride = true, c.faults.ignoreSet = 1; }, true},
      // The XPort is still restarting from the override when every restore comes.
      {"settle wait / still restarting", Stage::Write, 1, kRestoreCommand, 1,
       [](auto& c) { c.needsOverride = true, c.settleMs = 60000; }, true, true, false, false,
       false, true},
      // The XPort took the change and its answer was lost: the run asks what it holds;
      // when it cannot tell (the XPort restarting all the while), it says how to restore.
      {"override / answer lost", Stage::Write, 1, kDone, 1,
       [](auto& c) { c.needsOverride = true, c.faults.dropSetReply = 1; }, true},
      {"override / answer lost, no word since", Stage::XPort, 0, kRestoreCommand, 0,
       [](auto& c) { c.needsOverride = true, c.faults.dropSetReply = 1, c.settleMs = 60000; },
       true, true, false, false, false, true},
      {"identify / silent", Stage::Identify, 0, kNoBootMode, 0, [](auto& c) { c.faults.identify = I::Silent; }, true},
      {"identify / wrong first byte", Stage::Identify, 0, kWrongDevice, 0,
       [](auto& c) { c.faults.identify = I::WrongFirstByte; }},
      {"identify / split", Stage::Write, 1, kDone, 1, [](auto& c) { c.faults.identify = I::Split; }},
      {"identify / short", Stage::Identify, 0, kNoBootMode, 0, [](auto& c) { c.faults.identify = I::Short; }, true},
      {"identify / close", Stage::Identify, 0, kNoBootMode, 0, [](auto& c) { c.faults.identify = I::Close; }},
      {"identify / reset", Stage::Identify, 0, kNoBootMode, 0, [](auto& c) { c.faults.identify = I::Reset; }},
      {"identify / garbage", Stage::Identify, 0, kWrongDevice, 0, [](auto& c) { c.faults.identify = I::Garbage; }},
      {"identify / unlisted model", Stage::Identify, 0, "", 0, [](auto& c) { c.modelCode = 0x40; }},
      {"leave / silent", Stage::Write, 1, kLeaveError, 1, [](auto& c) { c.faults.leave = L::Missing; }, true},
      {"leave / wrong reply", Stage::Write, 1, kLeaveError, 1, [](auto& c) { c.faults.leave = L::Wrong; }},
      {"leave / close", Stage::Write, 1, kLeaveError, 1, [](auto& c) { c.faults.leave = L::Close; }},
      {"leave / reset", Stage::Write, 1, kLeaveError, 1, [](auto& c) { c.faults.leave = L::Reset; }},
      // A restore refused or unanswered once is tried again; refused for good, the
      // operator is told the command that puts the saved original back.
      {"restore / refused once", Stage::Write, 1, kDone, 1,
       [](auto& c) { c.needsOverride = true, c.faults.refuseSet = 2; }},
      {"restore / silent once", Stage::Write, 1, kDone, 1,
       [](auto& c) { c.needsOverride = true, c.faults.ignoreSet = 2; }, true},
      {"restore / refused for good", Stage::Write, 1, kRestoreCommand, 1,
       [](auto& c) { c.needsOverride = true, c.faults.refuseSetsFrom = 2; }, false, true, false,
       false, false, true},
  };
  cells.push_back({"confirmation / No", Stage::Confirm, 0, "?", 1});
  cells.back().yes = false;
  // The original cannot be saved: asked, the operator says No and nothing is changed.
  cells.push_back({"state folder / a file", Stage::XPort, 0, "?", 0,
                   [](auto& c) { c.needsOverride = true; }});
  cells.back().yes = false;
  cells.back().stateIsFile = true;
  cells.push_back({"connect / refused", Stage::Identify, 0, "接続に失敗しました。", 0});
  cells.back().refusedPort = true;
  // Every reply of the device cut into random pieces, each a millisecond after the other:
  // the run must succeed, a few seconds slower.
  cells.push_back({"fragments / seed 3", Stage::Write, 1, kDone, 1,
                   [](auto& c) { c.faults.fragmentAll = true, c.faults.seed = 3; }});
  cells.back().slow = true;
  SingleBlockRow(cells, "clear", "0x0300 Clear Error");
  SingleBlockRow(cells, "single:0x26C", "0x026C Write Error");
  for (int a : {0x290, 0x294, 0x298, 0x29C}) {
    char phase[32], text[32];
    std::snprintf(phase, sizeof phase, "single:0x%X", a);
    std::snprintf(text, sizeof text, "0x%04x Write Error", a);
    SingleBlockRow(cells, phase, text);
  }
  for (int block : {1, 928, 1855}) BulkRow(cells, block);
  SingleBlockRow(cells, "version", "0x0300 Write Error");

  // Failures after an accepted override: the restore must still run, once.
  for (const char* name : {"identify / silent", "connect / refused", "single:0x290 / reset",
                           "bulk:928 / silent", "bulk:928 / close", "bulk:928 / wrong-echo",
                           "version / missing-e", "leave / reset", "confirmation / No"}) {
    Cell o = *std::find_if(cells.begin(), cells.end(), [&](const Cell& c) { return c.name == name; });
    const auto set = o.set;
    o.name += " after override";
    o.set = [set](sim::Config& c) { set(c), c.needsOverride = true; };
    cells.push_back(o);
  }
  return cells;
}

int Count(const std::vector<std::string>& items, const std::string& item) {
  return static_cast<int>(std::count(items.begin(), items.end(), item));
}

TEST(FaultMatrix, EveryStageWithEveryFaultThroughOneSession) {
  // A cell that waits out a time-out waits 0.5 s, so that the quiet cells stay cheap; the
  // others 2 s, so that a loaded machine (two cores, sanitizers, other builds) never misses
  // a reply the simulator sends at once.
  constexpr int kQuietWaitMs = 500, kWaitMs = 2000;
  UpdateRun run;
  run.SetWaitsMs(kWaitMs, kWaitMs);
  // A good run first: its time, scaled, bounds the work every cell does besides waiting,
  // so that the bound follows the build (sanitizers) and the machine's load.
  ASSERT_EQ(Code(run.Run()), 1);
  const std::int64_t boundMs = 7 * kQuietWaitMs + 3 * run.ElapsedMs() + 2000;
  run.StopDevice();
  const int descriptors = OpenDescriptorCount();

  int checked = 0, held = 0;  // every rule a cell is held to; the ones that break fail
  const auto hold = [&](bool ok, const std::string& cell, const std::string& what) {
    ++checked, held += ok;
    if (!ok) ADD_FAILURE() << cell << ": " << what;
  };
  const std::vector<Cell> cells = Matrix();
  std::int64_t slowestMs = 0;
  for (const Cell& cell : cells) {
    const std::string& name = cell.name;
    sim::Config config;
    cell.set(config);
    // A port that is bound but not listening: connecting to it is refused at once.
    platform::Socket closedPort;
    if (cell.refusedPort) {
      closedPort = platform::OpenTcpSocket();
      platform::Ipv4Endpoint local;
      ASSERT_TRUE(platform::Bind(closedPort, {platform::InetAddr("127.0.0.1"), 0}));
      ASSERT_TRUE(platform::LocalEndpoint(closedPort, &local));
      config.localPort = local.port;
    }
    run.Reconfigure(config);
    run.SetWaitsMs(cell.quiet ? kQuietWaitMs : kWaitMs, cell.quiet ? kQuietWaitMs : kWaitMs);
    std::filesystem::remove_all(run.dir().path() + "/state");
    if (cell.stateIsFile) run.dir().Write("state", "not a folder");
    run.port = cell.refusedPort ? std::to_string(*config.localPort) : "";
    const int result = Code(run.Run({cell.yes}));
    slowestMs = std::max(slowestMs, run.ElapsedMs());

    std::vector<Notice> notices = run.host.Notices();
    std::string seen;
    for (const auto& n : notices) seen += "\n  [" + n.caption + "] " + n.text;
    const update::Outcome& outcome = run.session().LastOutcome();
    const bool overridden = outcome.xportOverridden;
    const int restores = static_cast<int>(std::count_if(
        notices.begin(), notices.end(), [](const Notice& n) { return n.text == kRestoreNotice; }));
    std::erase_if(notices, [](const Notice& n) { return n.text == kRestoreNotice; });
    const std::string last = notices.empty() ? "" : notices.back().question ? "?" : notices.back().text;
    sim::Simulator& device = run.device();

    hold(run.ElapsedMs() <= boundMs + (cell.slow ? 4 * 1855 * 3 : 0), name,
               "took " + std::to_string(run.ElapsedMs()) + " ms");
    hold(result == cell.result, name, "result " + std::to_string(result) + seen);
    hold(last == cell.last || ((cell.refusedPort || cell.prefix) && last.rfind(cell.last, 0) == 0),
         name, "last notice \"" + last + "\"" + seen);
    hold(device.LeaveCommands() == cell.leaves, name,
               "leave commands " + std::to_string(device.LeaveCommands()));
    const std::string versionLine = cell.stage == Stage::XPort || cell.stage == Stage::Identify ? ""
                                    : cell.stage == Stage::Confirm ? "Ver:  12 ->   13"
                                    : result ? "Ver:  12 ->   13 書込み成功"
                                             : "Ver:  12 ->   13 書込み失敗";
    hold(run.host.Text(ui::IDC_VERSION) == versionLine, name,
               "version line " + run.host.Text(ui::IDC_VERSION));
    if (cell.stage == Stage::XPort) hold(device.Connections() == 0, name, "device contacted");
    if (cell.stateIsFile) hold(device.SetRequests() == 0, name, "settings changed unsaved");

    // Exactly one clean-up.
    const auto status = run.host.StatusTexts();
    const auto events = run.host.Events();
    hold(Count(status, kFinalStatus) == 1 && status.back() == kFinalStatus, name,
               "the final status is not shown once, at the end");
    for (int id : {ui::IDC_ADDRESS, ui::IDC_PORT, ui::ID_CONNECT, ui::ID_EXIT}) {
      const std::string on = "enable " + std::to_string(id) + " 1";
      hold(Count(events, on) == 1 && Count(events, "enable " + std::to_string(id) + " 0") == 1 &&
                     run.host.Enabled(id),
                 name, "control " + std::to_string(id) + " not disabled once and enabled once");
    }
    hold(run.host.Progress().pos == 0, name, "progress not at 0");
    hold(!run.session().Images().HasImages(), name, "images not released");
    hold(!run.session().Link().ConnectedFlag(), name, "link still marked open");

    // The version word: the image's only after a passed verification; 0 once the clear
    // block reached the device; untouched before that.
    const std::uint16_t version = device.VersionWord();
    const bool expectedVersion = result == 1              ? version == kImageVersion
                                 : device.DataBlocks() == 0 ? version == kDeviceVersion
                                 : cell.versionBlockSent    ? version == 0 || version == kImageVersion
                                                            : version == 0;
    hold(expectedVersion, name, "version " + std::to_string(version));

    // The XPort: a run that changed the record puts it back, or says it could not and
    // keeps the original in a file.
    // Left changed: the restore never got through, or nobody could tell what the XPort
    // took; then, and only then, the original stays on disk, with the command to use it.
    const bool leftChanged = (overridden && !outcome.xportRestored) ||
                             outcome.failure.kind == update::FailureKind::XPortStateUnknown;
    hold(restores == (overridden ? 1 : 0), name, "restore notices: " + std::to_string(restores));
    hold(leftChanged || device.SetupRecord() == run.originalRecord(), name, "record not as it was");
    hold(run.SavedFiles().size() == (leftChanged ? 1u : 0u), name, "saved records left");
    hold(!leftChanged || std::any_of(notices.begin(), notices.end(), [](const Notice& n) {
           return n.text.rfind(kRestoreCommand, 0) == 0;
         }), name, "left changed without the command that restores it");
    if (overridden && !leftChanged) hold(run.Sleeps(2000).size() >= 8, name, "no restore wait");
  }
  run.StopDevice();
  const int after = OpenDescriptorCount();
  std::printf("fault matrix: %zu cells, %d rules held (of %d); slowest cell %lld ms, bound %lld ms; "
              "open descriptors %d before, %d after\n",
              cells.size(), held, checked, static_cast<long long>(slowestMs),
              static_cast<long long>(boundMs), descriptors, after);
  EXPECT_EQ(held, checked);
  ASSERT_GE(descriptors, 0) << "descriptors cannot be counted here";
  EXPECT_EQ(after, descriptors);
}

}  // namespace
