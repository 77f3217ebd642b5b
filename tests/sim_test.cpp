// quivo-sim driven from the tool's side with plain sockets: the device's frames, the XPort's
// records, the faults, and input that must not hurt it. Replies are awaited with bounded
// waits; silence is a bounded wait that sees nothing.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "image/image_set.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "sim/fault_names.h"
#include "sim/simulator.h"
#include "support/hex_files.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kReplyWaitMs = 2000;
constexpr int kSilenceMs = 150;
constexpr const char* kSimAddress = "127.0.0.2";

// The tool's end of one TCP connection.
class Peer {
 public:
  Peer(const std::string& address, std::uint16_t port) : socket_(platform::OpenTcpSocket()) {
    connected_ = platform::Connect(socket_, {platform::InetAddr(address.c_str()), port});
  }
  bool connected() const { return connected_; }
  void Send(const Bytes& bytes) { platform::Send(socket_, bytes.data(), bytes.size()); }
  void SendEachByte(const Bytes& bytes) {
    for (std::uint8_t b : bytes) platform::Send(socket_, &b, 1);
  }
  // Up to n bytes, until the wait runs out or the connection ends (last(): 0 closed, -1 failed).
  Bytes Read(std::size_t n, int waitMs = kReplyWaitMs) {
    Bytes out;
    const std::int64_t deadline = platform::MonotonicMs() + waitMs;
    while (out.size() < n) {
      const std::int64_t left = deadline - platform::MonotonicMs();
      if (left <= 0 ||
          platform::WaitReadable(socket_, static_cast<int>(left)) != platform::WaitResult::Ready) {
        break;
      }
      std::uint8_t buf[64];
      last_ = platform::Recv(socket_, buf, std::min(sizeof buf, n - out.size()));
      if (last_ <= 0) break;
      out.insert(out.end(), buf, buf + last_);
    }
    return out;
  }
  bool Silent(int ms = kSilenceMs) {
    return platform::WaitReadable(socket_, ms) == platform::WaitResult::Timeout;
  }
  long last() const { return last_; }

 private:
  platform::Socket socket_;
  bool connected_ = false;
  long last_ = 1;
};

// One UDP exchange with the XPort from an ephemeral local port.
std::optional<Bytes> Ask(const Bytes& request, int waitMs = kReplyWaitMs,
                         const char* address = kSimAddress) {
  platform::Socket s = platform::OpenUdpSocket();
  if (!platform::Bind(s, {platform::InetAddr("127.0.0.1"), 0})) return std::nullopt;
  platform::SendTo(s, request.data(), request.size(), {platform::InetAddr(address), 30718});
  if (platform::WaitReadable(s, waitMs) != platform::WaitResult::Ready) return std::nullopt;
  std::uint8_t buf[2048];
  const long n = platform::RecvFrom(s, buf, sizeof buf, nullptr, nullptr);
  if (n < 0) return std::nullopt;
  return Bytes(buf, buf + n);
}

const Bytes kInfo = {0, 0, 0, 0xF6};
const Bytes kGet = {0, 0, 0, 0xF8};
const Bytes kAccepted = {0, 0, 0, 0xFB};
const Bytes kIdentify = {'@', 'Q', 'U', 'I', 'V', 'O'};

Bytes SetRequest(sim::Record record, std::uint8_t b32, std::uint8_t b33) {
  record[3] = 0xFA;
  record[32] = b32;
  record[33] = b33;
  return Bytes(record.begin(), record.end());
}

Bytes Write(int count, int address) {
  return {'S', static_cast<std::uint8_t>(count & 0xFF), static_cast<std::uint8_t>(count >> 8),
          static_cast<std::uint8_t>(address & 0xFF), static_cast<std::uint8_t>(address >> 8)};
}

Bytes Block(std::uint16_t a, std::uint16_t b, std::uint16_t c, std::uint16_t d) {
  Bytes out;
  for (std::uint16_t w : {a, b, c, d}) {
    out.push_back(static_cast<std::uint8_t>(w & 0xFF));
    out.push_back(static_cast<std::uint8_t>(w >> 8));
  }
  return out;
}

