// The XPort query client over a scripted port: the reply rules at their edges, the sender
// check, the socket notices, and the records built from what the XPort reported. (Every
// datagram the fuzzer makes is fuzz/fuzz_xport's; the real socket runs in whole updates.)
#include <gtest/gtest.h>

#include <cstring>

#include "platform/clock.h"
#include "support/recording_host.h"
#include "support/scripted_ports.h"
#include "xport/query_client.h"

namespace {

using namespace testing_support;
using Datagram = ScriptedXPort::Datagram;

// A setup record whose every byte differs from its neighbours, so a moved or dropped byte
// shows; the header is none of the request codes.
Bytes Record(std::uint8_t b32, std::uint8_t b33, std::size_t size = 124) {
  Bytes r(size);
  for (std::size_t i = 0; i < r.size(); ++i) r[i] = static_cast<std::uint8_t>(i * 7 + 1);
  r[0] = r[1] = r[2] = 0x00;
  r[3] = 0xF9;
  r[24] = 0x13, r[25] = 0x27;  // LocalPort 10003
  r[32] = b32, r[33] = b33;
  return r;
}

// An info reply of size bytes with the MAC address 05 20 0B 4C 7D 0E at 24..29.
Bytes Info(std::size_t size = 30, std::uint8_t last = 0x0E) {
  Bytes r(std::max<std::size_t>(size, 30), 0x11);
  const Bytes mac = {0x05, 0x20, 0x0B, 0x4C, 0x7D, last};
  std::copy(mac.begin(), mac.end(), r.begin() + 24);
  r.resize(size);
  return r;
}

struct Client {
  Client() {
    std::strcpy(shared.AddressText.data(), "127.0.0.1");
    client.UseQueryPort(&port);
  }
  RecordingHost host;
  xport::SharedBuffers shared;
  xport::QueryClient client{host, shared};
  ScriptedXPort port;
};

TEST(XPortClient, RepliesAreJudgedByLengthAndHeaderFromTheXPortAlone) {
  const Bytes fb = {0x00, 0x00, 0x00, 0xFB};
  Bytes overLongFb(1024, 0x00);
  overLongFb[3] = 0xFB;
  enum Kind { kInfo, kRecord, kSet };
  const struct {
    const char* name;
    Kind kind;
    std::vector<Datagram> datagrams;
    int result;
  } cases[] = {
      {"info of 30", kInfo, {{Info()}}, 1},
      {"info of 29", kInfo, {{Info(29)}}, 0},
      {"info of 1023", kInfo, {{Info(1023, 0xAA)}}, 1},
      {"info of 1024", kInfo, {{Info(1024, 0xBB)}}, 0},
      {"info: forged first", kInfo, {{Info(30, 0xCC), true}, {Info(30, 0xDD)}}, 1},
      {"info: forged only", kInfo, {{Info(30, 0xEE), true}}, 0},
      {"info: none", kInfo, {}, 0},
      {"record of 124", kRecord, {{Record(0x01, 0x80)}}, 1},
      {"record of 123", kRecord, {{Record(0x02, 0x00, 123)}}, 0},
      {"record of 300", kRecord, {{Record(0x03, 0x00, 300)}}, 1},
      {"record: forged first", kRecord, {{Record(0x04, 0x00), true}, {Record(0x05, 0x00)}}, 1},
      {"set: FB", kSet, {{fb}}, 1},
      {"set: FB and more", kSet, {{{0x00, 0x00, 0x00, 0xFB, 0x01}}}, 1},
      {"set: FA", kSet, {{{0x00, 0x00, 0x00, 0xFA}}}, 0},
      {"set: 3 bytes", kSet, {{{0x00, 0x00, 0x00}}}, 0},
      {"set: empty", kSet, {{{}}}, 0},
      {"set: 01 00 00 FB", kSet, {{{0x01, 0x00, 0x00, 0xFB}}}, 0},
      {"set: over-long FB", kSet, {{overLongFb}}, 0},
      {"set: forged FB", kSet, {{fb, true}}, 0},
  };
  Client c;
  const Bytes set = Record(0xC0, 0x00);
  Bytes lastInfo(30, 0), lastRecord(124, 0);
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    c.port.Answer(k.datagrams);
    const int closes = c.port.closes;
    const int result = k.kind == kInfo     ? c.client.QueryXPortInfo()
                       : k.kind == kRecord ? c.client.QuerySetupRecord()
                                           : c.client.SendSetupRecord(set.data(), 124);
    EXPECT_EQ(result, k.result);
    EXPECT_EQ(c.port.closes, closes + 1);
    const Bytes request = k.kind == kInfo     ? Bytes{0, 0, 0, 0xF6}
                          : k.kind == kRecord ? Bytes{0, 0, 0, 0xF8}
                                              : set;
    EXPECT_EQ(c.port.requests.back(), request);
    // The reply taken is the XPort's first; a failed exchange keeps the records as they were.
    const auto taken = k.datagrams.empty() ? Bytes{} : k.datagrams.back().bytes;
    if (result == 1 && k.kind == kInfo) lastInfo.assign(taken.begin(), taken.begin() + 30);
    if (result == 1 && k.kind == kRecord) lastRecord.assign(taken.begin(), taken.begin() + 124);
    EXPECT_EQ(Bytes(c.client.XPortInfo().begin(), c.client.XPortInfo().end()), lastInfo);
    EXPECT_EQ(Bytes(c.client.SetupRecord().begin(), c.client.SetupRecord().end()), lastRecord);
  }
  EXPECT_TRUE(c.host.Notices().empty());
}

