// The XPort query client against a scripted XPort on loopback: the three exchanges and
// their reply rules, the socket notices, the sender check, and the records built from
// what the XPort reported.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/clock.h"
#include "support/recording_host.h"
#include "support/scripted_peers.h"
#include "xport/query_client.h"

namespace {

using testing_support::Bytes;
using testing_support::Datagram;
using testing_support::Notice;
using testing_support::Plain;
using testing_support::RecordingHost;
using testing_support::ScriptedUdpPeer;

// 127.0.0.1: Wine answers datagrams from 127.0.0.1 whatever 127/8 address a socket is
// bound to, so the suite also runs under it (the forged-sender case excepted).
constexpr const char* kXPortAddress = "127.0.0.1";

// A setup record whose every byte differs from its neighbours, so a moved or dropped byte
// shows; the header is none of the request codes.
Bytes Record(std::uint8_t b32, std::uint8_t b33, std::uint16_t localPort = 10003) {
  Bytes r(xport::kRecordSize);
  for (std::size_t i = 0; i < r.size(); ++i) r[i] = static_cast<std::uint8_t>(i * 7 + 1);
  r[0] = 0x00, r[1] = 0x00, r[2] = 0x00, r[3] = 0xF9;
  r[24] = static_cast<std::uint8_t>(localPort & 0xFF);
  r[25] = static_cast<std::uint8_t>(localPort >> 8);
  r[32] = b32;
  r[33] = b33;
  return r;
}

Bytes Info(const Bytes& mac) {
  Bytes r(xport::kInfoSize, 0x11);
  std::copy(mac.begin(), mac.end(), r.begin() + 24);
  return r;
}

class XPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(peer.Start(&error)) << error;
    SetAddress(kXPortAddress);
    client.SetReplyWaitMs(1000);
  }

  void SetAddress(const char* text) {
    shared.AddressText.fill('\0');
    std::strncpy(shared.AddressText.data(), text, 15);
  }

  // Runs one get-setup-record exchange answered with record.
  int LoadRecord(const Bytes& record) {
    peer.ReplyNext({{record}});
    return client.QuerySetupRecord();
  }

  RecordingHost host;
  xport::SharedBuffers shared;
  xport::QueryClient client{host, shared};
  ScriptedUdpPeer peer{kXPortAddress};
};

TEST_F(XPortTest, InfoReplyMustHoldThirtyBytesAndFitTheReceiveArea) {
  const Bytes mac = {0x05, 0x20, 0x0B, 0x4C, 0x7D, 0x0E};
  const Bytes good = Info(mac);

  peer.ReplyNext({{Bytes(good.begin(), good.begin() + 29)}});
  EXPECT_EQ(client.QueryXPortInfo(), 0);
  EXPECT_EQ(client.XPortInfo(), xport::XPortInfoBytes{});

  peer.ReplyNext({{good}});
  EXPECT_EQ(client.QueryXPortInfo(), 1);
  EXPECT_TRUE(std::equal(good.begin(), good.end(), client.XPortInfo().begin()));
  EXPECT_EQ(client.FormatMacAddress(), "05-20- B-4C-7D- E");

  // 1,023 bytes is the largest reply taken; one byte more is a failed receive, not a
  // shortened reply, and leaves the earlier info in place.
  Bytes longest = Info({0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF});
  longest.resize(1023, 0x55);
  peer.ReplyNext({{longest}});
  EXPECT_EQ(client.QueryXPortInfo(), 1);
  EXPECT_EQ(client.FormatMacAddress(), "AA-BB-CC-DD-EE-FF");
  Bytes overLong = Info(mac);
  overLong.resize(1024, 0x55);
  peer.ReplyNext({{overLong}});
  EXPECT_EQ(client.QueryXPortInfo(), 0);
  EXPECT_EQ(client.FormatMacAddress(), "AA-BB-CC-DD-EE-FF");

  const auto requests = peer.Requests();
  ASSERT_EQ(requests.size(), 4u);
  for (const Bytes& r : requests) EXPECT_EQ(r, (Bytes{0x00, 0x00, 0x00, 0xF6}));
  for (const auto& from : peer.Sources()) EXPECT_EQ(from.port, xport::kQueryLocalPort);
  EXPECT_TRUE(host.Notices().empty());
}