// The block's bytes as an echo carries them (at 2,3 / 6,7 / 10,11 / 14,15).
Bytes EchoedData(const Bytes& echo) {
  Bytes data;
  for (std::size_t i = 2; i < 16 && i < echo.size(); i += 4) {
    data.insert(data.end(), echo.begin() + static_cast<long>(i),
                echo.begin() + static_cast<long>(std::min(i + 2, echo.size())));
  }
  return data;
}
bool EchoCarries(const Bytes& echo, const Bytes& block) {
  return echo.size() >= 17 && EchoedData(echo) == block && echo[16] == 'E';
}

sim::Config TestConfig(const std::string& address = kSimAddress) {
  sim::Config c;
  c.address = address;
  c.tcpPort = 0;
  c.settleMs = 0;
  return c;
}

struct Running {
  explicit Running(sim::Config c) : sim(std::move(c)) {
    std::string error;
    started = sim.Start(&error);
    EXPECT_TRUE(started) << error;
  }
  Peer Connect(const std::string& address = kSimAddress) { return Peer(address, sim.TcpPort()); }
  // Whether the event log has a line containing what, waiting up to ms for it.
  bool Logged(const std::string& what, int ms = 0) const {
    const std::int64_t deadline = platform::MonotonicMs() + ms;
    for (;;) {
      for (const auto& line : sim.Events()) {
        if (line.find(what) != std::string::npos) return true;
      }
      if (platform::MonotonicMs() > deadline) return false;
      platform::RealSleeper().SleepMs(2);
    }
  }
  sim::Simulator sim;
  bool started = false;
};

TEST(SimDevice, IdentifyAnswersModelAndVersionWord) {
  sim::Config c = TestConfig();
  c.memory.emplace().fill(0x3FFF);
  (*c.memory)[0x300] = 1234;
  c.modelCode = 0x60;
  c.subCode = 2;
  Running r(c);
  Peer p = r.Connect();
  ASSERT_TRUE(p.connected());
  // Plain, then after noise and a broken-off request: the same one answer.
  for (const Bytes& request :
       {kIdentify, Bytes{0x00, 0xFF, '@', 'Q', 'U', 'x', '@', 'Q', 'U', 'I', 'V', 'O'}}) {
    p.Send(request);
    EXPECT_EQ(p.Read(4), (Bytes{0x4D, 0x62, 0xD2, 0x04}));
    EXPECT_TRUE(p.Silent());
  }
  EXPECT_TRUE(r.Logged("tcp rx ignored 2 bytes: 00 FF"));
  EXPECT_TRUE(r.Logged("tcp rx ignored 4 bytes: 40 51 55 78"));
}

TEST(SimDevice, WriteStoresWordsAsSentAndEchoesThem) {
  Running r(TestConfig());
  Peer p = r.Connect();
  const std::vector<std::pair<Bytes, std::vector<Bytes>>> commands = {
      {Write(4, 0x26C), {Block(0x3FFF, 0x0123, 0x2000, 0x0000)}},
      {Write(12, 0x304), {Block(1, 2, 3, 4), Block(0xFFFF, 0x8000, 5, 6), Block(7, 8, 9, 10)}},
      {Write(4, 0x300), {Block(0x002A, 0x11, 0x22, 0x33)}},
  };
  std::vector<Bytes> echoes;
  for (const auto& [command, blocks] : commands) {
    p.Send(command);
    for (const Bytes& b : blocks) {
      p.SendEachByte(b);
      echoes.push_back(p.Read(18));
      EXPECT_EQ(echoes.back().size(), 18u);
      EXPECT_TRUE(EchoCarries(echoes.back(), b));
    }
  }
  // The unexamined bytes are not zero, and not the same from block to block.
  const auto loose = [](const Bytes& e) {
    return Bytes{e[0], e[1], e[4], e[5], e[8], e[9], e[12], e[13], e[17]};
  };
  EXPECT_NE(loose(echoes[0]), Bytes(9, 0));
  EXPECT_NE(loose(echoes[1]), loose(echoes[2]));
  EXPECT_NE(echoes[1][17], echoes[2][17]);

  const sim::Memory m = r.sim.ProgramMemory();
  EXPECT_EQ((std::vector<int>{m[0x26B], m[0x26C], m[0x26D], m[0x26E], m[0x26F]}),
            (std::vector<int>{0x3FFF, 0x3FFF, 0x0123, 0x2000, 0x0000}));
  EXPECT_EQ((std::vector<int>{m[0x304], m[0x308], m[0x309], m[0x30F], m[0x310]}),
            (std::vector<int>{1, 0xFFFF, 0x8000, 10, 0x3FFF}));
  EXPECT_EQ(r.sim.VersionWord(), 42);
  EXPECT_EQ(r.sim.DataBlocks(), 5);
  EXPECT_TRUE(r.Logged("tcp rx S 04 00 6C 02"));
  // The bulk write's start and end carry timestamps, in order.
  long first = -1, last = -1;
  for (const auto& line : r.sim.Events()) {
    if (line.find("bulk first block 0x0304") != std::string::npos) first = std::stol(line);
    if (line.find("bulk last echo 0x030C") != std::string::npos) last = std::stol(line);
  }
  EXPECT_GE(first, 0);
  EXPECT_GE(last, first);
}

