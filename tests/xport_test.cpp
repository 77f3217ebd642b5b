// The XPort query client against a scripted XPort on loopback: the three exchanges and
// their reply rules, the socket notices, the sender check, and the records built from
// what the XPort reported.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>

#include "platform/clock.h"
#include "support/recording_host.h"
#include "support/scripted_peers.h"
#include "xport/query_client.h"

namespace {

using namespace testing_support;

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

// An info reply of size bytes carrying mac at 24..29 (cut off in a shorter one).
Bytes Info(const Bytes& mac, std::size_t size = xport::kInfoSize) {
  Bytes r(std::max<std::size_t>(size, xport::kInfoSize), 0x55);
  std::fill(r.begin(), r.begin() + xport::kInfoSize, 0x11);
  std::copy(mac.begin(), mac.end(), r.begin() + 24);
  r.erase(r.begin() + static_cast<std::ptrdiff_t>(size), r.end());
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
  // One get-setup-record exchange answered with record.
  int LoadRecord(const Bytes& record) {
    peer.ReplyNext({{record}});
    return client.QuerySetupRecord();
  }
  Bytes SetRecord() const { return Bytes(client.SetRecord().begin(), client.SetRecord().end()); }

  RecordingHost host;
  xport::SharedBuffers shared;
  xport::QueryClient client{host, shared};
  ScriptedUdpPeer peer{kXPortAddress};
};

TEST_F(XPortTest, InfoReplyMustHoldThirtyBytesAndFitTheReceiveArea) {
  EXPECT_EQ(client.FormatMacAddress(), "00- 0- 0- 0- 0- 0");
  EXPECT_EQ(xport::QueryClient(host, shared).ReplyWaitMs(), 5000);  // production's wait
  const Bytes mac = {0x05, 0x20, 0x0B, 0x4C, 0x7D, 0x0E};
  struct Case {
    Bytes reply;
    int expected;
    const char* mac;  // after the exchange: a failed one leaves the earlier info
  };
  const Case cases[] = {
      {Info(mac, 29), 0, "00- 0- 0- 0- 0- 0"},
      {Info(mac), 1, "05-20- B-4C-7D- E"},
      {Info({0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}, 1023), 1, "AA-BB-CC-DD-EE-FF"},  // the largest
      {Info(mac, 1024), 0, "AA-BB-CC-DD-EE-FF"},  // a failed receive, not a shortened reply
  };
  for (const Case& c : cases) {
    peer.ReplyNext({{c.reply}});
    EXPECT_EQ(client.QueryXPortInfo(), c.expected) << c.reply.size();
    EXPECT_EQ(client.FormatMacAddress(), c.mac) << c.reply.size();
    if (c.reply.size() == 30) {
      EXPECT_TRUE(std::equal(c.reply.begin(), c.reply.end(), client.XPortInfo().begin()));
    }
  }
  ASSERT_EQ(peer.Requests().size(), std::size(cases));
  for (const Bytes& r : peer.Requests()) EXPECT_EQ(r, (Bytes{0x00, 0x00, 0x00, 0xF6}));
  for (const auto& from : peer.Sources()) EXPECT_EQ(from.port, xport::kQueryLocalPort);
  EXPECT_TRUE(host.Notices().empty());
}

TEST_F(XPortTest, SetupReplyMustHoldTheWholeRecord) {
  const Bytes record = Record(0x01, 0x80, 10003);
  EXPECT_EQ(LoadRecord(Bytes(record.begin(), record.end() - 1)), 0);
  EXPECT_EQ(client.SetupRecord(), xport::SetupRecordBytes{});
  EXPECT_EQ(client.LocalPort(), 0);

  EXPECT_EQ(LoadRecord(record), 1);
  EXPECT_TRUE(std::equal(record.begin(), record.end(), client.SetupRecord().begin()));
  EXPECT_EQ(client.LocalPort(), 10003);

  Bytes longer = Record(0x00, 0x00, 0xABCD);  // only the first 124 bytes are kept
  longer.resize(300, 0x77);
  EXPECT_EQ(LoadRecord(longer), 1);
  EXPECT_TRUE(std::equal(longer.begin(), longer.begin() + 124, client.SetupRecord().begin()));
  EXPECT_EQ(client.LocalPort(), 0xABCD);

  for (const Bytes& r : peer.Requests()) EXPECT_EQ(r, (Bytes{0x00, 0x00, 0x00, 0xF8}));
  EXPECT_TRUE(host.Notices().empty());
}

TEST_F(XPortTest, SetRequestIsAcceptedOnlyByAReplyBeginningFB) {
  const Bytes record = Record(0x01, 0x80);
  Bytes overLongFb(1024, 0x00);  // too long to take: a failed receive, though it begins right
  overLongFb[3] = 0xFB;
  const std::pair<Bytes, int> cases[] = {
      {{0x00, 0x00, 0x00, 0xFB}, 1},
      {{0x00, 0x00, 0x00, 0xFB, 0x01, 0x02, 0x03}, 1},
      {{0x00, 0x00, 0x00, 0xFA}, 0},
      {{0x00, 0x00, 0x00}, 0},
      {{}, 0},
      {{0x01, 0x00, 0x00, 0xFB}, 0},
      {overLongFb, 0},
  };
  for (const auto& [reply, expected] : cases) {
    peer.ReplyNext({{reply}});
    EXPECT_EQ(client.SendSetupRecord(record.data(), 124), expected) << reply.size();
  }
  EXPECT_EQ(peer.Requests(), std::vector<Bytes>(std::size(cases), record));
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

TEST_F(XPortTest, SocketFailuresGiveTheirNoticeAndLeaveTheNextExchangeWorking) {
  {
    platform::Socket holder = platform::OpenUdpSocket();  // the local port taken
    ASSERT_TRUE(platform::Bind(holder, {0, xport::kQueryLocalPort}));
    EXPECT_EQ(client.QuerySetupRecord(), 0);
    EXPECT_TRUE(peer.Requests().empty());
  }
  EXPECT_EQ(LoadRecord(Record(0x00, 0x00)), 1);
  SetAddress("abc");
  EXPECT_EQ(client.QueryXPortInfo(), 0);
  SetAddress(kXPortAddress);
  EXPECT_EQ(LoadRecord(Record(0x00, 0x00)), 1);
  EXPECT_EQ(host.Notices(), (std::vector{Plain("UDP受信ポート番号の指定に失敗\n", "Error"),
                                         Plain("サーバへの送信失敗\n", "Error")}));
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
  peer.ReplyNext(std::vector<Datagram>(6, {Record(0, 0, 4444), true, 100}));
  const auto start = platform::MonotonicMs();
  EXPECT_EQ(client.QuerySetupRecord(), 0);
  EXPECT_LT(platform::MonotonicMs() - start, 600);
  EXPECT_EQ(client.LocalPort(), 10003);
  EXPECT_TRUE(host.Notices().empty());
}

TEST_F(XPortTest, OverrideRecordsChangeOnlyHeaderAndSettings) {
  // NeedsOverride reads bytes 32 and 33.
  const std::tuple<std::uint8_t, std::uint8_t, bool> cases[] = {
      {0x01, 0x00, true},  {0x01, 0x80, true},  {0xC1, 0x00, true},  {0x11, 0x81, true},
      {0xF1, 0x00, true},  {0xC0, 0x80, true},  {0x10, 0x81, false}, {0xC0, 0x00, false},
      {0x00, 0x00, false}, {0x02, 0x08, false},
  };
  for (const auto& [b32, b33, expected] : cases) {
    ASSERT_EQ(LoadRecord(Record(b32, b33)), 1);
    EXPECT_EQ(client.NeedsOverride(), expected) << std::hex << int{b32} << " " << int{b33};
    client.BuildOverrideRecord();  // whichever setting matched, both are set
    EXPECT_EQ(SetRecord()[32], 0xC0);
    EXPECT_EQ(SetRecord()[33], 0x00);
  }

  const Bytes received = Record(0x01, 0x80, 10003);
  ASSERT_EQ(LoadRecord(received), 1);
  client.BuildOverrideRecord();
  Bytes expected = received;
  expected[3] = 0xFA;
  expected[32] = 0xC0;
  expected[33] = 0x00;
  EXPECT_EQ(SetRecord(), expected);
  client.BuildRestoreRecord();
  expected[32] = 0x01;
  expected[33] = 0x80;
  EXPECT_EQ(SetRecord(), expected);
  EXPECT_TRUE(std::equal(received.begin(), received.end(), client.SetupRecord().begin()));
}

}  // namespace
