// The platform layer's promises, checked the same way on every platform (the Windows build
// runs them under Wine): waits that never end early, datagrams that do not fit, the
// sockets layer's start-up count, and files replaced whole.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <span>
#include <future>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/interrupt.h"
#include "platform/process_limits.h"
#endif
#include "platform/clock.h"
#include "platform/crypto.h"
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
    EXPECT_EQ(platform::RecvFrom(receiver, buf.data(), buf.size(), &from, &cut), 16) << length;
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

  std::uint8_t byte = 0x5A;
  EXPECT_EQ(platform::SendTo(held, &byte, 1, at), 1);
  EXPECT_EQ(platform::WaitReadable(held, 2000), platform::WaitResult::Ready);
  EXPECT_TRUE(platform::RecvFrom(held, &byte, 1, nullptr, nullptr) == 1 && byte == 0x5A);
  held.Close();
  EXPECT_EQ(platform::StartSocketLayer(), 0);
  platform::CleanupSocketLayer();
}

// Only the written file remains; what cannot be replaced (a folder) or read gives the
// system's reason, and a missing file is told apart from one that cannot be read.
TEST(PlatformFiles, WritesWholeAndReadsWithAReason) {
  testing_support::TempDir dir;
  const std::string path = dir.path() + "/sub/record.setup";
  std::string back;
  for (const std::string text : {"first, longer content", "second"}) {
    ASSERT_TRUE(platform::WriteFileAtomically(path, text.data(), text.size()));
    EXPECT_TRUE(platform::ReadFile(path, &back) == platform::ReadStatus::Ok && back == text);
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path() + "/sub"), {}), 1);
  std::error_code why;
  EXPECT_FALSE(platform::CreateFileAtomically(path, "x", 1, &why));
  EXPECT_EQ(platform::ErrorText(why), "file exists");
  std::filesystem::create_directories(dir.path() + "/taken");
  EXPECT_FALSE(platform::WriteFileAtomically(dir.path() + "/taken", "x", 1, &why));
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() + "/taken"));
  EXPECT_FALSE(platform::AppendLine(dir.path() + "/sub/record.setup/x", "line", &why));
  EXPECT_EQ(platform::ErrorText(why), "not a directory");

  back = "untouched";
  EXPECT_EQ(platform::ReadFile(dir.path() + "/none", &back, &why), platform::ReadStatus::Missing);
  EXPECT_EQ(platform::ErrorText(why), "no such file or directory");
  EXPECT_EQ(platform::ReadFile(dir.path() + "/taken", &back, &why), platform::ReadStatus::Failed);
  EXPECT_EQ(platform::ReadFile(path + "/x", &back, &why), platform::ReadStatus::Failed);
  EXPECT_EQ(platform::ErrorText(why), "not a directory");
  EXPECT_EQ(back, "untouched");
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

