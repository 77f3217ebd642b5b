// The device link and the boot-mode protocol against a scripted device on loopback: the
// inputs, the notices and teardowns of every failure, and the frames byte by byte with
// replies cut into fragments, cut short, or never sent.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>

#include "image/image_set.h"
#include "link/boot_protocol.h"
#include "link/device_link.h"
#include "platform/clock.h"
#include "support/hex_files.h"
#include "support/recording_host.h"
#include "support/scripted_peers.h"
#include "xport/query_client.h"

namespace {

using namespace testing_support;

constexpr const char* kDeviceAddress = "127.0.0.1";
// The scripted XPort shares the device's address, as a real one does (the address box
// names both); Wine also answers datagrams only from 127.0.0.1.
constexpr const char* kXPortAddress = "127.0.0.1";
constexpr const char* kSendFailedPrefix = "送信に失敗しました。切断します。\nError=";
const Notice kTimedOut = Plain("タイムアウトしました\n", "Error");
const Notice kWaitFailed = Plain("QUIVOからの受信失敗\n", "Error");
const Notice kPortQuestion = Question(
    "XPortに設定されているLocalPortと入力したPort番号が異なる可能性があります。\n"
    "XPortに設定されたLocalPortで接続しますか?",
    "確認");

std::string WithCode(const char* format, int code) {
  char text[160];
  std::snprintf(text, sizeof text, format, code);
  return text;
}
// The platform's codes (errno or WSA) for a reset and a refused connection.
const Notice kReset =
    Plain(WithCode("受信に失敗しました。切断します。\nError=%d", platform::ConnectionResetCode()),
          "Error");

// Records every pause; the hook runs inside each, with the pause's 1-based number.
struct HookSleeper : platform::Sleeper {
  void SleepMs(int ms) override {
    pauses.push_back(ms);
    if (hook) hook(static_cast<int>(pauses.size()));
  }
  std::vector<int> pauses;
  std::function<void(int)> hook;
};

// Image words 0x26C..0x26F, and the version block at 0x300 with version 0x1234.
const Bytes kBlock26C = {0x0A, 0x28, 0x83, 0x01, 0xFF, 0x3F, 0x00, 0x20};
const Bytes kVersionBlock = {0x34, 0x12, 0x11, 0x22, 0x33, 0x14, 0x55, 0x06};

struct Images {
  Images() {
    RecordingHost host;
    const std::string path =
        dir.Write("quivo.HEX", HexRecord(4, 0, {0x00, 0x00}) + HexRecord(0, 0x4D8, kBlock26C) +
                                   HexRecord(0, 0x600, kVersionBlock) + EndRecord());
    ok = set.LoadDataFile(host, path) == 1 && set.ParseDataFile(host) == 1;
  }
  TempDir dir;
  image::ImageSet set;
  bool ok = false;
};

// The echo that accepts block, its unexamined bytes set to filler.
Bytes EchoFor(const Bytes& block, std::uint8_t filler = 0x00) {
  Bytes e(18, filler);
  for (int i = 0; i < 4; ++i) {
    e[4 * i + 2] = block[2 * i];
    e[4 * i + 3] = block[2 * i + 1];
  }
  e[16] = 'E';
  return e;
}

Bytes Concat(const Bytes& a, const Bytes& b) {
  Bytes out = a;
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

// One update run's worth of link: the XPort record (for LocalPort), the link, the protocol
// and a scripted device.
struct Session {
  explicit Session(const image::ImageSet* images = nullptr)
      : proto(link, shared, images ? *images : empty, sleeper) {
    link.SetReceiveWaitMs(300);
  }
  // Loads a SetupRecord announcing localPort through the scripted XPort.
  void SetLocalPort(ScriptedUdpPeer& udp, std::uint16_t localPort) {
    std::strcpy(shared.AddressText.data(), kXPortAddress);
    Bytes record(xport::kRecordSize, 0);
    record[24] = static_cast<std::uint8_t>(localPort & 0xFF);
    record[25] = static_cast<std::uint8_t>(localPort >> 8);
    udp.ReplyNext({{record}});
    ASSERT_EQ(xport.QuerySetupRecord(), 1);
  }
  // Types address and port (LocalPort set to port) and opens the link.
  int Open(ScriptedUdpPeer& udp, const std::string& address, std::uint16_t port) {
    SetLocalPort(udp, port);
    host.SetControlText(panel::IDC_ADDRESS, address);
    host.SetControlText(panel::IDC_PORT, std::to_string(port));
    return link.OpenDeviceLink();
  }
  bool Connect(ScriptedUdpPeer& udp) {
    peer.Start();
    return Open(udp, kDeviceAddress, peer.Port()) == 1;
  }
  // Closes the link and returns every byte the device took.
  Bytes Finish() {
    link.CloseDeviceLink();
    peer.Join();
    return peer.Received();
  }

  RecordingHost host;
  xport::SharedBuffers shared;
  xport::QueryClient xport{host, shared};
  device::DeviceLink link{host, shared, xport};
  ScriptedTcpPeer peer{kDeviceAddress};
  HookSleeper sleeper;
  image::ImageSet empty;
  device::BootProtocol proto;
};

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(udp.Start(&error)) << error;
  }
  ScriptedUdpPeer udp{kXPortAddress};
};

