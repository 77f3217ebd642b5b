// The platform layer's promises, checked the same way on every platform (the Windows build
// runs them under Wine): waits that never end early, datagrams that do not fit, the
// sockets layer's start-up count, and files replaced whole.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/program_folder.h"
#include "platform/socket.h"
#include "platform/state_folder.h"
#include "support/temp_dir.h"
#include "xport/saved_records.h"

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

// A Windows account such as 田中 puts the state folder under a Japanese name; a stray file
// there has one too. A record is saved, found, read and removed all the same.
TEST(PlatformFiles, SavedRecordsUnderAJapaneseFolderName) {
  testing_support::TempDir dir;
  const std::filesystem::path folder = platform::PathFromUtf8(dir.path() + "/田中/状態");
  ASSERT_TRUE(platform::WriteFileAtomically(folder / platform::PathFromUtf8("メモ.txt"), "x", 1));
  xport::SavedRecords records(folder);
  const xport::XPortInfoBytes info{};
  xport::SetupRecordBytes record{0, 0, 0, 0, 0, 0x42}, back{};
  const std::filesystem::path saved = records.Save(info, record);
  ASSERT_FALSE(saved.empty());
  EXPECT_EQ(platform::PathToUtf8(saved.parent_path()), dir.path() + "/田中/状態");
  EXPECT_EQ(records.FindFor(info), std::vector<std::filesystem::path>{saved});
  EXPECT_TRUE(xport::SavedRecords::Load(saved, &back));
  EXPECT_EQ(back, record);
  EXPECT_TRUE(records.Remove(saved));
  EXPECT_TRUE(records.FindFor(info).empty());
}

TEST(PlatformClock, LocalTimeAndTheTimerGuard) {
  std::tm tm{};
  ASSERT_TRUE(platform::LocalTime(86400 * 365, &tm));
  EXPECT_TRUE(tm.tm_year == 70 || tm.tm_year == 71) << tm.tm_year;
  // The guard may or may not raise the resolution; either way two can be nested.
  const platform::TimerResolutionGuard outer;
  { const platform::TimerResolutionGuard inner; }
  const std::int64_t start = platform::MonotonicUs();
  platform::RealSleeper().SleepMs(2);
  EXPECT_GE(platform::MonotonicUs() - start, 2000);
}

}  // namespace
