// The fault matrix: every stage of a run crossed with every fault quivo-sim can put there,
// each cell a whole update. Besides the outcome each cell expects, every cell is held to
// the rules no fault may break: the run ends within its waits, the clean-up runs once, the
// device never holds a version that was not verified, and an XPort whose record this run
// changed gets it back or the operator is told it did not.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "support/update_harness.h"

namespace {

using testing_support::kDeviceVersion;
using testing_support::kFinalStatus;
using testing_support::kImageVersion;
using testing_support::Notice;
using testing_support::UpdateRun;

// Short enough that the silent cells stay cheap, long enough that a loaded machine (two
// cores, sanitizers) never misses a reply the simulator sends at once.
constexpr int kWaitMs = 250;

constexpr const char* kNoInformation = "情報を取得出来ませんでした!!処理を中断します。";
constexpr const char* kOverrideRefused = "設定を無効にしてください。処理を中断します。";
constexpr const char* kConnectFailed = "接続に失敗しました。";
constexpr const char* kNoBootMode = "ファーム書換えモードに入れませんでした!!処理を中断します。";
constexpr const char* kWrongDevice = "接続機器が異なります!!処理を中断します。";
constexpr const char* kBulkFailed = "Error: 書込み失敗しました。\n";
constexpr const char* kVerifyError = "Error: ベリファイエラー\n";
constexpr const char* kDone = "書込み完了\n";
constexpr const char* kLeaveError = "ファーム書換えモードキャンセルエラー";
constexpr const char* kRestoreNotice = "変更したXPortの設定を戻します。";
constexpr const char* kRestoreRefused = "を設定できませんでした\n設定を確認してください。";

struct Cell {
  std::string phase;
  std::string fault;
  sim::Config config;
  int result = 0;
  // A notice (or a part of one) that must come, or empty when the cell expects none of its
  // own; alternatives separated by '|' when the fault lands differently by timing.
  std::string expect;
  bool connectRefused = false;    // the typed port and LocalPort lead nowhere
  bool versionBlockSent = false;  // the fault lies at or after the version block
};

const struct {
  sim::BlockFault fault;
  const char* name;
} kBlockFaults[] = {
    {sim::BlockFault::Silent, "silent"},        {sim::BlockFault::Close, "close"},
    {sim::BlockFault::Reset, "reset"},          {sim::BlockFault::WrongEcho, "wrong-echo"},
    {sim::BlockFault::MissingE, "missing-e"},   {sim::BlockFault::Garbage, "garbage"},
    {sim::BlockFault::ShortEcho, "short-echo"}, {sim::BlockFault::SplitEcho, "split-echo"},
};

// Every block fault fails a single block (clear, the 0x26C and 0x29x blocks, version):
// a split echo too, whose last two bytes come only with the tool's next bytes.
void SingleBlockRow(std::vector<Cell>& cells, const std::string& phase, const std::string& notice,
                    bool versionBlock) {
  for (const auto& f : kBlockFaults) {
    Cell c{phase, f.name, {}, 0, notice, false, versionBlock};
    c.config.faults.blocks.push_back({phase, f.fault});
    cells.push_back(c);
  }
}

// The bulk write judges only the echoed data of a block, and byte 16 of the last one; a
// lost link or a missing reply ends it.
void BulkRow(std::vector<Cell>& cells, int block) {
  const std::string phase = "bulk:" + std::to_string(block);
  const bool last = block == 1855;
  for (const auto& f : kBlockFaults) {
    if (f.fault == sim::BlockFault::WrongEcho) continue;  // the verify row
    Cell c{phase, f.name, {}, 0, kBulkFailed, false, false};
    c.config.faults.blocks.push_back({phase, f.fault});
    switch (f.fault) {
      case sim::BlockFault::MissingE:
      case sim::BlockFault::ShortEcho:
        if (!last) {
          c.result = 1;
          c.expect = kDone;
        }
        break;
      case sim::BlockFault::Garbage:
        if (!last) c.expect = kVerifyError;
        break;
      case sim::BlockFault::SplitEcho:
        // The late two bytes shift every later echo by two: the data differ, or for the
        // last block byte 16 is not 'E'.
        c.expect = last ? kBulkFailed : std::string(kVerifyError) + "|" + kBulkFailed;
        break;
      default:
        break;
    }
    cells.push_back(c);
  }
}

std::vector<Cell> Matrix() {
  std::vector<Cell> cells;
  auto add = [&](const std::string& phase, const std::string& fault, int result,
                 const std::string& expect, const std::function<void(sim::Config&)>& set) {
    Cell c{phase, fault, {}, result, expect, false, false};
    set(c.config);
    cells.push_back(c);
  };

  add("xport info", "silent", 0, kNoInformation,
      [](sim::Config& c) { c.faults.xport = sim::XPortFault::Silent; });
  add("xport info", "short", 0, kNoInformation,
      [](sim::Config& c) { c.faults.xport = sim::XPortFault::ShortInfo; });
  add("setup record", "silent", 0, kNoInformation,
      [](sim::Config& c) { c.faults.xport = sim::XPortFault::SilentRecord; });
  add("setup record", "short", 0, kNoInformation,
      [](sim::Config& c) { c.faults.xport = sim::XPortFault::ShortRecord; });
  add("override", "refused", 0, kOverrideRefused, [](sim::Config& c) {
    c.needsOverride = true;
    c.faults.refuseSet = 1;
  });
  add("override", "ignored", 0, kOverrideRefused, [](sim::Config& c) {
    c.needsOverride = true;
    c.faults.ignoreSet = 1;
  });
  // The XPort is still restarting from the override when the restore comes.
  add("settle wait", "still restarting", 1, kRestoreRefused, [](sim::Config& c) {
    c.needsOverride = true;
    c.settleMs = 60000;
  });
  {
    Cell c{"connect", "refused", {}, 0, kConnectFailed, true, false};
    cells.push_back(c);
    c.fault = "refused after override";
    c.config.needsOverride = true;
    cells.push_back(c);
  }

  const struct {
    sim::IdentifyFault fault;
    const char* name;
    int result;
    const char* expect;
  } identify[] = {
      {sim::IdentifyFault::Silent, "silent", 0, kNoBootMode},
      {sim::IdentifyFault::WrongFirstByte, "wrong first byte", 0, kWrongDevice},
      {sim::IdentifyFault::Split, "split", 1, kDone},
      {sim::IdentifyFault::Short, "short", 0, kNoBootMode},
      {sim::IdentifyFault::Close, "close", 0, kNoBootMode},
      {sim::IdentifyFault::Reset, "reset", 0, kNoBootMode},
      {sim::IdentifyFault::Garbage, "garbage", 0, kWrongDevice},
  };
  for (const auto& i : identify) {
    add("identify", i.name, i.result, i.expect,
        [&](sim::Config& c) { c.faults.identify = i.fault; });
  }

  SingleBlockRow(cells, "clear", "0x0300 Clear Error", false);
  SingleBlockRow(cells, "single:0x26C", "0x026C Write Error", false);
  for (int a : {0x290, 0x294, 0x298, 0x29C}) {
    char phase[32], notice[32];
    std::snprintf(phase, sizeof phase, "single:0x%X", a);
    std::snprintf(notice, sizeof notice, "0x%04x Write Error", a);
    SingleBlockRow(cells, phase, notice, false);
  }
  for (int block : {1, 928, 1855}) BulkRow(cells, block);
  // The verification finds an echo that differs from its block, first, middle or last.
  for (int block : {1, 928, 1855}) {
    const std::string phase = "bulk:" + std::to_string(block);
    add("verify", "echo differs at " + phase, 0, kVerifyError, [&](sim::Config& c) {
      c.faults.blocks.push_back({phase, sim::BlockFault::WrongEcho});
    });
  }
  SingleBlockRow(cells, "version", "0x0300 Write Error", true);

  const struct {
    sim::LeaveFault fault;
    const char* name;
  } leave[] = {{sim::LeaveFault::Missing, "silent"},
               {sim::LeaveFault::Wrong, "wrong reply"},
               {sim::LeaveFault::Close, "close"},
               {sim::LeaveFault::Reset, "reset"}};
  for (const auto& l : leave) {
    add("leave", l.name, 1, kLeaveError, [&](sim::Config& c) { c.faults.leave = l.fault; });
  }

  add("restore", "refused", 1, kRestoreRefused, [](sim::Config& c) {
    c.needsOverride = true;
    c.faults.refuseSet = 2;
  });
  add("restore", "silent", 1, kRestoreRefused, [](sim::Config& c) {
    c.needsOverride = true;
    c.faults.ignoreSet = 2;
  });

  // Failures after an accepted override: the restore must still run, once.
  const std::size_t plain = cells.size();
  for (std::size_t i = 0; i < plain; ++i) {
    const Cell& c = cells[i];
    const bool representative =
        (c.phase == "identify" && c.fault == "silent") ||
        (c.phase == "single:0x290" && c.fault == "reset") ||
        (c.phase == "bulk:928" && (c.fault == "silent" || c.fault == "close")) ||
        (c.phase == "verify" && c.fault == "echo differs at bulk:928") ||
        (c.phase == "version" && c.fault == "missing-e") ||
        (c.phase == "leave" && c.fault == "reset");
    if (!representative) continue;
    Cell o = c;
    o.fault += " after override";
    o.config.needsOverride = true;
    cells.push_back(o);
  }
  return cells;
}

// Counts every invariant a cell is held to and reports the ones that break.
class Invariants {
 public:
  void Hold(bool ok, const std::string& cell, const std::string& what) {
    ++checked_;
    if (ok) {
      ++held_;
    } else {
      ADD_FAILURE() << cell << ": " << what;
    }
  }
  int checked() const { return checked_; }
  int held() const { return held_; }