TEST(PortText, ReadLikeAtoiButSaturated) {
  const std::pair<const char*, int> cases[] = {
      {"", 0},
      {"abc", 0},
      {"10003", 10003},
      {"10003abc", 10003},
      {" \t\n+0010003 7", 10003},
      {"-12x", -12},
      {"- 5", 0},
      {"+-5", 0},
      {"75539", 75539},
      {"2147483647", INT_MAX},
      {"2147483648", INT_MAX},
      {"99999999999999999999999", INT_MAX},
      {"-2147483648", INT_MIN},
      {"-2147483649", INT_MIN},
      {"-99999999999999999999999", INT_MIN},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(device::ParsePortText(text), expected) << '"' << text << '"';
  }
}

TEST_F(LinkTest, PortInputIsReconciledWithLocalPort) {
  struct Case {
    const char* typed;
    std::uint16_t localPort;
    int answer;  // -1: no question expected; 0 No; 1 Yes
    int expected;
    const char* boxAfter;
  };
  const Case cases[] = {
      {"", 10003, -1, 10003, "10003"},     {"10003abc", 10003, -1, 10003, "10003abc"},
      {"10001", 10003, 1, 10003, "10003"}, {"10001", 10003, 0, 10001, "10001"},
      {"75539", 10003, 0, 75539, "75539"}, {"", 0, -1, 0, "0"},
  };
  for (const Case& c : cases) {
    Session s;
    s.SetLocalPort(udp, c.localPort);
    s.host.SetControlText(panel::IDC_PORT, c.typed);
    if (c.answer >= 0) s.host.AnswerNext(c.answer == 1);
    EXPECT_EQ(s.link.ReadPortInput(), c.expected) << c.typed;
    EXPECT_EQ(s.host.Text(panel::IDC_PORT), c.boxAfter) << c.typed;
    EXPECT_EQ(s.host.Notices(), c.answer >= 0 ? std::vector{kPortQuestion} : std::vector<Notice>{})
        << c.typed;
  }
}

TEST_F(LinkTest, OversizedPortConnectsThroughItsLow16Bits) {
  Session s;
  s.peer.Read(3).Start();
  s.SetLocalPort(udp, 1);
  s.host.SetControlText(panel::IDC_ADDRESS, kDeviceAddress);
  s.host.SetControlText(panel::IDC_PORT, std::to_string(65536 + s.peer.Port()));
  ASSERT_EQ(s.link.OpenDeviceLink(), 1);  // No to the question: the typed port is used
  const std::uint8_t bytes[3] = {1, 2, 3};
  EXPECT_EQ(s.link.SendToDevice(bytes, 3), 0);
  EXPECT_EQ(s.Finish(), (Bytes{1, 2, 3}));
  EXPECT_EQ(s.host.Notices(), std::vector{kPortQuestion});
}

