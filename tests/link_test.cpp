// The device link and the boot-mode protocol over a scripted device socket: inputs, notices,
// teardowns and frames. The whole reply stream, bulk write too, is fuzz/fuzz_reply_stream's.
#include <gtest/gtest.h>

#include <climits>

#include "image/image_set.h"
#include "link/boot_protocol.h"
#include "support/temp_dir.h"
#include "support/recording_host.h"
#include "support/scripted_ports.h"
#include "ui/dialog/dialog_panel.h"

namespace {

using namespace testing_support;

const Notice kTimedOut = Plain("タイムアウトしました\n", "Error");
const Notice kWaitFailed = Plain("QUIVOからの受信失敗\n", "Error");
const Notice kReset = Plain("受信に失敗しました。切断します。\nError=104", "Error");
const Notice kSendFailed = Plain("送信に失敗しました。切断します。\nError=104", "Error");
const Notice kPortQuestion = Question(
    "XPortに設定されているLocalPortと入力したPort番号が異なる可能性があります。\n"
    "XPortに設定されたLocalPortで接続しますか?",
    "確認");

// Image words 0x26C..0x26F.
const Bytes kBlock26C = {0x0A, 0x28, 0x83, 0x01, 0xFF, 0x3F, 0x00, 0x20};

// The echo that accepts block, its unexamined bytes set to filler.
Bytes EchoFor(const Bytes& block, std::uint8_t filler = 0x00) {
  Bytes e(18, filler);
  for (int i = 0; i < 8; ++i) e[4 * (i / 2) + 2 + i % 2] = block[i];
  e[16] = 'E';
  return e;
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// One run's link: a data file's images, the XPort record for LocalPort, the link and the
// protocol over a scripted device socket.
struct Session {
  Session() {
    link.UseLinkPort(&device);
    xport.UseQueryPort(&xportPort);
    xport.UseAddress(platform::InetAddr("127.0.0.1"));
    const std::string hex = ":0804D8000A288301FF3F002008\n:00000001FF\n";  // kBlock26C
    EXPECT_EQ(images.LoadDataFile(panel, dir.Write("quivo.HEX", hex)), 1);
    EXPECT_EQ(images.ParseDataFile(panel), 1);
  }
  void SetLocalPort(std::uint16_t port) {
    Bytes record(124, 0);
    record[24] = static_cast<std::uint8_t>(port & 0xFF);
    record[25] = static_cast<std::uint8_t>(port >> 8);
    xportPort.Answer({{record}});
    ASSERT_EQ(xport.QuerySetupRecord(), 1);
  }
  int Open() {
    SetLocalPort(10003);
    host.SetControlText(ui::IDC_ADDRESS, "127.0.0.1");
    host.SetControlText(ui::IDC_PORT, "10003");
    return link.OpenDeviceLink(panel.TargetFromBoxes());
  }

  TempDir dir;
  RecordingHost host;
  ui::DialogPanel& panel = host.Panel();
  RecordingSleeper sleeper;
  xport::QueryClient xport{panel};
  device::DeviceLink link{panel, xport};
  ScriptedLink device;
  ScriptedXPort xportPort;
  image::ImageSet images;
  device::BootProtocol proto{link, images, sleeper};
};

TEST(PortInput, ReadLikeAtoiAndReconciledWithLocalPort) {
  const std::pair<const char*, int> texts[] = {{"", 0}, {" \t+0010003 7", 10003}, {"-12x", -12},
                                               {"+-5", 0}, {"99999999999", INT_MAX}, {"-2147483649", INT_MIN}};
  for (const auto& [text, value] : texts) EXPECT_EQ(ui::ParsePortText(text), value) << text;

  const struct {
    const char* typed;
    std::uint16_t localPort;
    int answer;  // -1: no question; 0 No; 1 Yes
    int port;
    const char* boxAfter;
  } cases[] = {
      {"", 10003, -1, 10003, "10003"},     {"10003abc", 10003, -1, 10003, "10003abc"},
      {"10001", 10003, 1, 10003, "10003"}, {"10001", 10003, 0, 10001, "10001"},
      {"75539", 10003, 0, 75539, "75539"}, {"", 0, -1, 0, "0"},
  };
  for (const auto& c : cases) {
    Session s;
    s.SetLocalPort(c.localPort);
    s.host.SetControlText(ui::IDC_PORT, c.typed);
    if (c.answer >= 0) s.host.AnswerNext(c.answer == 1);
    EXPECT_EQ(s.link.ReadPortInput(s.panel.TargetFromBoxes()), c.port) << c.typed;
    EXPECT_EQ(s.host.Text(ui::IDC_PORT), c.boxAfter) << c.typed;
    EXPECT_EQ(s.host.Notices(), c.answer >= 0 ? std::vector{kPortQuestion} : std::vector<Notice>{});
  }
}

TEST(DeviceLink, InputsAndConnectFailuresLeaveNothingForCloseToDo) {
  const struct {
    const char* address;
    const char* port;
    std::uint16_t localPort;
    Notice notice;
  } cases[] = {
      {"", "10003", 10003, Plain("IPアドレスを入力してください", "")},
      {"127.0.0.1", "0", 0, Plain("ポート番号を入力してください", "")},
      {"127.0.0.1", "10003", 10003, Warning("接続に失敗しました。\nError=104", "Error")},
  };
  for (const auto& c : cases) {
    Session s;
    s.device.refuseConnect = true;
    s.SetLocalPort(c.localPort);
    s.host.SetControlText(ui::IDC_ADDRESS, c.address);
    s.host.SetControlText(ui::IDC_PORT, c.port);
    EXPECT_EQ(s.link.OpenDeviceLink(s.panel.TargetFromBoxes()), 0);
    EXPECT_FALSE(s.link.ConnectedFlag());
    s.link.CloseDeviceLink();
    s.link.CloseDeviceLink();
    EXPECT_EQ(s.host.Notices(), std::vector{c.notice});
  }
  Session s;  // the address as typed, at most 15 characters
  s.host.SetControlText(ui::IDC_ADDRESS, "255.255.255.2559");
  EXPECT_EQ(s.panel.TargetFromBoxes().address, platform::InetAddr("255.255.255.255"));
}

TEST(DeviceLink, ReceivesCloseTimeOutAndReset) {
  std::uint8_t buffer[16];
  {
    // What arrived, the rest cleared; a close gives 0 at once, without a notice, and the
    // link still counts as standing.
    Session s;
    s.device.Reply({0x41, 0x42, 0x43}).Closed();
    ASSERT_EQ(s.Open(), 1);
    std::memset(buffer, 0xEE, sizeof buffer);
    ASSERT_EQ(s.link.ReceiveFromDevice(buffer, 16), 3);
    EXPECT_EQ(Bytes(buffer, buffer + 16), Cat({0x41, 0x42, 0x43}, Bytes(13, 0)));
    EXPECT_EQ(s.link.ReceiveFromDevice(buffer, 16), 0);
    EXPECT_EQ(s.link.ReceiveFromDevice(buffer, 16), 0);
    EXPECT_TRUE(s.link.ConnectedFlag());
    EXPECT_TRUE(s.host.Notices().empty());
  }
  {
    // Silence times out and tears down: later receives fail at the wait, later sends with
    // their own notice, and nothing reaches the device.
    Session s;
    ASSERT_EQ(s.Open(), 1);
    EXPECT_EQ(s.link.ReceiveFromDevice(buffer, 8), 0);
    EXPECT_FALSE(s.link.ConnectedFlag());
    EXPECT_EQ(s.link.ReceiveFromDevice(buffer, 8), 0);
    EXPECT_EQ(s.link.SendToDevice(buffer, 1), 0);
    EXPECT_TRUE(s.device.sent.empty());
    EXPECT_EQ(s.host.Notices(), (std::vector{kTimedOut, kWaitFailed, kSendFailed}));
  }
  Session s;  // a reset fails the receive with its code and tears down
  s.device.Reset();
  ASSERT_EQ(s.Open(), 1);
  EXPECT_EQ(s.link.ReceiveFromDevice(buffer, 8), -1);
  EXPECT_FALSE(s.link.ConnectedFlag());
  EXPECT_EQ(s.host.Notices(), std::vector{kReset});
}

TEST(Protocol, IdentifyDecodesTheReplyHoweverItArrives) {
  const struct {
    const char* name;
    std::vector<Bytes> replies;  // one receive each; then silence
    int result, model, sub, version;  // -1: not examined
    std::vector<Notice> notices;
  } cases[] = {
      {"KT-21 in 1+3", {{0x4D}, {0x62, 0xD2, 0x04}}, 1, 0x60, 2, 1234, {}},
      {"KT-52-W", {{0x4D, 0xA3, 0xFF, 0xFF}}, 1, 0xA0, 3, 65535, {}},
      {"six bytes", {{0x4D, 0x81, 0xC8, 0x00, 0x4D, 0xA0}}, 1, 0x80, 1, 200, {}},
      {"wrong high nibble", {{0x4D, 0xF1, 0x00, 0x00}}, 0, 0xF0, 1, -1, {}},
      {"not M", {{0x58, 0x62, 0xD2, 0x04}}, 0, 0xF0, -1, -1, {}},
      {"3 then silence", {{0x4D, 0x62, 0xD2}}, 0, 0xFF, -1, -1, {kTimedOut}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Session s;
    for (const Bytes& r : c.replies) s.device.Reply(r);
    ASSERT_EQ(s.Open(), 1);
    EXPECT_EQ(s.proto.Identify(), c.result);
    const auto& id = s.proto.Identity();
    EXPECT_EQ(id.ModelCode, c.model);
    EXPECT_EQ(c.sub < 0 ? -1 : id.SubCode, c.sub);
    EXPECT_EQ(c.version < 0 ? -1 : id.ReportedVersion, c.version);
    EXPECT_EQ(s.host.Notices(), c.notices);
    EXPECT_EQ(s.device.sent, (Bytes{'@', 'Q', 'U', 'I', 'V', 'O'}));
  }
  for (bool reset : {false, true}) {  // no complete reply: closed, or reset
    Session s;
    reset ? s.device.Reply({0x4D}).Reset() : s.device.Reply({0x4D, 0x62}).Closed();
    ASSERT_EQ(s.Open(), 1);
    EXPECT_EQ(s.proto.Identify(), 0);
    EXPECT_EQ(s.proto.Identity().ModelCode, 0xFF);
    const std::vector<Notice> notices = {kReset, kWaitFailed};
    EXPECT_EQ(s.host.Notices(), reset ? notices : std::vector<Notice>{});
  }
}

TEST(Protocol, SingleBlockEchoIsJudgedWholeHoweverItIsSplit) {
  const Bytes good = EchoFor(kBlock26C);
  Bytes noE = good, wrongData = good;
  noE[16] = 'e';
  wrongData[15] ^= 0x01;
  struct Case {
    std::string name;
    std::vector<Bytes> replies;
    int result;
  };
  std::vector<Case> cases = {
      {"whole", {good}, 1},
      {"20 bytes in one receive", {Cat(good, {0x00, 0x00})}, 1},
      {"unexamined bytes", {EchoFor(kBlock26C, 0xA5)}, 1},
      {"byte 16 not E", {noE}, 0},
      {"a data byte differs", {wrongData}, 0},
      {"17 bytes, then silence", {Bytes(good.begin(), good.begin() + 17)}, 0},
  };
  for (int at = 1; at < 18; ++at) {  // split after every byte
    cases.push_back({"split at " + std::to_string(at),
                     {Bytes(good.begin(), good.begin() + at), Bytes(good.begin() + at, good.end())},
                     1});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Session s;
    for (const Bytes& r : c.replies) s.device.Reply(r);
    ASSERT_EQ(s.Open(), 1);
    EXPECT_EQ(s.proto.WriteBlock(0x26C), c.result);
    EXPECT_EQ(s.device.sent, Cat({0x53, 0x04, 0x00, 0x6C, 0x02}, kBlock26C));
    EXPECT_EQ(s.sleeper.Calls(), (std::vector<int>{1, 1, 1}));
    EXPECT_EQ(s.host.Notices(), c.name[0] == '1' ? std::vector{kTimedOut} : std::vector<Notice>{});
  }
}

TEST(Protocol, BlockBytesPauseAfterEverySecondAndAllGoOutAfterAFailure) {
  // The pauses fall after the 2nd, 4th and 6th byte, none after the 8th.
  Session s;
  ASSERT_EQ(s.Open(), 1);
  struct : platform::Sleeper {
    void SleepMs(int) override { at.push_back(device->sent.size()); }
    ScriptedLink* device = nullptr;
    std::vector<std::size_t> at;
  } pauses;
  pauses.device = &s.device;
  device::BootProtocol(s.link, s.images, pauses).SendBlockBytes({1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_EQ(pauses.at, (std::vector<std::size_t>{2, 4, 6}));
  EXPECT_EQ(s.device.sent, (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));

  // The third byte's send fails and tears the link down at once: the rest are still sent
  // (and fail), then the echo's wait fails.
  Session f;
  ASSERT_EQ(f.Open(), 1);
  f.device.FailSendsFrom(3);
  f.proto.SendBlockBytes({1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_FALSE(f.link.ConnectedFlag());
  EXPECT_EQ(f.device.sends, 8);
  device::EchoReply echo;
  EXPECT_FALSE(f.proto.ReadBlockEcho(echo));
  std::vector<Notice> notices(6, kSendFailed);
  notices.push_back(kWaitFailed);
  EXPECT_EQ(f.host.Notices(), notices);
}

}  // namespace
