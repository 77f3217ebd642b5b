// Whole runs against peers that do not play by the rules: a device that floods bytes, one
// that accepts the connection and never speaks, an XPort that answers with the largest
// datagram UDP carries or from an address that is not the device's. Each run must end
// within its waits, with the notice that names the failure and the one clean-up; the
// sanitizer builds see that nothing is written outside a buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "support/scripted_peers.h"
#include "support/update_harness.h"

namespace {

using testing_support::Bytes;
using testing_support::Datagram;
using testing_support::kFinalStatus;
using testing_support::Notice;
using testing_support::RecordingHost;
using testing_support::RecordingSleeper;
using testing_support::ScriptedTcpPeer;
using testing_support::ScriptedUdpPeer;
using testing_support::UpdateRun;

constexpr const char* kNoInformation = "情報を取得出来ませんでした!!処理を中断します。";
constexpr const char* kOverrideRefused = "設定を無効にしてください。処理を中断します。";
constexpr const char* kTimeout = "タイムアウトしました\n";
constexpr const char* kNoBootMode = "ファーム書換えモードに入れませんでした!!処理を中断します。";
constexpr const char* kVerifyError = "Error: ベリファイエラー\n";
constexpr const char* kBulkFailed = "Error: 書込み失敗しました。\n";
constexpr const char* kLeaveError = "ファーム書換えモードキャンセルエラー";
constexpr int kLargestDatagram = 65507;
// Slack for scheduling on a loaded machine, added to the waits a run may use up.
constexpr std::int64_t kSlackMs = 3000;

bool Has(const std::vector<Notice>& notices, const std::string& text) {
  return std::any_of(notices.begin(), notices.end(),
                     [&](const Notice& n) { return n.text.find(text) != std::string::npos; });
}

// The clean-up ran once: the final status once and last, the inputs back on.
void ExpectOneCleanUp(const RecordingHost& host) {
  const auto status = host.StatusTexts();
  ASSERT_FALSE(status.empty());
  EXPECT_EQ(std::count(status.begin(), status.end(), kFinalStatus), 1);
  EXPECT_EQ(status.back(), kFinalStatus);
  EXPECT_EQ(host.Progress().pos, 0);
  const auto events = host.Events();
  for (int id : {panel::IDC_ADDRESS, panel::IDC_PORT, panel::ID_CONNECT, panel::ID_EXIT}) {
    EXPECT_EQ(std::count(events.begin(), events.end(), "enable " + std::to_string(id) + " 1"), 1);
    EXPECT_TRUE(host.Enabled(id));
  }
}

// A run whose XPort is quivo-sim's and whose device is the given peer.
struct RunAgainst {
  explicit RunAgainst(ScriptedTcpPeer& device) : run(Config(device)) {
    run.port = std::to_string(device.Port());
  }
  static sim::Config Config(const ScriptedTcpPeer& device) {
    sim::Config c;
    c.localPort = device.Port();
    return c;
  }
  UpdateRun run;
};

Bytes Noise(std::size_t n, std::uint32_t seed) {
  Bytes out(n);
  for (auto& b : out) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(seed >> 24);
  }
  return out;
}

TEST(HostileDevice, FloodDuringTheBulkWrite) {
  // An honest start, then noise as fast as the tool takes it from the bulk write on.
  ScriptedTcpPeer device;
  device.Read(6).Send({'M', 0x81, 12, 0});
  for (int i = 0; i < 6; ++i) device.EchoBlocks(1);
  device.Read(5).Flood(Noise(4099, 7));
  device.Start();
  RunAgainst r(device);
  EXPECT_EQ(r.run.Run().result, 0);
  device.Join();  // the flood ends once the tool has closed

  const auto notices = r.run.host.Notices();
  EXPECT_TRUE(Has(notices, kVerifyError) || Has(notices, kBulkFailed));
  EXPECT_GT(device.Flooded(), 2'000'000u);  // megabytes, not a trickle
  // Every receive finds data at once: no wait runs out.
  EXPECT_LE(r.run.ElapsedMs(), 3 * r.run.ReceiveWaitMs() + 10 * kSlackMs);
  ExpectOneCleanUp(r.run.host);
}

TEST(HostileDevice, FloodFromTheFirstByte) {
  // An endless repetition of a valid identify reply: identified, then every echo and the
  // leave reply are made of it.
  ScriptedTcpPeer device;
  device.Flood({'M', 0x81, 12, 0});
  device.Start();
  RunAgainst r(device);
  EXPECT_EQ(r.run.Run().result, 0);
  device.Join();
  const auto notices = r.run.host.Notices();
  ASSERT_GE(notices.size(), 3u);
  EXPECT_TRUE(notices[0].question);
  EXPECT_EQ(notices[1].text, "0x0300 Clear Error");
  EXPECT_EQ(notices[2].text, kLeaveError);
  EXPECT_LE(r.run.ElapsedMs(), 2 * r.run.ReceiveWaitMs() + kSlackMs);
  ExpectOneCleanUp(r.run.host);
}