TEST_F(XPortTest, SetupReplyMustHoldTheWholeRecord) {
  EXPECT_EQ(client.LocalPort(), 0);

  const Bytes record = Record(0x01, 0x80, 10003);
  EXPECT_EQ(LoadRecord(Bytes(record.begin(), record.end() - 1)), 0);
  EXPECT_EQ(client.SetupRecord(), xport::SetupRecordBytes{});
  EXPECT_EQ(client.LocalPort(), 0);

  EXPECT_EQ(LoadRecord(record), 1);
  EXPECT_TRUE(std::equal(record.begin(), record.end(), client.SetupRecord().begin()));
  EXPECT_EQ(client.LocalPort(), 10003);

  // From a longer reply only the first 124 bytes are kept.
  Bytes longer = Record(0x00, 0x00, 0xABCD);
  longer.resize(300, 0x77);
  EXPECT_EQ(LoadRecord(longer), 1);
  EXPECT_TRUE(std::equal(longer.begin(), longer.begin() + 124, client.SetupRecord().begin()));
  EXPECT_EQ(client.LocalPort(), 0xABCD);

  for (const Bytes& r : peer.Requests()) EXPECT_EQ(r, (Bytes{0x00, 0x00, 0x00, 0xF8}));
  EXPECT_TRUE(host.Notices().empty());
}

TEST_F(XPortTest, SetRequestIsAcceptedOnlyByAReplyBeginningFB) {
  const Bytes record = Record(0x01, 0x80);
  struct Case {
    Bytes reply;
    int expected;
  };
  Bytes fbThenMore = {0x00, 0x00, 0x00, 0xFB, 0x01, 0x02, 0x03};
  Bytes overLongFb(1024, 0x00);
  overLongFb[3] = 0xFB;
  const Case cases[] = {
      {{0x00, 0x00, 0x00, 0xFB}, 1},
      {fbThenMore, 1},
      {{0x00, 0x00, 0x00, 0xFA}, 0},
      {{0x00, 0x00, 0x00}, 0},
      {{}, 0},
      {{0x01, 0x00, 0x00, 0xFB}, 0},
      // A datagram too long to take is a failed receive even if it begins right.
      {overLongFb, 0},
  };
  for (const Case& c : cases) {
    peer.ReplyNext({{c.reply}});
    EXPECT_EQ(client.SendSetupRecord(record.data(), 124), c.expected) << c.reply.size();
  }
  for (const Bytes& r : peer.Requests()) EXPECT_EQ(r, record);
  EXPECT_EQ(peer.Requests().size(), std::size(cases));
  EXPECT_TRUE(host.Notices().empty());
}

TEST_F(XPortTest, SilenceFailsQuietlyAndKeepsTheRecords) {
  ASSERT_EQ(LoadRecord(Record(0x01, 0x80, 10003)), 1);
  peer.ReplyNext({{Info({1, 2, 3, 4, 5, 6})}});
  ASSERT_EQ(client.QueryXPortInfo(), 1);
  const auto info = client.XPortInfo();
  const auto record = client.SetupRecord();

  client.SetReplyWaitMs(150);
  const Bytes set = Record(0xC0, 0x00);
  EXPECT_EQ(client.QueryXPortInfo(), 0);
  EXPECT_EQ(client.QuerySetupRecord(), 0);
  EXPECT_EQ(client.SendSetupRecord(set.data(), 124), 0);
  EXPECT_EQ(client.XPortInfo(), info);
  EXPECT_EQ(client.SetupRecord(), record);
  EXPECT_TRUE(host.Notices().empty());
  // Every exchange closed its socket: the next one binds the local port again.
  EXPECT_EQ(LoadRecord(Record(0x00, 0x00)), 1);
}

TEST_F(XPortTest, TakenLocalPortRefusesTheBindUntilItIsFree) {
  {
    platform::Socket holder = platform::OpenUdpSocket();
    ASSERT_TRUE(platform::Bind(holder, {0, xport::kQueryLocalPort}));
    EXPECT_EQ(client.QuerySetupRecord(), 0);
    EXPECT_EQ(host.Notices(),
              std::vector<Notice>{Plain("UDP受信ポート番号の指定に失敗\n", "Error")});
    EXPECT_TRUE(peer.Requests().empty());
  }
  EXPECT_EQ(LoadRecord(Record(0x00, 0x00)), 1);
  EXPECT_EQ(host.Notices().size(), 1u);
}

