// The XPort query client over a scripted port: the wait against forged senders and the
// socket notices. The reply rules, the records kept and built, the override test and the
// MAC text are fuzz/fuzz_xport's, whose oracle the suite runs over fuzz/corpus/fuzz_xport
// (the edge-* files hold each rule at its edge); the real socket runs in whole updates.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/clock.h"
#include "support/recording_host.h"
#include "support/scripted_ports.h"
#include "xport/query_client.h"

namespace {

using namespace testing_support;

struct Client {
  Client() {
    client.UseAddress(platform::InetAddr("127.0.0.1"));
    client.UseQueryPort(&port);
  }
  RecordingHost host;
  xport::QueryClient client{host.Panel()};
  ScriptedXPort port;
};

TEST(XPortClient, ForgedDatagramsDoNotStretchTheWait) {
  struct Endless : xport::QueryPort {
    bool Open() override { return true; }
    bool Bind(const platform::Ipv4Endpoint&) override { return true; }
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
  EXPECT_EQ(xport::QueryClient(c.host.Panel()).ReplyWaitMs(), 5000);  // production's wait
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

}  // namespace