TEST(SimDevice, LeaveAnswersNAndEndsBootModeUntilTheNextConnection) {
  Running r(TestConfig());
  Peer p = r.Connect();
  p.Send({'C'});
  EXPECT_EQ(p.Read(1), Bytes{'N'});
  p.Send(kIdentify);
  EXPECT_TRUE(p.Silent());
  EXPECT_EQ(r.sim.LeaveCommands(), 1);
  Peer q = r.Connect();
  q.Send(kIdentify);
  EXPECT_EQ(q.Read(4).size(), 4u);
}

TEST(SimXPort, RepliesRecordSetAndSettle) {
  sim::Config c = TestConfig();
  c.settleMs = 300;
  Running r(c);
  const Bytes info = Ask(kInfo).value_or(Bytes{});
  ASSERT_EQ(info.size(), 30u);
  EXPECT_EQ(Bytes(info.begin() + 24, info.end()), (Bytes{0x00, 0x20, 0x4A, 0x0B, 0x4C, 0x0E}));

  const Bytes got = Ask(kGet).value_or(Bytes{});
  ASSERT_EQ(got.size(), 124u);
  EXPECT_EQ(got[24] | got[25] << 8, r.sim.TcpPort());  // LocalPort: the real port
  EXPECT_EQ(got[32], 0xC0);
  EXPECT_EQ(got[33], 0x00);
  const sim::Record original = r.sim.SetupRecord();
  EXPECT_EQ(Bytes(original.begin(), original.end()), got);

  // Override: bytes 4..123 are taken; the reply header stays the XPort's own.
  EXPECT_EQ(Ask(SetRequest(original, 0x01, 0x80)), kAccepted);
  const std::int64_t acceptedAt = platform::MonotonicMs();
  EXPECT_EQ(r.sim.SetupRecord()[32], 0x01);
  EXPECT_EQ(r.sim.SetupRecord()[33], 0x80);
  EXPECT_EQ(r.sim.SetupRecord()[3], original[3]);

  // Restarting: requests go unanswered until the settle time has passed.
  EXPECT_FALSE(Ask(kGet, 100));
  std::optional<Bytes> after;
  for (int i = 0; i < 30 && !after; ++i) after = Ask(kGet, 100);
  ASSERT_TRUE(after);
  EXPECT_GE(platform::MonotonicMs() - acceptedAt, 250);
  EXPECT_TRUE(r.Logged("ignored: restarting"));

  // Restore puts the record back as it was.
  EXPECT_EQ(Ask(SetRequest(original, original[32], original[33])), kAccepted);
  EXPECT_EQ(r.sim.SetupRecord(), original);
  EXPECT_EQ(r.sim.SetRequests(), 2);
}