TEST(XPortClient, ForgedDatagramsDoNotStretchTheWait) {
  struct Endless : xport::QueryPort {
    bool Open() override { return true; }
    bool Bind(std::uint16_t) override { return true; }
    bool SendTo(const std::uint8_t*, std::size_t, const platform::Ipv4Endpoint&) override { return true; }
    bool WaitReadable(int) override { return true; }
    long ReceiveFrom(std::uint8_t*, std::size_t, platform::Ipv4Endpoint* from, bool* cut) override {
      *from = {platform::InetAddr("127.0.0.99"), 30718};
      *cut = false;
      return 0;
    }
    void Close() override {}
  } endless;
  Client c;
  c.client.UseQueryPort(&endless);
  c.client.SetReplyWaitMs(150);
  EXPECT_EQ(xport::QueryClient(c.host, c.shared).ReplyWaitMs(), 5000);  // production's wait
  const std::int64_t start = platform::MonotonicMs();
  EXPECT_EQ(c.client.QuerySetupRecord(), 0);
  EXPECT_GE(platform::MonotonicMs() - start, 150);
  EXPECT_LT(platform::MonotonicMs() - start, 2000);
}

TEST(XPortClient, SocketFailuresGiveTheirNoticeAndCloseWhatWasOpened) {
  Client c;
  c.port.refuseOpen = true;
  EXPECT_EQ(c.client.QueryXPortInfo(), 0);
  c.port.refuseOpen = false;
  c.port.refuseBind = true;
  EXPECT_EQ(c.client.QueryXPortInfo(), 0);
  c.port.refuseBind = false;
  c.port.refuseSend = true;
  EXPECT_EQ(c.client.QuerySetupRecord(), 0);
  EXPECT_EQ(c.port.closes, 2);  // after the bind and the send; nothing was opened before
  EXPECT_TRUE(c.port.requests.empty());
  EXPECT_EQ(c.host.Notices(), (std::vector{Plain("UDPソケット作成失敗\n", "Error"),
                                            Plain("UDP受信ポート番号の指定に失敗\n", "Error"),
                                            Plain("サーバへの送信失敗\n", "Error")}));
}

TEST(XPortClient, OverrideTestAndRecordsChangeOnlyHeaderAndSettings) {
  const struct {
    std::uint8_t b32, b33;
    bool needs;
  } cases[] = {{0x01, 0x00, true},  {0xC1, 0x00, true},  {0xF1, 0x81, true}, {0xC0, 0x80, true},
               {0x10, 0x81, false}, {0xC0, 0x00, false}, {0x02, 0x08, false}};
  for (const auto& k : cases) {
    Client c;
    const Bytes received = Record(k.b32, k.b33);
    c.port.Answer({{received}});
    ASSERT_EQ(c.client.QuerySetupRecord(), 1);
    EXPECT_EQ(c.client.NeedsOverride(), k.needs) << std::hex << int{k.b32} << " " << int{k.b33};
    EXPECT_EQ(c.client.LocalPort(), 10003);
    Bytes expected = received;
    expected[3] = 0xFA;
    c.client.BuildRestoreRecord();
    EXPECT_EQ(Bytes(c.client.SetRecord().begin(), c.client.SetRecord().end()), expected);
    expected[32] = 0xC0, expected[33] = 0x00;  // both, whichever setting matched
    c.client.BuildOverrideRecord();
    EXPECT_EQ(Bytes(c.client.SetRecord().begin(), c.client.SetRecord().end()), expected);
    EXPECT_TRUE(std::equal(received.begin(), received.end(), c.client.SetupRecord().begin()));
  }
}

TEST(XPortClient, MacTextPadsOnlyItsFirstByteWithZero) {
  Client c;
  EXPECT_EQ(c.client.FormatMacAddress(), "00- 0- 0- 0- 0- 0");
  c.port.Answer({{Info()}});
  ASSERT_EQ(c.client.QueryXPortInfo(), 1);
  EXPECT_EQ(c.client.FormatMacAddress(), "05-20- B-4C-7D- E");
}

}  // namespace
