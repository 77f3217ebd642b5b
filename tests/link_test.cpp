// The device link and the boot-mode protocol against a scripted device on loopback: the
// two inputs, the notices and teardowns of every failure, and the frames byte by byte
// with replies cut into fragments, cut short, or never sent.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

#include "image/image_set.h"
#include "link/boot_protocol.h"
#include "link/device_link.h"
#include "platform/clock.h"
#include "support/hex_files.h"
#include "support/recording_host.h"
#include "support/scripted_peers.h"
#include "xport/query_client.h"

namespace {

using testing_support::Bytes;
using testing_support::HexRecord;
using testing_support::Notice;
using testing_support::Plain;
using testing_support::Question;
using testing_support::RecordingHost;
using testing_support::ScriptedTcpPeer;
using testing_support::ScriptedUdpPeer;
using testing_support::TempDir;
using testing_support::Warning;

constexpr const char* kDeviceAddress = "127.0.0.1";
// The scripted XPort shares the device's address, as a real one does (the address box
// names both). Wine also answers datagrams from 127.0.0.1 whatever 127/8 address a socket
// is bound to, so another address would fail there for reasons of its own.
constexpr const char* kXPortAddress = "127.0.0.1";
// The platform's codes for a refused and a reset connection (errno or WSA codes).
const int kRefused = platform::ConnectionRefusedCode();
const int kReset = platform::ConnectionResetCode();
constexpr const char* kPortQuestion =
    "XPortに設定されているLocalPortと入力したPort番号が異なる可能性があります。\n"
    "XPortに設定されたLocalPortで接続しますか?";
constexpr const char* kTimedOut = "タイムアウトしました\n";
constexpr const char* kWaitFailed = "QUIVOからの受信失敗\n";
constexpr const char* kSendFailedPrefix = "送信に失敗しました。切断します。\nError=";

std::string WithCode(const char* format, int code) {
  char text[160];
  std::snprintf(text, sizeof text, format, code);
  return text;
}

// Records every pause; an optional hook runs inside the nth pause (1-based).
class RecordingSleeper : public platform::Sleeper {
 public:
  void SleepMs(int ms) override {
    pauses.push_back(ms);
    if (hook) hook(static_cast<int>(pauses.size()));
  }
  std::vector<int> pauses;
  std::function<void(int)> hook;
};

// The image words the tests look for: words 0x26C..0x26F, and the version block at 0x300
// with version 0x1234.
const Bytes kBlock26C = {0x0A, 0x28, 0x83, 0x01, 0xFF, 0x3F, 0x00, 0x20};
const Bytes kVersionBlock = {0x34, 0x12, 0x11, 0x22, 0x33, 0x14, 0x55, 0x06};

class Images {
 public:
  Images() {
    RecordingHost host;
    const std::string path = dir_.Write(
        "quivo.HEX", HexRecord(4, 0, {0x00, 0x00}) + HexRecord(0, 0x4D8, kBlock26C) +
                         HexRecord(0, 0x600, kVersionBlock) + testing_support::EndRecord());
    ok = set.LoadDataFile(host, path) == 1 && set.ParseDataFile(host) == 1;
  }
  image::ImageSet set;
  bool ok = false;