TEST_F(LinkTest, BadInputsAndFailedConnectLeaveNothingForCloseToDo) {
  const std::string refused =
      WithCode("接続に失敗しました。\nError=%d", platform::ConnectionRefusedCode());
  std::uint16_t closedPort = 0;
  {
    ScriptedTcpPeer gone(kDeviceAddress);  // a port that was listening and is no more
    closedPort = gone.Port();
  }
  struct Case {
    const char* address;
    std::uint16_t port;
    Notice notice;
  };
  const Case cases[] = {
      {"", 10003, Plain("IPアドレスを入力してください", "")},
      {kDeviceAddress, 0, Plain("ポート番号を入力してください", "")},  // LocalPort 0 too
      {kDeviceAddress, closedPort, Warning(refused, "Error")},
      // No address: becomes 255.255.255.255, which the connect refuses.
      {"abc", closedPort, Warning("", "Error")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    Session s;
    EXPECT_EQ(s.Open(udp, c.address, c.port), 0);
    EXPECT_FALSE(s.link.ConnectedFlag());
    s.link.CloseDeviceLink();
    s.link.CloseDeviceLink();
    const auto notices = s.host.Notices();
    ASSERT_EQ(notices.size(), 1u);
    if (c.notice.text.empty()) {
      EXPECT_EQ(notices[0].text.rfind("接続に失敗しました。\nError=", 0), 0u);
      EXPECT_EQ(notices[0].style, c.notice.style);
    } else {
      EXPECT_EQ(notices[0], c.notice);
    }
  }
  // The address is taken as typed, at most 15 characters.
  Session s;
  s.host.SetControlText(panel::IDC_ADDRESS, "255.255.255.2559");
  EXPECT_EQ(s.link.ReadAddressInput(), 1);
  EXPECT_STREQ(s.shared.AddressText.data(), "255.255.255.255");
}

TEST_F(LinkTest, ReceiveTakesWhatArrivedAndClearsTheRest) {
  Session s;
  s.peer.Read(2).Send({0x41, 0x42, 0x43}).Close();
  ASSERT_TRUE(s.Connect(udp));
  const std::uint8_t hello[2] = {0x01, 0x02};
  s.link.SendToDevice(hello, 2);
  std::uint8_t buffer[16];
  std::memset(buffer, 0xEE, sizeof buffer);
  ASSERT_EQ(s.link.ReceiveFromDevice(buffer, 16), 3);
  Bytes expected(16, 0);
  expected[0] = 0x41, expected[1] = 0x42, expected[2] = 0x43;
  EXPECT_EQ(Bytes(buffer, buffer + 16), expected);

  // The device has closed: 0 at once, no notice, and the link still counts as standing.
  const auto start = platform::MonotonicMs();
  EXPECT_EQ(s.link.ReceiveFromDevice(buffer, 16), 0);
  EXPECT_EQ(s.link.ReceiveFromDevice(buffer, 16), 0);
  EXPECT_LT(platform::MonotonicMs() - start, 250);
  EXPECT_TRUE(s.link.ConnectedFlag());
  EXPECT_EQ(s.Finish(), (Bytes{0x01, 0x02}));
  EXPECT_TRUE(s.host.Notices().empty());
  EXPECT_FALSE(s.link.ConnectedFlag());
}

TEST_F(LinkTest, SilenceTimesOutAndLaterUseFailsWithItsOwnNotice) {
  Session s;
  ASSERT_TRUE(s.Connect(udp));
  std::uint8_t buffer[8];
  EXPECT_EQ(s.link.ReceiveFromDevice(buffer, 8), 0);
  EXPECT_FALSE(s.link.ConnectedFlag());
  EXPECT_EQ(s.link.ReceiveFromDevice(buffer, 8), 0);
  const std::uint8_t byte = 0x43;
  EXPECT_EQ(s.link.SendToDevice(&byte, 1), 0);
  EXPECT_EQ(s.Finish(), Bytes{});  // nothing reached the device after the teardown
  const auto notices = s.host.Notices();
  ASSERT_EQ(notices.size(), 3u);
  EXPECT_EQ(notices[0], kTimedOut);
  EXPECT_EQ(notices[1], kWaitFailed);
  EXPECT_EQ(notices[2].text.rfind(kSendFailedPrefix, 0), 0u);
  EXPECT_EQ(notices[2].style, panel::NoticeStyle::Plain);
}

// ---- The boot-mode protocol ----

TEST_F(LinkTest, IdentifyDecodesTheReplyHoweverItArrives) {
  using Script = std::function<void(ScriptedTcpPeer&)>;
  const auto fragments = [](std::vector<Bytes> parts, bool close = false) -> Script {
    return [=](ScriptedTcpPeer& p) {
      p.Read(6);
      for (const Bytes& f : parts) p.Send(f).Pause(30);
      if (close) p.Close();
    };
  };
  struct Case {
    const char* name;
    Script script;
    int result, model, sub, version;  // -1: not examined
    std::vector<Notice> notices;
  };
  const Case cases[] = {
      {"KT21", fragments({{0x4D, 0x62, 0xD2, 0x04}}), 1, 0x60, 2, 1234, {}},
      {"KT40D", fragments({{0x4D, 0x81, 0xC8, 0x00}}), 1, 0x80, 1, 200, {}},
      {"KT52W", fragments({{0x4D, 0xA3, 0xFF, 0xFF}}), 1, 0xA0, 3, 65535, {}},
      {"1+3", fragments({{0x4D}, {0x62, 0xD2, 0x04}}), 1, 0x60, 2, 1234, {}},
      {"six bytes", fragments({{0x4D, 0x62, 0xD2, 0x04, 0x4D, 0xA0}}), 1, 0x60, 2, 1234, {}},
      {"wrong high nibble", fragments({{0x4D, 0xF1, 0x00, 0x00}}), 0, 0xF0, 1, -1, {}},
      {"unlisted model", fragments({{0x4D, 0x40, 0x00, 0x00}}), 0, 0x40, 0, -1, {}},
      {"not M", fragments({{0x58, 0x62, 0xD2, 0x04}}), 0, 0xF0, -1, -1, {}},
      // Incomplete: the link's time-out ends it; a close adds no notice of the link's own;
      // a reset fails the receive (-1, torn down), and gathering goes on to the torn-down
      // link's failing wait.
      {"3 then silence", fragments({{0x4D, 0x62, 0xD2}}), 0, 0xFF, -1, -1, {kTimedOut}},
      {"2 then close", fragments({{0x4D, 0x62}}, true), 0, 0xFF, -1, -1, {}},
      {"reset",
       [](ScriptedTcpPeer& p) { p.AwaitData().Reset(); },
       0,
       0xFF,
       -1,
       -1,
       {kReset, kWaitFailed}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Session s;
    c.script(s.peer);
    ASSERT_TRUE(s.Connect(udp));
    EXPECT_EQ(s.proto.Identify(), c.result);
    const auto& id = s.proto.Identity();
    EXPECT_EQ(id.ModelCode, c.model);
    EXPECT_EQ(c.sub < 0 ? -1 : id.SubCode, c.sub);
    EXPECT_EQ(c.version < 0 ? -1 : id.ReportedVersion, c.version);
    EXPECT_EQ(s.host.Notices(), c.notices);
    EXPECT_EQ(s.link.ConnectedFlag(), c.notices.empty());
    // After the reset the device took nothing.
    const Bytes identify = {'@', 'Q', 'U', 'I', 'V', 'O'};
    EXPECT_EQ(s.Finish(), c.notices.size() < 2 ? identify : Bytes{});
  }
}

TEST_F(LinkTest, WriteBlockJudgesTheEchoAcrossFragments) {
  Images images;
  ASSERT_TRUE(images.ok);
  const Bytes good = EchoFor(kBlock26C);
  Bytes noE = good, wrongData = good, twenty = good;
  noE[16] = 'e';
  wrongData[11] ^= 0x01;
  twenty.insert(twenty.end(), {0x00, 0x00});
  struct Case {
    const char* name;
    std::vector<Bytes> fragments;
    int result;
  };
  const Case cases[] = {
      {"whole", {good}, 1},
      {"10+8", {Bytes(good.begin(), good.begin() + 10), Bytes(good.begin() + 10, good.end())}, 1},
      {"20 bytes", {twenty}, 1},
      {"unexamined bytes", {EchoFor(kBlock26C, 0xA5)}, 1},
      {"byte 16 not E", {noE}, 0},
      {"data byte differs", {wrongData}, 0},
      {"17 bytes, silence", {Bytes(good.begin(), good.begin() + 17)}, 0},  // the time-out
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Session s(&images.set);
    s.peer.Read(13);
    for (const Bytes& f : c.fragments) s.peer.Send(f).Pause(30);
    ASSERT_TRUE(s.Connect(udp));
    EXPECT_EQ(s.proto.WriteBlock(0x26C), c.result);
    EXPECT_EQ(s.Finish(), Concat({0x53, 0x04, 0x00, 0x6C, 0x02}, kBlock26C));
    EXPECT_EQ(s.sleeper.pauses, (std::vector<int>{1, 1, 1}));
    EXPECT_EQ(s.host.Notices(),
              c.fragments[0].size() == 17 ? std::vector{kTimedOut} : std::vector<Notice>{});
  }
}

TEST_F(LinkTest, VersionBlockIsClearedFirstAndWrittenWithItsValue) {
  Images images;
  ASSERT_TRUE(images.ok);
  Bytes cleared = kVersionBlock;
  cleared[0] = cleared[1] = 0x00;
  const Bytes command = {0x53, 0x04, 0x00, 0x00, 0x03};
  struct Case {
    bool clear;
    Bytes echoed, sent;
    int expected;
  };
  // The clear is accepted only with 00 00 in the version word's place.
  for (const Case& c : {Case{true, cleared, cleared, 1}, Case{true, kVersionBlock, cleared, 0},
                        Case{false, kVersionBlock, kVersionBlock, 1}}) {
    Session s(&images.set);
    s.peer.Read(13).Send(EchoFor(c.echoed));
    ASSERT_TRUE(s.Connect(udp));
    EXPECT_EQ(c.clear ? s.proto.ClearVersionBlock() : s.proto.WriteBlock(0x300), c.expected);
    EXPECT_EQ(s.Finish(), Concat(command, c.sent));
  }
  EXPECT_EQ(images.set.FirmwareWord(0x300), 0x1234);  // the clear leaves the image alone
}

TEST_F(LinkTest, SendFailingMidBlockStillSendsEveryByteThenFailsAtTheEcho) {
  Images images;
  ASSERT_TRUE(images.ok);
  Session s(&images.set);
  // The device leaves the block's bytes unread and resets the connection during the first
  // pause, so the third byte's send is the first to fail.
  s.peer.Read(5).AwaitCue().Reset();
  s.sleeper.hook = [&s](int n) {
    if (n == 1) {
      s.peer.Cue();
      s.peer.WaitScriptDone();
    }
  };
  ASSERT_TRUE(s.Connect(udp));
  EXPECT_EQ(s.proto.WriteBlock(0x26C), 0);
  EXPECT_FALSE(s.link.ConnectedFlag());
  EXPECT_EQ(s.sleeper.pauses, (std::vector<int>{1, 1, 1}));
  s.link.CloseDeviceLink();
  const auto notices = s.host.Notices();
  ASSERT_EQ(notices.size(), 7u);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(notices[i].text.rfind(kSendFailedPrefix, 0), 0u) << i;
    EXPECT_EQ(notices[i].caption, "Error");
  }
  EXPECT_EQ(notices[6], kWaitFailed);
}

TEST(BlockBytes, PausesFallAfterTheSecondFourthAndSixthByte) {
  // On a link never opened every send fails with a notice, so the notices counted at each
  // pause show where the pauses fall among the sends.
  RecordingHost host;
  xport::SharedBuffers shared;
  xport::QueryClient xport(host, shared);
  device::DeviceLink link(host, shared, xport);
  EXPECT_EQ(link.ReceiveWaitMs(), 5000);  // production's wait
  image::ImageSet noImages;
  HookSleeper sleeper;
  std::vector<std::size_t> sendsBeforePause;
  sleeper.hook = [&](int) { sendsBeforePause.push_back(host.Notices().size()); };
  device::BootProtocol(link, shared, noImages, sleeper).SendBlockBytes({1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_EQ(sleeper.pauses, (std::vector<int>{1, 1, 1}));
  EXPECT_EQ(sendsBeforePause, (std::vector<std::size_t>{2, 4, 6}));
  EXPECT_EQ(host.Notices().size(), 8u);
}

TEST(EchoRule, OnlyTheEchoedDataAndTheMarkCount) {
  const device::DataBlock block = {0xFF, 0x3F, 0x23, 0x01, 0x00, 0x20, 0x00, 0x00};
  device::EchoReply reply = {0, 0, 0xFF, 0x3F, 0, 0, 0x23, 0x01, 0, 0, 0, 0x20, 0, 0, 0, 0, 'E', 0};
  EXPECT_TRUE(device::BootProtocol::EchoMatches(block, reply));
  for (int i = 0; i < 18; ++i) {
    device::EchoReply r = reply;
    r[i] ^= 0x80;
    const bool examined = (i % 4 == 2 || i % 4 == 3) && i < 16;
    EXPECT_EQ(device::BootProtocol::EchoMatches(block, r), !examined && i != 16) << i;
  }
}

TEST_F(LinkTest, WriteCommandsAndLeave) {
  {
    Session s;
    ASSERT_TRUE(s.Connect(udp));
    s.proto.StartBulkWrite(0x304);
    s.proto.StartBulkWrite(0);
    EXPECT_EQ(s.Finish(), (Bytes{0x53, 0xFC, 0x1C, 0x04, 0x03, 0x53, 0x00, 0x20, 0x00, 0x00}));
  }
  struct Case {
    Bytes reply;
    int result;
    std::vector<Notice> notices;
  };
  for (const Case& c : {Case{{0x4E, 0x4F}, 1, {}}, Case{{0x58}, 0, {}}, Case{{}, 0, {kTimedOut}}}) {
    Session s;
    s.peer.Read(1);
    if (!c.reply.empty()) s.peer.Send(c.reply);
    ASSERT_TRUE(s.Connect(udp));
    EXPECT_EQ(s.proto.LeaveBootMode(), c.result);
    EXPECT_EQ(s.Finish(), Bytes{0x43});
    EXPECT_EQ(s.host.Notices(), c.notices);
  }
}

}  // namespace