TEST(SimXPort, OverrideSettingsHoldTheDeviceSilent) {
  sim::Config c = TestConfig();
  c.needsOverride = true;
  c.localPort = 10003;
  Running r(c);
  const sim::Record start = r.sim.SetupRecord();
  EXPECT_EQ((Bytes{start[24], start[25], start[32], start[33]}), (Bytes{0x13, 0x27, 0x01, 0x80}));
  Peer p = r.Connect();
  ASSERT_TRUE(p.connected());
  p.Send(kIdentify);
  EXPECT_TRUE(p.Silent());
  // With the override in place the same connection answers.
  EXPECT_EQ(Ask(SetRequest(start, 0xC0, 0x00)), kAccepted);
  p.Send(kIdentify);
  EXPECT_EQ(p.Read(4).size(), 4u);

  c.enforceOverride = false;
  c.address = "127.0.0.3";
  Running lax(c);
  Peer q = lax.Connect("127.0.0.3");
  q.Send(kIdentify);
  EXPECT_EQ(q.Read(4).size(), 4u);
}

TEST(SimXPort, TwoSimulatorsSideBySide) {
  sim::Config b = TestConfig("127.0.0.3");
  b.mac = {0x00, 0x20, 0x4A, 0x0B, 0x4C, 0x99};
  b.modelCode = 0xA0;
  Running ra(TestConfig()), rb(b);
  ASSERT_TRUE(ra.started && rb.started);
  EXPECT_EQ(Ask(kInfo).value_or(Bytes(30)).at(29), 0x0E);
  EXPECT_EQ(Ask(kInfo, kReplyWaitMs, "127.0.0.3").value_or(Bytes(30)).at(29), 0x99);
  Peer pa = ra.Connect(), pb = rb.Connect("127.0.0.3");
  pa.Send(kIdentify);
  pb.Send(kIdentify);
  EXPECT_EQ(pa.Read(4)[1], 0x81);
  EXPECT_EQ(pb.Read(4)[1], 0xA1);
  // The same address twice is refused with a reason.
  sim::Simulator again(TestConfig());
  std::string error;
  EXPECT_FALSE(again.Start(&error));
  EXPECT_NE(error.find("UDP port 30718"), std::string::npos) << error;
}

TEST(SimFaults, BlockFaultsChangeOnlyTheAnswer) {
  struct Case {
    sim::BlockFault fault;
    std::size_t expectBytes;  // bytes that arrive
    bool intactData;          // reply bytes 2..15 carry the block
    bool e;                   // byte 16 is 'E'
    long endsWith;            // 1: connection stays, 0: closed, -1: reset
  };
  using F = sim::BlockFault;
  const Case cases[] = {
      {F::Silent, 0, false, false, 1},    {F::Close, 0, false, false, 0},
      {F::Reset, 0, false, false, -1},    {F::WrongEcho, 18, false, true, 1},
      {F::MissingE, 18, true, false, 1},  {F::Garbage, 18, false, false, 1},
      {F::ShortEcho, 16, true, false, 1}, {F::SplitEcho, 16, true, false, 1},
  };
  const Bytes block = Block(0x1111, 0x2222, 0x3333, 0x0444);
  for (const Case& k : cases) {
    SCOPED_TRACE(sim::BlockFaultName(k.fault));
    sim::Config c = TestConfig();
    c.faults.blocks = {{"single:0x290", k.fault}};
    Running r(c);
    Peer p = r.Connect();
    p.Send(Write(4, 0x290));
    p.SendEachByte(block);
    const Bytes got = k.expectBytes ? p.Read(k.expectBytes) : p.Read(1, kSilenceMs);
    EXPECT_EQ(got.size(), k.expectBytes);
    EXPECT_EQ(EchoedData(got) == block, k.intactData);
    EXPECT_EQ(got.size() == 18 && got[16] == 'E', k.e);
    if (k.endsWith <= 0) {
      EXPECT_EQ(p.last(), k.endsWith);
    } else {
      EXPECT_TRUE(p.Silent(50));
      // The connection goes on: the next block is answered normally.
      p.Send(Write(4, 0x294));
      p.SendEachByte(block);
      // A split echo's last two bytes were held back until the tool spoke again.
      if (k.fault == F::SplitEcho) {
        EXPECT_EQ(p.Read(2).at(0), 'E');
      }
      EXPECT_TRUE(EchoCarries(p.Read(18), block));
    }
    EXPECT_EQ(r.sim.ProgramMemory()[0x293], 0x0444);  // whatever the answer, the block landed
  }
}