// The hashes and the signature check from the kept library of each platform (libsodium;
// libgcrypt in the Windows build), against published answers: SHA-256 and BLAKE2b-512 of
// "abc", and RFC 8032's first Ed25519 test (an empty message).
TEST(PlatformCrypto, KnownAnswers) {
  const auto hex = [](const auto& bytes) {
    std::string out;
    char two[3];
    for (std::uint8_t b : bytes) std::snprintf(two, sizeof two, "%02x", b), out += two;
    return out;
  };
  const auto bytes = [](const std::string& h, auto& out) {
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(std::stoi(h.substr(2 * i, 2), nullptr, 16));
  };
  const std::string abc = "abc";
  const std::span<const std::uint8_t> data(reinterpret_cast<const std::uint8_t*>(abc.data()), 3);
  EXPECT_EQ(hex(platform::Sha256(data)),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(hex(platform::Blake2b512(data)),
            "ba80a53f981c4d0d6a2797b69f12f6e94c212f14685ac4b74b12bb6fdbffa2d17d87c5392aab792dc252d5"
            "de4533cc9518d38aa8dbf1925ab92386edd4009923");
  platform::Ed25519PublicKey key;
  platform::Ed25519Signature signature;
  bytes("d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", key);
  bytes("e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e3970"
        "1cf9b46bd25bf5f0595bbe24655141438e7a100b", signature);
  EXPECT_TRUE(platform::VerifyEd25519(signature, {}, key));
  EXPECT_FALSE(platform::VerifyEd25519(signature, data, key));
  signature[5] ^= 1;
  EXPECT_FALSE(platform::VerifyEd25519(signature, {}, key));
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

TEST(PlatformConnect, EndsConnectedRefusedTimedOutOrStopped) {
  using platform::ConnectResult;
  std::int64_t took = 0;  // ms
  const auto connectWithin = [&took](platform::Socket& s, const platform::Ipv4Endpoint& to, int ms,
                                     const std::atomic<bool>* stop = nullptr) {
    const std::int64_t start = platform::MonotonicUs();
    const ConnectResult r = platform::ConnectWithin(s, to, ms, stop);
    took = (platform::MonotonicUs() - start) / 1000;
    return r;
  };
  platform::Socket listener = platform::OpenTcpSocket();
  platform::Ipv4Endpoint at{platform::InetAddr("127.0.0.1"), 0};
  ASSERT_TRUE(platform::Bind(listener, at) && platform::LocalEndpoint(listener, &at));

  // Bound but not listening: refused at once.
  platform::Socket refused = platform::OpenTcpSocket();
  EXPECT_EQ(connectWithin(refused, at, 5000), ConnectResult::Refused);
  EXPECT_EQ(platform::LastSocketError(), platform::ConnectionRefusedCode());
  EXPECT_LT(took, 2000);

  // Connected, and blocking again: the receive waits for the peer's close.
  ASSERT_TRUE(platform::Listen(listener, 0));
  platform::Socket client = platform::OpenTcpSocket();
  ASSERT_EQ(connectWithin(client, at, 2000), ConnectResult::Connected);
  platform::Socket accepted = platform::Accept(listener, nullptr);
  std::thread closer([&accepted] {
    platform::RealSleeper().SleepMs(50);
    accepted.Close();
  });
  char byte = 0;
  EXPECT_EQ(platform::Recv(client, &byte, 1), 0);
  closer.join();

#ifdef __linux__
  // With its queue full the listener drops further SYNs (Windows would answer with a
  // reset): the connects that follow hang until their bound or their stop.
  std::vector<platform::Socket> fillers;
  ConnectResult r = ConnectResult::Connected;
  for (int i = 0; i < 4 && r == ConnectResult::Connected; ++i) {
    fillers.push_back(platform::OpenTcpSocket());
    r = connectWithin(fillers.back(), at, 300);
  }
  ASSERT_EQ(r, ConnectResult::TimedOut);
  EXPECT_EQ(platform::LastSocketError(), platform::TimedOutCode());
  EXPECT_TRUE(took >= 299 && took < 1500) << took << " ms";

  std::atomic<bool> stop{false};
  std::thread stopper([&stop] {
    platform::RealSleeper().SleepMs(100);
    stop = true;
  });
  platform::Socket stopped = platform::OpenTcpSocket();
  EXPECT_EQ(connectWithin(stopped, at, 5000, &stop), ConnectResult::Stopped);
  stopper.join();
  EXPECT_TRUE(took >= 99 && took < 800) << took << " ms";  // read at least every 100 ms
  EXPECT_EQ(platform::ConnectWithin(stopped, at, 5000, &stop), ConnectResult::Stopped);
#endif
}

TEST(PlatformAddresses, OnlyTheHostsOwnAreLocal) {
  for (const char* local : {"0.0.0.0", "127.0.0.1"}) {
    EXPECT_TRUE(platform::IsLocalAddress(platform::InetAddr(local))) << local;
  }
  for (const char* other : {"198.51.100.7", "224.0.0.1", "255.255.255.255"}) {
    EXPECT_FALSE(platform::IsLocalAddress(platform::InetAddr(other))) << other;
  }
  for (const platform::Ipv4Network& n : platform::LocalIpv4Networks()) {
    EXPECT_TRUE(platform::IsLocalAddress(n.address)) << platform::FormatIpv4(n.address);
    EXPECT_NE(n.address >> 24, 127u) << platform::FormatIpv4(n.address);
    EXPECT_TRUE(n.prefixLength >= 0 && n.prefixLength <= 32) << n.prefixLength;
    if (n.prefixLength < 31) {  // its network's broadcast address is no address to send from
      EXPECT_FALSE(platform::IsLocalAddress(n.address | (0xFFFFFFFFu >> n.prefixLength)));
    }
  }
}

#ifndef _WIN32
// A copy of /dev/null (minor 3) or /dev/full (7) in dir: a report that wrongly replaced it
// as root would otherwise break the machine's own. The real one where copies cannot be
// made or opened (no root, a folder mounted nodev), where it cannot be replaced either.
std::string DeviceNode(const testing_support::TempDir& dir, const char* name, int minor) {
  const std::string path = dir.path() + "/" + name;
  const bool made = ::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, minor)) == 0;
  const int fd = made ? ::open(path.c_str(), O_WRONLY | O_CLOEXEC) : -1;
  return fd >= 0 && ::close(fd) == 0 ? path : std::string("/dev/") + name;
}
#endif