 private:
  int checked_ = 0;
  int held_ = 0;
};

bool HasNotice(const std::vector<Notice>& notices, const std::string& part) {
  return std::any_of(notices.begin(), notices.end(),
                     [&](const Notice& n) { return n.text.find(part) != std::string::npos; });
}

bool HasAnyOf(const std::vector<Notice>& notices, const std::string& alternatives) {
  std::size_t from = 0;
  for (;;) {
    const std::size_t bar = alternatives.find('|', from);
    if (HasNotice(notices, alternatives.substr(from, bar - from))) return true;
    if (bar == std::string::npos) return false;
    from = bar + 1;
  }
}

std::string Describe(const std::vector<Notice>& notices) {
  std::string out;
  for (const auto& n : notices) out += "\n  [" + n.caption + "] " + n.text;
  return out;
}

int Count(const std::vector<std::string>& items, const std::string& item) {
  return static_cast<int>(std::count(items.begin(), items.end(), item));
}

TEST(FaultMatrix, EveryStageWithEveryFault) {
  // A good run first: its time, scaled, bounds the work every cell does besides waiting,
  // so that the bound follows the build (sanitizers) and the machine's load.
  std::int64_t baselineMs = 0;
  {
    UpdateRun good;
    good.SetWaitsMs(kWaitMs, kWaitMs);
    ASSERT_EQ(good.Run().result, 1);
    baselineMs = good.ElapsedMs();
  }
  // At most four UDP exchanges and three receives can each wait out in full: a lost link
  // fails every later receive at once.
  const std::int64_t boundMs = 4 * kWaitMs + 3 * kWaitMs + 3 * baselineMs + 2000;

  Invariants inv;
  const std::vector<Cell> cells = Matrix();
  std::int64_t slowestMs = 0;
  for (const Cell& cell : cells) {
    const std::string name = cell.phase + " / " + cell.fault;
    SCOPED_TRACE(name);
    sim::Config config = cell.config;
    // A port that is bound but not listening: connecting to it is refused at once.
    platform::Socket closedPort;
    std::uint16_t refusingPort = 0;
    if (cell.connectRefused) {
      closedPort = platform::OpenTcpSocket();
      platform::Ipv4Endpoint local;
      ASSERT_TRUE(platform::Bind(closedPort, {platform::InetAddr("127.0.0.1"), 0}));
      ASSERT_TRUE(platform::LocalEndpoint(closedPort, &local));
      refusingPort = local.port;
      config.localPort = refusingPort;
    }
    UpdateRun run(config);
    run.SetWaitsMs(kWaitMs, kWaitMs);
    if (cell.connectRefused) run.port = std::to_string(refusingPort);
    const int result = run.Run().result;
    slowestMs = std::max(slowestMs, run.ElapsedMs());

    const auto notices = run.host.Notices();
    const auto status = run.host.StatusTexts();
    const auto events = run.host.Events();
    sim::Simulator& device = run.device();
    const std::string seen = Describe(notices);

    inv.Hold(run.ElapsedMs() <= boundMs, name,
             "took " + std::to_string(run.ElapsedMs()) + " ms, bound " + std::to_string(boundMs));
    inv.Hold(result == cell.result, name, "result " + std::to_string(result) + seen);
    inv.Hold(cell.expect.empty() || HasAnyOf(notices, cell.expect), name,
             "no notice \"" + cell.expect + "\"" + seen);

    // Exactly one clean-up.
    inv.Hold(Count(status, kFinalStatus) == 1 && !status.empty() && status.back() == kFinalStatus,
             name, "the final status is not shown once, at the end");
    for (int id : {panel::IDC_ADDRESS, panel::IDC_PORT, panel::ID_CONNECT, panel::ID_EXIT}) {
      const std::string on = "enable " + std::to_string(id) + " 1";
      const std::string off = "enable " + std::to_string(id) + " 0";
      inv.Hold(Count(events, on) == 1 && Count(events, off) == 1 && run.host.Enabled(id), name,
               "control " + std::to_string(id) + " not disabled once and enabled once");
    }
    inv.Hold(run.host.Progress().pos == 0, name, "progress not at 0");
    inv.Hold(!run.session().images.HasImages(), name, "images not released");
    inv.Hold(!run.session().link.ConnectedFlag(), name, "link still marked open");

    // The version word: the image's only after a passed verification; 0 once the clear
    // block reached the device; untouched before that.
    const std::uint16_t version = device.VersionWord();
    if (result == 1) {
      inv.Hold(version == kImageVersion, name, "version " + std::to_string(version));
    } else if (device.DataBlocks() == 0) {
      inv.Hold(version == kDeviceVersion, name, "version touched: " + std::to_string(version));
    } else if (cell.versionBlockSent) {
      // The device stored the version block before its reply went wrong.
      inv.Hold(version == 0 || version == kImageVersion, name,
               "version " + std::to_string(version));
    } else {
      inv.Hold(version == 0, name, "version " + std::to_string(version));
    }

    // The XPort: a run that changed the record puts it back, or says it could not.
    const bool overridden = run.Sleeps(2000).size() >= 4 &&
                            HasNotice(notices, "処理を継続する為に設定を一時的に変更します。");
    const int restores = static_cast<int>(std::count_if(
        notices.begin(), notices.end(), [](const Notice& n) { return n.text == kRestoreNotice; }));
    const bool refused = HasNotice(notices, kRestoreRefused);
    if (!overridden) {
      inv.Hold(restores == 0, name, "restored without an override");
      inv.Hold(device.SetupRecord() == run.originalRecord(), name, "record changed");
    } else {
      inv.Hold(restores == 1, name, "restore notices: " + std::to_string(restores));
      if (!refused) {
        inv.Hold(device.SetupRecord() == run.originalRecord(), name, "record not put back");
        inv.Hold(run.SavedFiles().empty(), name, "saved record left after an accepted restore");
        inv.Hold(run.Sleeps(2000).size() == 8, name, "restore without its four steps");
      } else {
        inv.Hold(notices.back().caption == "Error" &&
                     notices.back().text.find(kRestoreRefused) != std::string::npos,
                 name, "refused restore not reported last" + seen);
        inv.Hold(run.SavedFiles().size() == 1, name, "the original record is not kept");
      }
    }
  }
  std::printf(
      "fault matrix: %zu cells, %d invariants held (of %d); slowest cell %lld ms, bound "
      "%lld ms\n",
      cells.size(), inv.held(), inv.checked(), static_cast<long long>(slowestMs),
      static_cast<long long>(boundMs));
  EXPECT_EQ(inv.held(), inv.checked());
}

}  // namespace