TEST(SimFaults, PhasesNameTheRightBlocksPerConnection) {
  sim::Config c = TestConfig();
  c.faults.blocks = {{"clear", sim::BlockFault::MissingE},
                     {"bulk:2", sim::BlockFault::MissingE},
                     {"block:7", sim::BlockFault::MissingE},
                     {"version", sim::BlockFault::WrongEcho}};
  Running r(c);
  // Clear, a single, a bulk of three, the version block, and the 7th block (0x300 again).
  const std::vector<std::pair<Bytes, std::vector<Bytes>>> commands = {
      {Write(4, 0x300), {Block(0, 1, 2, 3)}},
      {Write(4, 0x26C), {Block(4, 5, 6, 7)}},
      {Write(12, 0x304), {Block(8, 9, 10, 0), Block(8, 9, 10, 1), Block(8, 9, 10, 2)}},
      {Write(4, 0x300), {Block(42, 1, 2, 3)}},
      {Write(4, 0x300), {Block(42, 1, 2, 3)}},
  };
  for (int connection = 0; connection < 2; ++connection) {
    Peer p = r.Connect();
    std::string got;
    for (const auto& [command, blocks] : commands) {
      p.Send(command);
      for (const Bytes& b : blocks) {
        p.SendEachByte(b);
        const Bytes e = p.Read(18);
        got += EchoCarries(e, b) ? '.' : (e.size() == 18 && e[16] != 'E' ? 'e' : 'w');
      }
    }
    EXPECT_EQ(got, "e..e.we");
  }
}