TEST_F(XPortTest, AddressThatIsNoAddressRefusesTheSend) {
  SetAddress("abc");
  EXPECT_EQ(client.QueryXPortInfo(), 0);
  EXPECT_EQ(host.Notices(), std::vector<Notice>{Plain("サーバへの送信失敗\n", "Error")});
  SetAddress(kXPortAddress);
  EXPECT_EQ(LoadRecord(Record(0x00, 0x00)), 1);
  EXPECT_EQ(host.Notices().size(), 1u);
}

TEST_F(XPortTest, RepliesFromOtherSendersAreDroppedWithinTheSameWait) {
  client.SetReplyWaitMs(300);
  // A forged record that arrives first must not become the SetupRecord.
  peer.ReplyNext({{Record(0x00, 0x00, 4444), true}, {Record(0x01, 0x80, 10003)}});
  EXPECT_EQ(client.QuerySetupRecord(), 1);
  EXPECT_EQ(client.LocalPort(), 10003);

  const Bytes set = Record(0xC0, 0x00);
  peer.ReplyNext({{{0x00, 0x00, 0x00, 0xFB}, true}});
  EXPECT_EQ(client.SendSetupRecord(set.data(), 124), 0);

  // Forged datagrams keep coming but do not stretch the wait past its deadline.
  std::vector<Datagram> forged;
  for (int i = 0; i < 6; ++i) forged.push_back({Record(0, 0, 4444), true, 100});
  peer.ReplyNext(forged);
  const auto start = platform::MonotonicMs();
  EXPECT_EQ(client.QuerySetupRecord(), 0);
  EXPECT_LT(platform::MonotonicMs() - start, 600);
  EXPECT_EQ(client.LocalPort(), 10003);
  EXPECT_TRUE(host.Notices().empty());
}

TEST_F(XPortTest, NeedsOverrideReadsBytes32And33) {
  struct Case {
    std::uint8_t b32, b33;
    bool expected;
  };
  const Case cases[] = {
      {0x01, 0x00, true},  {0x01, 0x80, true},  {0xC1, 0x00, true},  {0x11, 0x81, true},
      {0xF1, 0x00, true},  {0xC0, 0x80, true},  {0x10, 0x81, false}, {0xC0, 0x00, false},
      {0x00, 0x00, false}, {0x02, 0x08, false},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(LoadRecord(Record(c.b32, c.b33)), 1);
    EXPECT_EQ(client.NeedsOverride(), c.expected) << std::hex << int{c.b32} << " " << int{c.b33};
  }
}

TEST_F(XPortTest, OverrideAndRestoreRecordsChangeOnlyHeaderAndSettings) {
  const Bytes received = Record(0x01, 0x80, 10003);
  ASSERT_EQ(LoadRecord(received), 1);

  client.BuildOverrideRecord();
  Bytes expected = received;
  expected[3] = 0xFA;
  expected[32] = 0xC0;
  expected[33] = 0x00;
  EXPECT_EQ(Bytes(client.SetRecord().begin(), client.SetRecord().end()), expected);

  client.BuildRestoreRecord();
  expected[32] = 0x01;
  expected[33] = 0x80;
  EXPECT_EQ(Bytes(client.SetRecord().begin(), client.SetRecord().end()), expected);
  EXPECT_TRUE(std::equal(received.begin(), received.end(), client.SetupRecord().begin()));

  // Whichever setting matched, both are set in the override record.
  ASSERT_EQ(LoadRecord(Record(0x00, 0x80)), 1);
  client.BuildOverrideRecord();
  EXPECT_EQ(client.SetRecord()[32], 0xC0);
  EXPECT_EQ(client.SetRecord()[33], 0x00);
}

TEST(XPortFormat, MacTextAndDefaultsBeforeAnyQuery) {
  RecordingHost host;
  xport::SharedBuffers shared;
  xport::QueryClient client(host, shared);
  EXPECT_EQ(client.FormatMacAddress(), "00- 0- 0- 0- 0- 0");
  EXPECT_EQ(client.LocalPort(), 0);
  EXPECT_EQ(client.ReplyWaitMs(), 5000);
  EXPECT_EQ(xport::kReplyWaitMs, 5000);
}

}  // namespace