// A report goes into what stands at its path and never replaces a device, a FIFO or a link;
// a path it cannot be written to is refused before anything is opened.
TEST(PlatformReports, WrittenIntoWhatStandsThere) {
  using platform::ReportTarget;
  testing_support::TempDir dir;
  const std::string data = "{\"devices\": []}\n";
  const std::string regular = dir.Write("old.json", "an older, longer report");
  std::filesystem::create_directories(dir.path() + "/folder");
  struct Case {
    std::string path;
    ReportTarget target;
    std::string failure;  // ErrorText of WriteReport's reason, empty when it writes
  };
  std::vector<Case> cases = {
      {dir.path() + "/new.json", ReportTarget::NewFile, ""},
      {regular, ReportTarget::RegularFile, ""},
      {dir.path() + "/folder", ReportTarget::Refused, "is a directory"},
      {dir.path() + "/none/r.json", ReportTarget::Refused, "no such file or directory"},
  };
#ifdef _WIN32
  cases.push_back({"NUL", ReportTarget::Direct, ""});
#else
  const std::string linked = dir.Write("target.json", "an older, longer report");
  std::filesystem::create_symlink(linked, dir.path() + "/link.json");
  cases.push_back({dir.path() + "/link.json", ReportTarget::Direct, ""});
  const std::string null = DeviceNode(dir, "null", 3);
  cases.push_back({null, ReportTarget::Direct, ""});
  cases.push_back({DeviceNode(dir, "full", 7), ReportTarget::Direct, "no space left on device"});
#endif
  for (const Case& c : cases) {
    std::error_code why;
    EXPECT_EQ(platform::CheckReportTarget(c.path, &why), c.target) << c.path;
    EXPECT_EQ(platform::WriteReport(c.path, data, &why), c.failure.empty()) << c.path;
    if (!c.failure.empty()) {
      EXPECT_EQ(platform::ErrorText(why), c.failure) << c.path;
    }
  }
  std::string back;
  for (const std::string& path : {dir.path() + "/new.json", regular}) {
    EXPECT_TRUE(platform::ReadWholeFile(path, &back) && back == data) << path << ": " << back;
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() + "/folder"));
#ifndef _WIN32
  EXPECT_TRUE(std::filesystem::is_symlink(dir.path() + "/link.json"));
  EXPECT_TRUE(platform::ReadWholeFile(linked, &back) && back == data) << back;
  EXPECT_TRUE(std::filesystem::is_character_file(null));

  // A FIFO is only examined, never opened, until the report is written: its reader gets
  // exactly the one report.
  const std::string fifo = dir.path() + "/report.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto checked = std::async(std::launch::async,
                            [&fifo] { return platform::CheckReportTarget(fifo, nullptr); });
  if (checked.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    ADD_FAILURE() << "the FIFO was opened while it was examined";
    ::close(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));  // lets that open end
  }
  EXPECT_EQ(checked.get(), ReportTarget::Direct);
  std::string got;
  std::thread reader([&] { platform::ReadFile(fifo, &got); });
  EXPECT_TRUE(platform::WriteReport(fifo, data, nullptr));
  ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));  // a reader left waiting
  reader.join();
  EXPECT_EQ(got, data);