TEST(HostileDevice, AcceptsAndNeverSpeaks) {
  ScriptedTcpPeer device;  // no script: it reads whatever comes and answers nothing
  device.Start();
  RunAgainst r(device);
  r.run.SetWaitsMs(600, testing_support::kHarnessWaitMs);
  EXPECT_EQ(r.run.Run().result, 0);
  const auto notices = r.run.host.Notices();
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_EQ(notices[0].text, kTimeout);
  EXPECT_EQ(notices[1].text, kNoBootMode);
  // One receive wait ran out, and only one.
  EXPECT_GE(r.run.ElapsedMs(), 600);
  EXPECT_LE(r.run.ElapsedMs(), 600 + kSlackMs);
  device.Join();
  const Bytes got = device.Received();
  EXPECT_EQ(std::string(got.begin(), got.end()), "@QUIVO");  // nothing after the identify
  ExpectOneCleanUp(r.run.host);
}

// The tool against a scripted XPort alone (no device behind it).
class ScriptedXPortRun : public ::testing::Test {
 protected:
  static constexpr int kReplyWaitMs = 1500;

  void SetUp() override {
    std::string error;
    started_ = xport_.Start(&error);
    ASSERT_TRUE(started_) << error;
    session_.savedRecords = xport::SavedRecords(dir_.path() + "/state");
    session_.xport.SetReplyWaitMs(kReplyWaitMs);
    session_.link.SetReceiveWaitMs(kReplyWaitMs);
    host_.SetControlText(panel::IDC_ADDRESS, "127.0.0.1");
    host_.SetControlText(panel::IDC_PORT, "10003");
  }

  int Run() {
    const std::string hex = dir_.Write("quivo.HEX", sim::SampleHex(13));
    const std::int64_t start = platform::MonotonicMs();
    const int result = update::UpdateJob(session_, hex).result;
    elapsedMs_ = platform::MonotonicMs() - start;
    return result;
  }

  static Bytes Info() {
    Bytes b(30, 0);
    b[3] = 0xF7;
    b[24] = 0x00;
    b[29] = 0x0E;
    return b;
  }
  // A record whose connect settings call for the override.
  static Bytes RecordNeedingOverride() {
    Bytes b(124, 0);
    b[3] = 0xF9;
    b[24] = 0x13;  // LocalPort 10003
    b[25] = 0x27;
    b[32] = 0x01;
    b[33] = 0x80;
    return b;
  }
  static Bytes Largest(Bytes head) {
    head.resize(kLargestDatagram, 0x5A);
    return head;
  }

  ScriptedUdpPeer xport_{"127.0.0.1"};
  bool started_ = false;
  testing_support::TempDir dir_;
  RecordingHost host_;
  RecordingSleeper sleeper_;
  update::UpdateSession session_{host_, sleeper_};
  std::int64_t elapsedMs_ = 0;
};

TEST_F(ScriptedXPortRun, LargestDatagramsAreRefusedAtOnce) {
  // A 65,507-byte info reply that begins like a good one: dropped as over-long when it
  // arrives, without waiting out the reply wait (which shows it really arrived).
  xport_.ReplyNext({{Largest(Info()), false, 0}});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(host_.Notices().size(), 1u);
  EXPECT_TRUE(Has(host_.Notices(), kNoInformation));
  EXPECT_LT(elapsedMs_, kReplyWaitMs);
  EXPECT_EQ(xport_.Requests().size(), 1u);
  ExpectOneCleanUp(host_);
}

TEST_F(ScriptedXPortRun, LargestAcceptanceOfTheOverrideIsNoAcceptance) {
  xport_.ReplyNext({{Info(), false, 0}});
  xport_.ReplyNext({{RecordNeedingOverride(), false, 0}});
  xport_.ReplyNext({{Largest({0, 0, 0, 0xFB}), false, 0}});
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(Has(host_.Notices(), kOverrideRefused));
  EXPECT_LT(elapsedMs_, kReplyWaitMs);
  EXPECT_FALSE(session_.OverrideFlag);  // nothing to restore
  EXPECT_EQ(xport_.Requests().size(), 3u);
  ExpectOneCleanUp(host_);
}

TEST_F(ScriptedXPortRun, ForgedRepliesNeitherCountNorStretchTheWait) {
  // Forged info replies, a flood of them, and no genuine one: the run ends when the one
  // wait runs out.
  std::vector<Datagram> forged(200, Datagram{Info(), true, 0});
  xport_.ReplyNext(forged);
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(Has(host_.Notices(), kNoInformation));
  EXPECT_GE(elapsedMs_, kReplyWaitMs - 50);
  EXPECT_LE(elapsedMs_, kReplyWaitMs + kSlackMs);
  EXPECT_EQ(xport_.Requests().size(), 1u);
  ExpectOneCleanUp(host_);
}

TEST_F(ScriptedXPortRun, GenuineReplyAfterForgedOnesIsTaken) {
  std::vector<Datagram> replies(50, Datagram{Info(), true, 0});
  Bytes genuine = Info();
  genuine[29] = 0x42;
  replies.push_back({genuine, false, 100});
  xport_.ReplyNext(replies);
  EXPECT_EQ(Run(), 0);  // the record request then goes unanswered
  EXPECT_EQ(xport_.Requests().size(), 2u);
  EXPECT_EQ(session_.xport.XPortInfo()[29], 0x42);
  ExpectOneCleanUp(host_);
}

}  // namespace
