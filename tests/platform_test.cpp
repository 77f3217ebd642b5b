// The platform layer's promises, checked the same way on every platform (the Windows build
// runs them under Wine): waits that never end early, datagrams that do not fit, the
// sockets layer's start-up count, and files replaced whole.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/state_folder.h"
#include "support/temp_dir.h"

namespace {

// A UDP socket on a free loopback port.
platform::Socket LoopbackUdp(platform::Ipv4Endpoint* at) {
  platform::Socket s = platform::OpenUdpSocket();
  EXPECT_TRUE(s.valid());
  EXPECT_TRUE(platform::Bind(s, {platform::InetAddr("127.0.0.1"), 0}));
  EXPECT_TRUE(platform::LocalEndpoint(s, at));
  return s;
}

TEST(PlatformWaits, NeverEndBeforeTheirTime) {
  platform::Ipv4Endpoint at{};
  platform::Socket s = LoopbackUdp(&at);
  for (int ms : {1, 20, 60}) {
    std::int64_t start = platform::MonotonicUs();
    EXPECT_EQ(platform::WaitReadable(s, ms), platform::WaitResult::Timeout);
    // The clocks may round the end down by up to a millisecond.
    EXPECT_GE(platform::MonotonicUs() - start, (ms - 1) * 1000LL) << ms << " ms wait";

    start = platform::MonotonicUs();
    platform::RealSleeper().SleepMs(ms);
    EXPECT_GE(platform::MonotonicUs() - start, ms * 1000LL) << ms << " ms sleep";
  }
  const platform::Socket* one[] = {&s};
  EXPECT_EQ(platform::WaitAnyReadable(one, 10), -1);
}

TEST(PlatformDatagrams, LongerThanTheBufferIsReportedAsCut) {
  platform::Ipv4Endpoint at{};
  platform::Socket receiver = LoopbackUdp(&at);
  platform::Ipv4Endpoint senderAt{};
  platform::Socket sender = LoopbackUdp(&senderAt);
  std::array<std::uint8_t, 64> data{};
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i + 1);

  for (std::size_t length : {std::size_t{16}, std::size_t{17}, std::size_t{64}}) {
    ASSERT_EQ(platform::SendTo(sender, data.data(), length, at), static_cast<long>(length));
    ASSERT_EQ(platform::WaitReadable(receiver, 2000), platform::WaitResult::Ready);
    std::array<std::uint8_t, 16> buf{};
    platform::Ipv4Endpoint from{};
    bool cut = false;
    const long n = platform::RecvFrom(receiver, buf.data(), buf.size(), &from, &cut);
    EXPECT_EQ(n, 16) << length;
    EXPECT_EQ(cut, length > 16) << length;
    EXPECT_EQ(from, senderAt) << length;
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), data.begin())) << length;
  }
}

TEST(PlatformSocketLayer, UnmatchedCleanUpsLeaveOtherUsersWorking) {
  // Another user of the layer (the simulator beside the link) holds a start-up of its own.
  ASSERT_EQ(platform::StartSocketLayer(), 0);
  platform::Ipv4Endpoint at{};
  platform::Socket held = LoopbackUdp(&at);

  ASSERT_EQ(platform::StartSocketLayer(), 0);
  platform::CleanupSocketLayer();
  platform::CleanupSocketLayer();  // one more than was started by this user
  platform::CleanupSocketLayer();

  const std::uint8_t byte = 0x5A;
  EXPECT_EQ(platform::SendTo(held, &byte, 1, at), 1);
  EXPECT_EQ(platform::WaitReadable(held, 2000), platform::WaitResult::Ready);
  std::uint8_t got = 0;
  bool cut = true;
  EXPECT_EQ(platform::RecvFrom(held, &got, 1, nullptr, &cut), 1);
  EXPECT_EQ(got, byte);
  EXPECT_FALSE(cut);
  held.Close();
  EXPECT_EQ(platform::StartSocketLayer(), 0);
  platform::CleanupSocketLayer();
}

TEST(PlatformFiles, AtomicWriteReplacesWholeAndLeavesNothingElse) {
  testing_support::TempDir dir;
  const std::string path = dir.path() + "/sub/record.setup";
  for (const std::string text : {"first, longer content", "second"}) {
    ASSERT_TRUE(platform::WriteFileAtomically(path, text.data(), text.size()));
    std::ifstream f(path, std::ios::binary);
    const std::string back((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    EXPECT_EQ(back, text);
  }
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path() + "/sub")) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 1);
  // A folder in the file's place cannot be replaced: false, and the folder stays.
  std::filesystem::create_directories(dir.path() + "/taken");
  EXPECT_FALSE(platform::WriteFileAtomically(dir.path() + "/taken", "x", 1));
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() + "/taken"));
}

}  // namespace