TEST(SimFaults, IdentifyAndLeaveFaults) {
  struct Case {
    sim::IdentifyFault fault;
    Bytes expect;
    bool stays;
  };
  using F = sim::IdentifyFault;
  const Case cases[] = {
      {F::Silent, {}, true},
      {F::WrongFirstByte, {0x58, 0x81, 0xFF, 0x3F}, true},
      {F::Split, {0x4D, 0x81, 0xFF, 0x3F}, true},
      {F::Short, {0x4D, 0x81, 0xFF}, true},
      {F::Close, {}, false},
      {F::Reset, {}, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(static_cast<int>(k.fault));
    sim::Config c = TestConfig();
    c.faults.identify = k.fault;
    Running r(c);
    Peer p = r.Connect();
    p.Send(kIdentify);
    const std::int64_t sentAt = platform::MonotonicMs();
    EXPECT_EQ(p.Read(4, k.expect.size() == 4 ? kReplyWaitMs : kSilenceMs), k.expect);
    EXPECT_EQ(p.last() > 0, k.stays);
    EXPECT_GE(platform::MonotonicMs() - sentAt, k.fault == F::Split ? sim::kSplitPauseMs - 1 : 0);
    if (k.fault == F::Short) {
      p.Send({'C'});  // fallen silent for good
      EXPECT_TRUE(p.Silent());
    }
  }
  {
    // Noise of a fixed length that never begins like a reply, the same for a seed.
    sim::Config c = TestConfig();
    c.faults.identify = F::Garbage;
    Bytes first;
    for (int round = 0; round < 2; ++round) {
      Running r(c);
      Peer p = r.Connect();
      p.Send(kIdentify);
      const Bytes noise = p.Read(sim::kIdentifyGarbageSize + 1, kSilenceMs * 2);
      ASSERT_EQ(noise.size(), static_cast<std::size_t>(sim::kIdentifyGarbageSize));
      EXPECT_NE(noise[0], 'M');
      if (round == 0) first = noise;
      EXPECT_EQ(noise, first);
    }
  }
  // Close and reset end the connection instead of a reply (0 closed, -1 reset).
  using L = sim::LeaveFault;
  for (auto [fault, expect, ends] :
       {std::tuple{L::Missing, Bytes{}, 1L}, std::tuple{L::Wrong, Bytes{0x58}, 1L},
        std::tuple{L::Close, Bytes{}, 0L}, std::tuple{L::Reset, Bytes{}, -1L}}) {
    SCOPED_TRACE(static_cast<int>(fault));
    sim::Config c = TestConfig();
    c.faults.leave = fault;
    Running r(c);
    Peer p = r.Connect();
    p.Send({'C'});
    EXPECT_EQ(p.Read(1, ends == 1 && expect.empty() ? kSilenceMs : kReplyWaitMs), expect);
    EXPECT_EQ(ends <= 0 ? p.last() : 1, ends);
    EXPECT_EQ(r.sim.LeaveCommands(), 1);
  }
}

TEST(SimFaults, XPortFaults) {
  // Sizes of the info and the record reply (0: none), and whether a set request is
  // accepted (-1: not examined).
  using X = sim::XPortFault;
  for (auto [fault, info, record, set] :
       {std::tuple{X::Silent, 0u, 0u, 0}, std::tuple{X::ShortInfo, 29u, 124u, -1},
        std::tuple{X::ShortRecord, 30u, 123u, -1}, std::tuple{X::SilentRecord, 30u, 0u, 1}}) {
    SCOPED_TRACE(static_cast<int>(fault));
    sim::Config c = TestConfig();
    c.faults.xport = fault;
    Running r(c);
    EXPECT_EQ(Ask(kInfo, info ? kReplyWaitMs : kSilenceMs).value_or(Bytes{}).size(), info);
    EXPECT_EQ(Ask(kGet, record ? kReplyWaitMs : kSilenceMs).value_or(Bytes{}).size(), record);
    if (set >= 0) {
      EXPECT_EQ(Ask(SetRequest(r.sim.SetupRecord(), 0xC0, 0), set ? kReplyWaitMs : kSilenceMs),
                set ? std::optional<Bytes>(kAccepted) : std::nullopt);
    }
  }
}

TEST(SimFaults, SetRequestsRefusedAndIgnoredByCount) {
  // The second set request refused, the third ignored, the fourth taken.
  sim::Config c = TestConfig();
  c.faults.refuseSet = 2;
  c.faults.ignoreSet = 3;
  Running r(c);
  const sim::Record start = r.sim.SetupRecord();
  EXPECT_EQ(Ask(SetRequest(start, 0x11, 0)), kAccepted);
  EXPECT_EQ(Ask(SetRequest(start, 0x22, 0)), (Bytes{0, 0, 0, 0xFA}));
  EXPECT_FALSE(Ask(SetRequest(start, 0x33, 0), kSilenceMs));
  EXPECT_EQ(r.sim.SetupRecord()[32], 0x11);
  EXPECT_EQ(Ask(SetRequest(start, 0x44, 0)), kAccepted);
  EXPECT_EQ(r.sim.SetupRecord()[32], 0x44);
  EXPECT_EQ(r.sim.SetRequests(), 4);
}

TEST(SimFaults, FragmentsAndDelayKeepRepliesWhole) {
  sim::Config c = TestConfig();
  c.faults.fragmentAll = true;
  c.faults.seed = 7;
  c.faults.replyDelayMs = 60;
  Running r(c);
  Peer p = r.Connect();
  const std::int64_t sentAt = platform::MonotonicMs();
  p.Send(kIdentify);
  EXPECT_EQ(p.Read(4), (Bytes{0x4D, 0x81, 0xFF, 0x3F}));
  EXPECT_GE(platform::MonotonicMs() - sentAt, 59);
  p.Send(Write(8, 0x304));
  for (std::uint16_t i = 0; i < 2; ++i) {
    const Bytes b = Block(i, 0x1234, 0x2345, 0x3456);
    p.SendEachByte(b);
    EXPECT_TRUE(EchoCarries(p.Read(18), b));
  }
  EXPECT_TRUE(r.Logged("pieces"));
}

TEST(SimRobustness, BadInputNeverHurtsMemoryOrTheSimulator) {
  Running r(TestConfig());
  {
    Peer p = r.Connect();
    // Past the end of memory: the first block lands, the rest is dropped but answered.
    p.Send(Write(0x20, 0x1FFC));
    for (std::uint16_t i = 0; i < 8; ++i) {
      const Bytes b = Block(0x0AA0, i, i, i);
      p.SendEachByte(b);
      EXPECT_TRUE(EchoCarries(p.Read(18), b)) << i;
    }
    p.Send(Write(4, 0xFFFC));  // the highest address: nothing stored, nothing wrapped to 0
    p.Send(Block(1, 1, 1, 1));
    EXPECT_EQ(p.Read(18).size(), 18u);
    p.Send(Write(6, 0x100));  // a count that is no multiple of 4 announces count / 4 blocks
    p.Send(Block(0x0BB0, 2, 3, 4));
    EXPECT_EQ(p.Read(18).size(), 18u);
    p.Send(kIdentify);
    EXPECT_EQ(p.Read(4).size(), 4u);
    // A flood of noise, then a frame broken off by the peer's leaving.
    Bytes noise(100000);
    for (std::size_t i = 0; i < noise.size(); ++i)
      noise[i] = static_cast<std::uint8_t>(i * 7 + 1) | 0x80;
    p.Send(noise);
    p.Send(kIdentify);
    EXPECT_EQ(p.Read(4).size(), 4u);
    p.Send(Write(8, 0x500));
    p.Send({1, 2, 3});
  }
  EXPECT_TRUE(r.Logged("mid-frame in block 0x0500", kReplyWaitMs));
  // A new connection replaces an old one, and starts from a clean frame.
  Peer old = r.Connect();
  ASSERT_TRUE(old.connected());
  Peer fresh = r.Connect();
  EXPECT_TRUE(old.Read(1).empty());
  EXPECT_LE(old.last(), 0);
  fresh.Send(kIdentify);
  EXPECT_EQ(fresh.Read(4).size(), 4u);

  sim::Memory want;
  want.fill(0x3FFF);
  const std::pair<int, int> stored[] = {{0x1FFC, 0x0AA0}, {0x1FFD, 0}, {0x1FFE, 0}, {0x1FFF, 0},
                                        {0x100, 0x0BB0},  {0x101, 2},  {0x102, 3},  {0x103, 4}};
  for (auto [at, word] : stored)
    want[static_cast<std::size_t>(at)] = static_cast<std::uint16_t>(word);
  EXPECT_EQ(r.sim.ProgramMemory(), want);
  EXPECT_TRUE(r.Logged("lies past 0x1FFF"));
  EXPECT_EQ(r.sim.Connections(), 3);
}

TEST(SimLifecycle, StartRefusesBadConfigurationAndStopIsPrompt) {
  for (auto [address, phase] : {std::pair{"127.0.0.300", "clear"}, std::pair{"localhost", "clear"},
                                std::pair{kSimAddress, "bulk:0"}, std::pair{kSimAddress, "bulk"},
                                std::pair{kSimAddress, "single:0x10000"}}) {
    sim::Config c = TestConfig(address);
    c.faults.blocks = {{phase, sim::BlockFault::Silent}};
    std::string error;
    EXPECT_FALSE(sim::Simulator(c).Start(&error)) << address << " " << phase;
    EXPECT_FALSE(error.empty());
  }
  sim::Simulator s(TestConfig());
  ASSERT_TRUE(s.Start(nullptr));
  const std::int64_t t = platform::MonotonicMs();
  s.Stop();
  s.Stop();
  EXPECT_LT(platform::MonotonicMs() - t, 500);
  ASSERT_TRUE(s.Start(nullptr));  // stopped means closed: the ports are free again
}

TEST(SimFaultNames, CommandLineTexts) {
  sim::BlockFaultAt f;
  std::string error;
  ASSERT_TRUE(sim::ParseBlockFaultAt("bulk:928=silent", &f, &error));
  EXPECT_EQ(f.phase, "bulk:928");
  EXPECT_EQ(f.fault, sim::BlockFault::Silent);
  ASSERT_TRUE(sim::ParseBlockFaultAt("single:0x26C=split-echo", &f, &error));
  EXPECT_EQ(sim::ParsePhase(f.phase)->number, 0x26Cu);
  EXPECT_EQ(sim::ParsePhase("single:620")->number, 0x26Cu);
  for (const char* bad : {"bulk:928", "bulk:x=silent", "bulk:928=quiet", "blocks:1=close",
                          "block:-1=close", "=silent"}) {
    EXPECT_FALSE(sim::ParseBlockFaultAt(bad, &f, &error)) << bad;
  }
  EXPECT_EQ(sim::IdentifyFaultFromName("wrong-first-byte"), sim::IdentifyFault::WrongFirstByte);
  EXPECT_EQ(sim::XPortFaultFromName("short-record"), sim::XPortFault::ShortRecord);
  EXPECT_EQ(sim::IdentifyFaultFromName("garbage"), sim::IdentifyFault::Garbage);
  EXPECT_EQ(sim::LeaveFaultFromName("reset"), sim::LeaveFault::Reset);
  EXPECT_EQ(sim::XPortFaultFromName("silent-record"), sim::XPortFault::SilentRecord);
  EXPECT_FALSE(sim::LeaveFaultFromName("Missing"));
}

TEST(SimMemoryHex, DumpSampleAndParse) {
  using testing_support::EndRecord;
  using testing_support::HexRecord;
  sim::Config c = TestConfig();
  sim::Memory& m = c.memory.emplace();
  for (std::size_t w = 0; w < m.size(); ++w) m[w] = static_cast<std::uint16_t>(w * 3);
  sim::Simulator s(c);
  sim::Memory back;
  ASSERT_TRUE(sim::ParseMemoryHex(s.MemoryHex(), &back));
  EXPECT_EQ(back, m);
  testing_support::TempDir dir;
  ASSERT_TRUE(s.WriteMemoryHex(dir.path() + "/m.hex"));
  EXPECT_FALSE(s.WriteMemoryHex(dir.path() + "/no/such/folder/m.hex"));

  const std::string sample = sim::SampleHex(200);
  EXPECT_EQ(sample.rfind(":020000040000FA\n", 0), 0u);
  EXPECT_NE(sample.find(":02400E00"), std::string::npos);
  ASSERT_TRUE(sim::ParseMemoryHex(sample, &back));
  EXPECT_EQ(back[0x300], 200);
  EXPECT_NE(back[0x304], back[0x305]);
  // The tool reads the same words from it.
  image::ImageBuffer img{};
  image::FillErased(img);
  ASSERT_TRUE(image::ParseHexText(reinterpret_cast<const std::uint8_t*>(sample.data()),
                                  sample.size(), img));
  for (std::size_t w = 0x26C; w < sim::kWords; ++w) {
    ASSERT_EQ(img[2 * w] | img[2 * w + 1] << 8, back[w]) << w;
  }

  // Single bytes fill their half of a word; broken texts are refused and leave *out.
  const sim::Memory before = back;
  ASSERT_TRUE(sim::ParseMemoryHex(HexRecord(0, 0x0601, {0x12}) + EndRecord(), &back));
  EXPECT_EQ(back[0x300], 0x12FF);
  back = before;
  const std::string good = HexRecord(0, 0, {1, 2});
  ASSERT_TRUE(sim::ParseMemoryHex(good + EndRecord(), &back));
  back = before;
  for (const std::string& bad : {good,  // no end record: cut short
                                 std::string(":02000000010200\n:00000001FF\n"),  // checksum
                                 std::string(":0200000001\n:00000001FF\n"),      // too few bytes
                                 std::string(":02000000010G0B\n:00000001FF\n"),  // not hex
                                 std::string(":020000060102F5\n:00000001FF\n"),  // unknown type
                                 std::string("hello\n"), std::string()}) {
    EXPECT_FALSE(sim::ParseMemoryHex(bad, &back)) << bad;
  }
  EXPECT_EQ(back, before);
}

}  // namespace