 private:
  TempDir dir_;
};

Bytes SetupRecordWithPort(std::uint16_t port) {
  Bytes r(xport::kRecordSize, 0);
  r[24] = static_cast<std::uint8_t>(port & 0xFF);
  r[25] = static_cast<std::uint8_t>(port >> 8);
  return r;
}

// The echo reply that accepts block, with the unexamined bytes set to filler.
Bytes EchoFor(const Bytes& block, std::uint8_t filler = 0x00) {
  Bytes e(18, filler);
  for (int i = 0; i < 4; ++i) {
    e[4 * i + 2] = block[2 * i];
    e[4 * i + 3] = block[2 * i + 1];
  }
  e[16] = 'E';
  return e;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// One update run's worth of link: the XPort record (for LocalPort), the link, the
// protocol and a scripted device.
struct Session {
  explicit Session(const image::ImageSet* images = nullptr)
      : proto(link, shared, images ? *images : empty, sleeper) {
    link.SetReceiveWaitMs(300);
  }

  // Loads a SetupRecord announcing localPort through a scripted XPort.
  void SetLocalPort(ScriptedUdpPeer& udp, std::uint16_t localPort) {
    std::strcpy(shared.AddressText.data(), kXPortAddress);
    udp.ReplyNext({{SetupRecordWithPort(localPort)}});
    ASSERT_EQ(xport.QuerySetupRecord(), 1);
  }

  // Starts the device and connects to it with the typed port equal to LocalPort.
  bool Connect(ScriptedUdpPeer& udp) {
    SetLocalPort(udp, peer.Port());
    host.SetControlText(ui::IDC_ADDRESS, kDeviceAddress);
    host.SetControlText(ui::IDC_PORT, std::to_string(peer.Port()));
    peer.Start();
    return link.OpenDeviceLink() == 1;
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
  RecordingSleeper sleeper;
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
    s.host.SetControlText(ui::IDC_PORT, c.typed);
    if (c.answer >= 0) s.host.AnswerNext(c.answer == 1);
    EXPECT_EQ(s.link.ReadPortInput(), c.expected) << c.typed;
    EXPECT_EQ(s.host.Text(ui::IDC_PORT), c.boxAfter) << c.typed;
    const auto expectedNotices = c.answer >= 0
                                     ? std::vector<Notice>{Question(kPortQuestion, "確認")}
                                     : std::vector<Notice>{};
    EXPECT_EQ(s.host.Notices(), expectedNotices) << c.typed;
  }
}

TEST_F(LinkTest, OversizedPortConnectsThroughItsLow16Bits) {
  Session s;
  s.SetLocalPort(udp, 1);
  s.host.SetControlText(ui::IDC_ADDRESS, kDeviceAddress);
  s.host.SetControlText(ui::IDC_PORT, std::to_string(65536 + s.peer.Port()));
  s.peer.Read(3);
  s.peer.Start();
  s.host.AnswerNext(false);
  ASSERT_EQ(s.link.OpenDeviceLink(), 1);
  EXPECT_TRUE(s.link.ConnectedFlag());
  const std::uint8_t bytes[3] = {1, 2, 3};
  EXPECT_EQ(s.link.SendToDevice(bytes, 3), 0);
  EXPECT_EQ(s.Finish(), (Bytes{1, 2, 3}));
  EXPECT_EQ(s.host.Notices(), std::vector<Notice>{Question(kPortQuestion, "確認")});
}

TEST_F(LinkTest, MissingInputsAreRefusedBeforeAnySocket) {
  {
    Session s;
    s.host.SetControlText(ui::IDC_PORT, "10003");
    EXPECT_EQ(s.link.OpenDeviceLink(), 0);
    EXPECT_FALSE(s.link.ConnectedFlag());
    EXPECT_EQ(s.host.Notices(), std::vector<Notice>{Plain("IPアドレスを入力してください", "")});
    s.link.CloseDeviceLink();
    EXPECT_EQ(s.host.Notices().size(), 1u);
  }
  {
    Session s;  // LocalPort 0: nothing to fall back on
    s.host.SetControlText(ui::IDC_ADDRESS, kDeviceAddress);
    EXPECT_EQ(s.link.OpenDeviceLink(), 0);
    EXPECT_EQ(s.host.Text(ui::IDC_PORT), "0");
    EXPECT_EQ(s.host.Notices(), std::vector<Notice>{Plain("ポート番号を入力してください", "")});
  }
  {
    // The address is taken as typed, at most 15 characters.
    Session s;
    s.host.SetControlText(ui::IDC_ADDRESS, "255.255.255.2559");
    EXPECT_EQ(s.link.ReadAddressInput(), 1);
    EXPECT_STREQ(s.shared.AddressText.data(), "255.255.255.255");
  }
}

TEST_F(LinkTest, FailedConnectLeavesTheLinkForCloseToRelease) {
  Session s;
  std::uint16_t closedPort = 0;
  {
    ScriptedTcpPeer gone(kDeviceAddress);  // a port that was listening and is no more
    closedPort = gone.Port();
  }
  s.SetLocalPort(udp, closedPort);
  s.host.SetControlText(ui::IDC_ADDRESS, kDeviceAddress);
  s.host.SetControlText(ui::IDC_PORT, std::to_string(closedPort));
  EXPECT_EQ(s.link.OpenDeviceLink(), 0);
  EXPECT_FALSE(s.link.ConnectedFlag());
  EXPECT_EQ(s.host.Notices(),
            std::vector<Notice>{
                Warning(WithCode("接続に失敗しました。\nError=%d", kRefused), "Error")});
  s.link.CloseDeviceLink();
  s.link.CloseDeviceLink();
  EXPECT_EQ(s.host.Notices().size(), 1u);

  // A text that is no address becomes 255.255.255.255, which the connect refuses.
  s.host.SetControlText(ui::IDC_ADDRESS, "abc");
  EXPECT_EQ(s.link.OpenDeviceLink(), 0);
  ASSERT_EQ(s.host.Notices().size(), 2u);
  EXPECT_EQ(s.host.Notices()[1].text.rfind("接続に失敗しました。\nError=", 0), 0u);
  EXPECT_EQ(s.host.Notices()[1].style, ui::NoticeStyle::Warning);
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
  EXPECT_EQ(Bytes(buffer, buffer + 16),
            (Bytes{0x41, 0x42, 0x43, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

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
  EXPECT_EQ(s.link.ReceiveWaitMs(), 300);
  std::uint8_t buffer[8];
  EXPECT_EQ(s.link.ReceiveFromDevice(buffer, 8), 0);
  EXPECT_FALSE(s.link.ConnectedFlag());

  EXPECT_EQ(s.link.ReceiveFromDevice(buffer, 8), 0);
  const std::uint8_t byte = 0x43;
  EXPECT_EQ(s.link.SendToDevice(&byte, 1), 0);
  EXPECT_EQ(s.Finish(), Bytes{});  // nothing reached the device after the teardown

  const auto notices = s.host.Notices();
  ASSERT_EQ(notices.size(), 3u);
  EXPECT_EQ(notices[0], Plain(kTimedOut, "Error"));
  EXPECT_EQ(notices[1], Plain(kWaitFailed, "Error"));
  EXPECT_EQ(notices[2].text.rfind(kSendFailedPrefix, 0), 0u);
  EXPECT_EQ(notices[2].style, ui::NoticeStyle::Plain);
}

TEST_F(LinkTest, ResetConnectionFailsTheReceiveAndTearsDown) {
  Session s;
  s.peer.AwaitCue().Reset();
  ASSERT_TRUE(s.Connect(udp));
  const std::uint8_t bytes[3] = {1, 2, 3};
  s.link.SendToDevice(bytes, 3);
  s.peer.Cue();
  s.peer.WaitScriptDone();
  std::uint8_t buffer[8];
  EXPECT_EQ(s.link.ReceiveFromDevice(buffer, 8), -1);
  EXPECT_FALSE(s.link.ConnectedFlag());
  EXPECT_EQ(s.link.ReceiveFromDevice(buffer, 8), 0);
  s.Finish();
  EXPECT_EQ(s.host.Notices(),
            (std::vector<Notice>{
                Plain(WithCode("受信に失敗しました。切断します。\nError=%d", kReset), "Error"),
                Plain(kWaitFailed, "Error")}));
}

TEST(LinkDefaults, ProductionWaitsAreFiveSeconds) {
  RecordingHost host;
  xport::SharedBuffers shared;
  xport::QueryClient xport(host, shared);
  device::DeviceLink link(host, shared, xport);
  EXPECT_EQ(link.ReceiveWaitMs(), 5000);
  EXPECT_EQ(device::kReceiveWaitMs, 5000);
  EXPECT_FALSE(link.ConnectedFlag());
}

// ---- The boot-mode protocol ----

struct IdentifyCase {
  const char* name;
  std::vector<Bytes> fragments;
  int result;
  int model;
  int sub;
  int version;
};

TEST_F(LinkTest, IdentifyDecodesTheReplyHoweverItArrives) {
  const IdentifyCase cases[] = {
      {"KT21", {{0x4D, 0x62, 0xD2, 0x04}}, 1, 0x60, 2, 1234},
      {"KT40D", {{0x4D, 0x81, 0xC8, 0x00}}, 1, 0x80, 1, 200},
      {"KT52W", {{0x4D, 0xA3, 0xFF, 0xFF}}, 1, 0xA0, 3, 65535},
      {"1+3", {{0x4D}, {0x62, 0xD2, 0x04}}, 1, 0x60, 2, 1234},
      {"six bytes", {{0x4D, 0x62, 0xD2, 0x04, 0x4D, 0xA0}}, 1, 0x60, 2, 1234},
      {"wrong high nibble", {{0x4D, 0xF1, 0x00, 0x00}}, 0, 0xF0, 1, -1},
      {"unlisted model", {{0x4D, 0x40, 0x00, 0x00}}, 0, 0x40, 0, -1},
      {"not M", {{0x58, 0x62, 0xD2, 0x04}}, 0, 0xF0, -1, -1},
  };
  for (const IdentifyCase& c : cases) {
    SCOPED_TRACE(c.name);
    Session s;
    s.peer.Read(6);
    for (const Bytes& f : c.fragments) s.peer.Send(f).Pause(30);
    ASSERT_TRUE(s.Connect(udp));
    EXPECT_EQ(s.proto.Identify(), c.result);
    const auto& id = s.proto.Identity();
    EXPECT_EQ(id.ModelCode, c.model);
    if (c.sub >= 0) {
      EXPECT_EQ(id.SubCode, c.sub);
    }
    if (c.version >= 0) {
      EXPECT_EQ(id.ReportedVersion, c.version);
    }
    EXPECT_EQ(s.Finish(), (Bytes{'@', 'Q', 'U', 'I', 'V', 'O'}));
    EXPECT_TRUE(s.host.Notices().empty());
  }
}

TEST_F(LinkTest, IdentifyWithoutACompleteReplyIsNoReply) {
  {
    // Three bytes, then silence: the link's time-out ends it.
    Session s;
    s.peer.Read(6).Send({0x4D, 0x62, 0xD2});
    ASSERT_TRUE(s.Connect(udp));
    EXPECT_EQ(s.proto.Identify(), 0);
    EXPECT_EQ(s.proto.Identity().ModelCode, device::kModelNoReply);
    EXPECT_EQ(s.host.Notices(), std::vector<Notice>{Plain(kTimedOut, "Error")});
    EXPECT_FALSE(s.link.ConnectedFlag());
    s.Finish();
  }
  {
    // Two bytes, then the device closes: no notice of the link's own.
    Session s;
    s.peer.Read(6).Send({0x4D, 0x62}).Close();
    ASSERT_TRUE(s.Connect(udp));
    EXPECT_EQ(s.proto.Identify(), 0);
    EXPECT_EQ(s.proto.Identity().ModelCode, device::kModelNoReply);
    EXPECT_TRUE(s.host.Notices().empty());
    s.Finish();
  }
  {
    // The device resets the connection: the failed receive adds nothing, and gathering
    // goes on to the torn-down link's failing wait.
    Session s;
    s.peer.AwaitData().Reset();
    ASSERT_TRUE(s.Connect(udp));
    EXPECT_EQ(s.proto.Identify(), 0);
    EXPECT_EQ(s.proto.Identity().ModelCode, device::kModelNoReply);
    EXPECT_EQ(
        s.host.Notices(),
        (std::vector<Notice>{
            Plain(WithCode("受信に失敗しました。切断します。\nError=%d", kReset), "Error"),
            Plain(kWaitFailed, "Error")}));
    s.Finish();
  }
}

struct EchoCase {
  const char* name;
  std::vector<Bytes> fragments;
  int result;
};

TEST_F(LinkTest, WriteBlockJudgesTheEchoAcrossFragments) {
  Images images;
  ASSERT_TRUE(images.ok);
  const Bytes good = EchoFor(kBlock26C);
  Bytes noE = good;
  noE[16] = 'e';
  Bytes wrongData = good;
  wrongData[11] ^= 0x01;
  Bytes twenty = good;
  twenty.insert(twenty.end(), {0x00, 0x00});
  const EchoCase cases[] = {
      {"whole", {good}, 1},
      {"10+8", {Bytes(good.begin(), good.begin() + 10), Bytes(good.begin() + 10, good.end())}, 1},
      {"20 bytes", {twenty}, 1},
      {"unexamined bytes", {EchoFor(kBlock26C, 0xA5)}, 1},
      {"byte 16 not E", {noE}, 0},
      {"data byte differs", {wrongData}, 0},
  };
  for (const EchoCase& c : cases) {
    SCOPED_TRACE(c.name);
    Session s(&images.set);
    s.peer.Read(13);
    for (const Bytes& f : c.fragments) s.peer.Send(f).Pause(30);
    ASSERT_TRUE(s.Connect(udp));
    EXPECT_EQ(s.proto.WriteBlock(0x26C), c.result);
    EXPECT_EQ(s.Finish(), Concat({{0x53, 0x04, 0x00, 0x6C, 0x02}, kBlock26C}));
    EXPECT_EQ(s.sleeper.pauses, (std::vector<int>{1, 1, 1}));
    EXPECT_TRUE(s.host.Notices().empty());
  }
  {
    // 17 bytes and silence: the block fails at the time-out.
    Session s(&images.set);
    s.peer.Read(13).Send(Bytes(good.begin(), good.begin() + 17));
    ASSERT_TRUE(s.Connect(udp));
    EXPECT_EQ(s.proto.WriteBlock(0x26C), 0);
    EXPECT_EQ(s.host.Notices(), std::vector<Notice>{Plain(kTimedOut, "Error")});
    s.Finish();
  }
}

TEST_F(LinkTest, VersionBlockIsClearedFirstAndWrittenWithItsValue) {
  Images images;
  ASSERT_TRUE(images.ok);
  Bytes cleared = kVersionBlock;
  cleared[0] = cleared[1] = 0x00;
  const Bytes command = {0x53, 0x04, 0x00, 0x00, 0x03};

  // The clear is accepted only with 00 00 in the version word's place.
  for (const auto& [echoed, expected] : {std::pair{cleared, 1}, std::pair{kVersionBlock, 0}}) {
    Session s(&images.set);
    s.peer.Read(13).Send(EchoFor(echoed));
    ASSERT_TRUE(s.Connect(udp));
    EXPECT_EQ(s.proto.ClearVersionBlock(), expected);
    EXPECT_EQ(s.Finish(), Concat({command, cleared}));
  }
  EXPECT_EQ(images.set.ImageVersion(), 0x1234);
  EXPECT_EQ(images.set.FirmwareWord(0x300), 0x1234);

  Session s(&images.set);
  s.peer.Read(13).Send(EchoFor(kVersionBlock));
  ASSERT_TRUE(s.Connect(udp));
  EXPECT_EQ(s.proto.WriteBlock(0x300), 1);
  EXPECT_EQ(s.Finish(), Concat({command, kVersionBlock}));
}

TEST_F(LinkTest, SendFailingMidBlockStillSendsEveryByteThenFailsAtTheEcho) {
  Images images;
  ASSERT_TRUE(images.ok);
  Session s(&images.set);
  // The device leaves the block's first bytes unread and resets the connection during
  // the first pause, so the third byte's send is the first to fail.
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
  EXPECT_EQ(notices[6], Plain(kWaitFailed, "Error"));
}

TEST(BlockBytes, PausesFallAfterTheSecondFourthAndSixthByte) {
  // On a link that was never opened every send fails with a notice, so the notices
  // counted at each pause show where the pauses fall among the sends.
  RecordingHost host;
  xport::SharedBuffers shared;
  xport::QueryClient xport(host, shared);
  device::DeviceLink link(host, shared, xport);
  image::ImageSet noImages;
  RecordingSleeper sleeper;
  std::vector<std::size_t> sendsBeforePause;
  sleeper.hook = [&](int) { sendsBeforePause.push_back(host.Notices().size()); };
  device::BootProtocol proto(link, shared, noImages, sleeper);

  proto.SendBlockBytes({1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_EQ(sleeper.pauses, (std::vector<int>{1, 1, 1}));
  EXPECT_EQ(sendsBeforePause, (std::vector<std::size_t>{2, 4, 6}));
  EXPECT_EQ(host.Notices().size(), 8u);
  EXPECT_EQ(device::kBlockPauseMs, 1);
}

TEST(EchoRule, OnlyTheEchoedDataAndTheMarkCount) {
  const device::DataBlock block = {0xFF, 0x3F, 0x23, 0x01, 0x00, 0x20, 0x00, 0x00};
  device::EchoReply reply = {0, 0,    0xFF, 0x3F, 0, 0,    0x23, 0x01, 0,
                             0, 0x00, 0x20, 0,    0, 0x00, 0x00, 'E',  0};
  EXPECT_TRUE(device::BootProtocol::EchoMatches(block, reply));
  for (int i : {0, 1, 4, 5, 8, 9, 12, 13, 17}) {
    device::EchoReply r = reply;
    r[i] = 0x5A;
    EXPECT_TRUE(device::BootProtocol::EchoMatches(block, r)) << i;
  }
  for (int i : {2, 3, 6, 7, 10, 11, 14, 15, 16}) {
    device::EchoReply r = reply;
    r[i] ^= 0x80;
    EXPECT_FALSE(device::BootProtocol::EchoMatches(block, r)) << i;
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
  struct LeaveCase {
    Bytes reply;
    int result;
    std::vector<Notice> notices;
  };
  const LeaveCase cases[] = {
      {{0x4E, 0x4F}, 1, {}},
      {{0x58}, 0, {}},
      {{}, 0, {Plain(kTimedOut, "Error")}},
  };
  for (const LeaveCase& c : cases) {
    Session s;
    s.peer.Read(1);
    if (!c.reply.empty()) s.peer.Send(c.reply);
    ASSERT_TRUE(s.Connect(udp));
    EXPECT_EQ(s.proto.LeaveBootMode(), c.result);
    EXPECT_EQ(s.Finish(), Bytes{0x43});
    EXPECT_EQ(s.host.Notices(), c.notices);
  }
}

// Run by hand: ./link_test --gtest_also_run_disabled_tests --gtest_filter='*Nagle*'
// The bulk write (StartBulkWrite at 0x304 and 1,855 blocks with their echoes) against an
// echoing device, with and without TCP_NODELAY on the link, and with the device's ACKs
// quick or delayed.
TEST_F(LinkTest, DISABLED_BulkWriteNagleMeasurement) {
  for (bool deviceQuickAck : {true, false}) {
    for (bool noDelay : {true, false}) {
      Session s;
      s.link.SetReceiveWaitMs(device::kReceiveWaitMs);
      s.link.UseNoDelay(noDelay);
      s.peer.SetOptions(true, deviceQuickAck);
      s.peer.EchoBlocks(1855);
      ASSERT_TRUE(s.Connect(udp));
      device::BootProtocol proto(s.link, s.shared, s.empty, platform::RealSleeper());
      platform::LowerTimerSlack();
      const auto start = platform::MonotonicUs();
      proto.StartBulkWrite(0x304);
      int good = 0;
      for (int b = 0; b < 1855; ++b) {
        const device::DataBlock block = {static_cast<std::uint8_t>(b), 0x3F, 1, 2, 3, 4, 5, 6};
        proto.SendBlockBytes(block);
        device::EchoReply echo;
        good += proto.ReadBlockEcho(echo) && device::BootProtocol::EchoMatches(block, echo);
      }
      const double ms = static_cast<double>(platform::MonotonicUs() - start) / 1000.0;
      s.Finish();
      EXPECT_EQ(good, 1855);
      std::printf(
          "device ACKs %-7s  link TCP_NODELAY %-3s  %9.1f ms  (%.2f ms/block, floor 5565 ms)\n",
          deviceQuickAck ? "quick" : "delayed", noDelay ? "on" : "off", ms, ms / 1855);
    }
  }
}

}  // namespace