#endif
}

#ifndef _WIN32
// Runs checks in a child process (a private mount namespace, signal dispositions) and
// returns the names of those that failed; "skip" when checks gave false (could not start).
using Check = std::function<void(bool ok, const char* what)>;
std::string InChild(const std::function<bool(const Check&)>& checks) {
  testing_support::TempDir dir;
  const std::string out = dir.path() + "/failed";
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::string failed;
    const Check check = [&failed](bool ok, const char* what) {
      if (!ok) failed += std::string(what) + "; ";
    };
    if (!checks(check)) failed = "skip";
    platform::WriteFileAtomically(out, failed.data(), failed.size());
    ::_exit(0);
  }
  int status = 0;
  std::string text;
  ::waitpid(pid, &status, 0);
  platform::ReadFile(out, &text);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? text : text + " (child died)";
}

// A full disk and a read-only one, on a tiny tmpfs: nothing half-written is left, an older
// report is not left looking current, and the reason is the system's.
TEST(PlatformFiles, FullAndReadOnlyDisksLeaveNothingBehind) {
  testing_support::TempDir dir;
  const std::string failed = InChild([&dir](const Check& check) {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
        ::mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=16k") != 0) {
      return false;
    }
    const std::string big(64 * 1024, 'x');
    const std::string report = dir.Write("r.json", "old");
    std::error_code why;
    check(!platform::WriteReport(report, big, &why), "report on a full disk");
    check(platform::ErrorText(why) == "no space left on device", "report's reason");
    check(!platform::WriteFileAtomically(dir.path() + "/record", big.data(), big.size(), &why),
          "record on a full disk");
    check(std::filesystem::is_empty(dir.path()), "nothing left");
    ::mount(nullptr, dir.path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr);
    check(platform::CheckReportTarget(report, &why) == platform::ReportTarget::Refused &&
              platform::ErrorText(why) == "read-only file system",
          "read-only folder refused");
    check(!platform::CreateFileAtomically(dir.path() + "/s/r", "x", 1, &why) &&
              platform::ErrorText(why) == "read-only file system",
          "record on a read-only disk");
    return true;
  });
  if (failed == "skip") GTEST_SKIP() << "no private mount namespace (not root)";
  EXPECT_EQ(failed, "");
}

// SIGPIPE no longer ends the program, SIGHUP is an interrupt, and the open-file limit is
// raised as far as allowed.
TEST(PlatformProcess, SignalsAndLimits) {
  const std::string failed = InChild([](const Check& check) {
    platform::InstallInterruptHandler("");
    int ends[2];
    check(::pipe(ends) == 0 && ::close(ends[0]) == 0, "pipe");
    check(::write(ends[1], "x", 1) == -1 && errno == EPIPE, "write into a closed pipe");
    ::raise(SIGHUP);
    check(platform::InterruptFlag(), "SIGHUP sets the flag");
    platform::CleanUpFinished();
    return true;
  });
  EXPECT_EQ(failed, "");

  rlimit before{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
  before.rlim_cur = std::min<rlim_t>(before.rlim_max, 64);  // lowered, so there is room
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &before), 0);
  const std::size_t raised = platform::RaiseOpenFileLimit();
  rlimit after{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &after), 0);
  EXPECT_EQ(raised, after.rlim_cur);
  EXPECT_EQ(after.rlim_cur, before.rlim_max);
}
#endif

}  // namespace
