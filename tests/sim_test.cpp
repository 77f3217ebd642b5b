// quivo-sim driven from the tool's side with plain sockets: the device's frames, the
// XPort's records, the faults, and input that must not hurt it. Replies are awaited with
// bounded waits; silence is a bounded wait that sees nothing.
#include <gtest/gtest.h>

#include <optional>
#include <string>
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

// The tool's end of one TCP connection.
class Peer {
 public:
  Peer(const std::string& address, std::uint16_t port) {
    socket_ = platform::OpenTcpSocket();
    connected_ = platform::Connect(socket_, {platform::InetAddr(address.c_str()), port});
  }
  bool connected() const { return connected_; }
  void Send(const Bytes& bytes) { platform::Send(socket_, bytes.data(), bytes.size()); }
  void SendEachByte(const Bytes& bytes) {
    for (std::uint8_t b : bytes) platform::Send(socket_, &b, 1);
  }
  // Gathers up to n bytes, until the wait runs out or the connection ends (last() then
  // tells how: 0 closed, -1 failed, e.g. reset).
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
std::optional<Bytes> Ask(const std::string& address, const Bytes& request,
                         int waitMs = kReplyWaitMs) {
  platform::Socket s = platform::OpenUdpSocket();
  if (!platform::Bind(s, {platform::InetAddr("127.0.0.1"), 0})) return std::nullopt;
  platform::SendTo(s, request.data(), request.size(), {platform::InetAddr(address.c_str()), 30718});
  if (platform::WaitReadable(s, waitMs) != platform::WaitResult::Ready) return std::nullopt;
  std::uint8_t buf[2048];
  const long n = platform::RecvFrom(s, buf, sizeof buf, nullptr, nullptr);
  if (n < 0) return std::nullopt;
  return Bytes(buf, buf + n);
}

const Bytes kInfo = {0, 0, 0, 0xF6};
const Bytes kGet = {0, 0, 0, 0xF8};
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

bool EchoCarries(const Bytes& echo, const Bytes& block) {
  return echo.size() >= 17 && echo[2] == block[0] && echo[3] == block[1] && echo[6] == block[2] &&
         echo[7] == block[3] && echo[10] == block[4] && echo[11] == block[5] &&
         echo[14] == block[6] && echo[15] == block[7] && echo[16] == 'E';
}

sim::Config TestConfig(const std::string& address = "127.0.0.2") {
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
  Peer Connect(const std::string& address = "127.0.0.2") { return Peer(address, sim.TcpPort()); }
  // The simulator's report of something no reply shows (a connection that ended): a
  // bounded wait on its event log.
  bool WaitLogged(const std::string& what, int ms = kReplyWaitMs) const {
    const std::int64_t deadline = platform::MonotonicMs() + ms;
    while (!Logged(what)) {
      if (platform::MonotonicMs() > deadline) return false;
      platform::RealSleeper().SleepMs(2);
    }
    return true;
  }
  bool Logged(const std::string& what) const {
    for (const auto& line : sim.Events()) {
      if (line.find(what) != std::string::npos) return true;
    }
    return false;
  }
  sim::Simulator sim;
  bool started = false;
};

TEST(SimDevice, IdentifyAnswersModelAndVersionWord) {
  sim::Memory memory;
  memory.fill(0x3FFF);
  memory[0x300] = 1234;
  sim::Config c = TestConfig();
  c.memory = memory;
  c.modelCode = 0x60;
  c.subCode = 2;
  Running r(c);
  Peer p = r.Connect();
  ASSERT_TRUE(p.connected());
  p.Send(kIdentify);
  EXPECT_EQ(p.Read(4), (Bytes{0x4D, 0x62, 0xD2, 0x04}));
  EXPECT_TRUE(p.Silent());
  // Noise and a broken-off request before it change nothing.
  p.Send({0x00, 0xFF, '@', 'Q', 'U', 'x', '@', 'Q', 'U', 'I', 'V', 'O'});
  EXPECT_EQ(p.Read(4), (Bytes{0x4D, 0x62, 0xD2, 0x04}));
  EXPECT_TRUE(p.Silent());
  EXPECT_TRUE(r.Logged("tcp rx ignored 2 bytes: 00 FF"));
  EXPECT_TRUE(r.Logged("tcp rx ignored 4 bytes: 40 51 55 78"));
}

TEST(SimDevice, WriteStoresWordsAsSentAndEchoesThem) {
  Running r(TestConfig());
  Peer p = r.Connect();
  const Bytes single = Block(0x3FFF, 0x0123, 0x2000, 0x0000);
  p.Send(Write(4, 0x26C));
  p.SendEachByte(single);
  const Bytes echo = p.Read(18);
  ASSERT_EQ(echo.size(), 18u);
  EXPECT_TRUE(EchoCarries(echo, single));
  const Bytes loose1 = {echo[0], echo[1],  echo[4],  echo[5], echo[8],
                        echo[9], echo[12], echo[13], echo[17]};
  EXPECT_NE(loose1, Bytes(9, 0));

  // A bulk write: three blocks after one command, 16-bit words kept as sent.
  const std::vector<Bytes> blocks = {Block(1, 2, 3, 4), Block(0xFFFF, 0x8000, 5, 6),
                                     Block(7, 8, 9, 10)};
  p.Send(Write(12, 0x304));
  std::vector<Bytes> echoes;
  for (const auto& b : blocks) {
    p.SendEachByte(b);
    echoes.push_back(p.Read(18));
    EXPECT_TRUE(EchoCarries(echoes.back(), b));
  }
  // The unexamined bytes are not the same from block to block.
  EXPECT_NE(Bytes(echoes[0].begin(), echoes[0].begin() + 2),
            Bytes(echoes[1].begin(), echoes[1].begin() + 2));
  EXPECT_NE(echoes[0][17], echoes[1][17]);

  p.Send(Write(4, 0x300));
  p.SendEachByte(Block(0x002A, 0x11, 0x22, 0x33));
  EXPECT_EQ(p.Read(18).size(), 18u);

  const sim::Memory m = r.sim.ProgramMemory();
  EXPECT_EQ(m[0x26B], 0x3FFF);
  EXPECT_EQ((std::vector<int>{m[0x26C], m[0x26D], m[0x26E], m[0x26F]}),
            (std::vector<int>{0x3FFF, 0x0123, 0x2000, 0x0000}));
  EXPECT_EQ(m[0x304], 1);
  EXPECT_EQ(m[0x308], 0xFFFF);
  EXPECT_EQ(m[0x309], 0x8000);
  EXPECT_EQ(m[0x30F], 10);
  EXPECT_EQ(m[0x310], 0x3FFF);
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

TEST(SimDevice, LeaveAnswersNAndEndsBootMode) {
  Running r(TestConfig());
  Peer p = r.Connect();
  p.Send({'C'});
  EXPECT_EQ(p.Read(1), Bytes{'N'});
  p.Send(kIdentify);
  EXPECT_TRUE(p.Silent());
  EXPECT_EQ(r.sim.LeaveCommands(), 1);
  // A new connection is in boot mode again.
  Peer q = r.Connect();
  q.Send(kIdentify);
  EXPECT_EQ(q.Read(4).size(), 4u);
}

TEST(SimXPort, RepliesRecordSetAndSettle) {
  sim::Config c = TestConfig();
  c.settleMs = 300;
  Running r(c);
  const auto info = Ask("127.0.0.2", kInfo);
  ASSERT_TRUE(info);
  ASSERT_EQ(info->size(), 30u);
  EXPECT_EQ(Bytes(info->begin() + 24, info->end()), (Bytes{0x00, 0x20, 0x4A, 0x0B, 0x4C, 0x0E}));

  const auto got = Ask("127.0.0.2", kGet);
  ASSERT_TRUE(got);
  ASSERT_EQ(got->size(), 124u);
  EXPECT_EQ((*got)[24] | (*got)[25] << 8, r.sim.TcpPort());  // LocalPort: the real port
  EXPECT_EQ((*got)[32], 0xC0);
  EXPECT_EQ((*got)[33], 0x00);
  const sim::Record original = r.sim.SetupRecord();
  EXPECT_EQ(Bytes(original.begin(), original.end()), *got);

  // Override: bytes 4..123 are taken; the reply header stays the XPort's own.
  const auto accepted = Ask("127.0.0.2", SetRequest(original, 0x01, 0x80));
  const std::int64_t acceptedAt = platform::MonotonicMs();
  ASSERT_TRUE(accepted);
  EXPECT_EQ(*accepted, (Bytes{0, 0, 0, 0xFB}));
  EXPECT_EQ(r.sim.SetupRecord()[32], 0x01);
  EXPECT_EQ(r.sim.SetupRecord()[33], 0x80);
  EXPECT_EQ(r.sim.SetupRecord()[3], original[3]);
  EXPECT_EQ(r.sim.SetRequests(), 1);

  // Restarting: requests go unanswered until the settle time has passed.
  EXPECT_FALSE(Ask("127.0.0.2", kGet, 100));
  std::optional<Bytes> after;
  for (int i = 0; i < 30 && !after; ++i) after = Ask("127.0.0.2", kGet, 100);
  ASSERT_TRUE(after);
  EXPECT_GE(platform::MonotonicMs() - acceptedAt, 250);
  EXPECT_TRUE(r.Logged("ignored: restarting"));

  // Restore puts the record back as it was.
  sim::Record restore = original;
  restore[3] = 0xFA;
  EXPECT_EQ(Ask("127.0.0.2", Bytes(restore.begin(), restore.end())), (Bytes{0, 0, 0, 0xFB}));
  EXPECT_EQ(r.sim.SetupRecord(), original);
  EXPECT_EQ(r.sim.SetRequests(), 2);
}

TEST(SimXPort, OverrideSettingsHoldTheDeviceSilent) {
  sim::Config c = TestConfig();
  c.needsOverride = true;
  c.localPort = 10003;
  Running r(c);
  const sim::Record start = r.sim.SetupRecord();
  EXPECT_EQ(start[32], 0x01);
  EXPECT_EQ(start[33], 0x80);
  EXPECT_EQ(start[24] | start[25] << 8, 10003);
  Peer p = r.Connect();
  ASSERT_TRUE(p.connected());
  p.Send(kIdentify);
  EXPECT_TRUE(p.Silent());
  // With the override in place the same connection answers.
  EXPECT_EQ(Ask("127.0.0.2", SetRequest(start, 0xC0, 0x00)), (Bytes{0, 0, 0, 0xFB}));
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
  sim::Config a = TestConfig("127.0.0.2");
  sim::Config b = TestConfig("127.0.0.3");
  b.mac = {0x00, 0x20, 0x4A, 0x0B, 0x4C, 0x99};
  b.modelCode = 0xA0;
  Running ra(a), rb(b);
  ASSERT_TRUE(ra.started && rb.started);
  EXPECT_EQ(Ask("127.0.0.2", kInfo).value_or(Bytes(30)).at(29), 0x0E);
  EXPECT_EQ(Ask("127.0.0.3", kInfo).value_or(Bytes(30)).at(29), 0x99);
  Peer pa = ra.Connect("127.0.0.2");
  Peer pb = rb.Connect("127.0.0.3");
  pa.Send(kIdentify);
  pb.Send(kIdentify);
  EXPECT_EQ(pa.Read(4)[1], 0x81);
  EXPECT_EQ(pb.Read(4)[1], 0xA1);
  // The same address twice is refused with a reason.
  sim::Simulator again(TestConfig("127.0.0.2"));
  std::string error;
  EXPECT_FALSE(again.Start(&error));
  EXPECT_NE(error.find("UDP port 30718"), std::string::npos) << error;
}

TEST(SimFaults, BlockFaultsChangeOnlyTheAnswer) {
  struct Case {
    sim::BlockFault fault;
    std::size_t expectBytes;  // bytes that arrive
    bool intactData;          // reply bytes 2..15 carry the block
    char byte16;              // 0: anything but 'E'
    long endsWith;            // 1: connection stays, 0: closed, -1: reset
  };
  const Case cases[] = {
      {sim::BlockFault::Silent, 0, false, 0, 1},    {sim::BlockFault::Close, 0, false, 0, 0},
      {sim::BlockFault::Reset, 0, false, 0, -1},    {sim::BlockFault::WrongEcho, 18, false, 'E', 1},
      {sim::BlockFault::MissingE, 18, true, 0, 1},  {sim::BlockFault::Garbage, 18, false, 0, 1},
      {sim::BlockFault::ShortEcho, 16, true, 0, 1}, {sim::BlockFault::SplitEcho, 16, true, 0, 1},
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
    if (k.expectBytes >= 16) {
      Bytes data = {got[2], got[3], got[6], got[7], got[10], got[11], got[14], got[15]};
      EXPECT_EQ(data == block, k.intactData);
    }
    if (k.expectBytes == 18) {
      EXPECT_EQ(got[16] == 'E', k.byte16 == 'E');
    }
    if (k.endsWith <= 0) {
      EXPECT_EQ(p.last(), k.endsWith);
    } else {
      EXPECT_TRUE(p.Silent(50));
      // The connection goes on: the next block is answered normally.
      p.Send(Write(4, 0x294));
      p.SendEachByte(block);
      // A split echo's last two bytes were held back until the tool spoke again.
      if (k.fault == sim::BlockFault::SplitEcho) {
        EXPECT_EQ(p.Read(2).at(0), 'E');
      }
      EXPECT_TRUE(EchoCarries(p.Read(18), block));
    }
    // Whatever the answer, the block reached the device.
    EXPECT_EQ(r.sim.ProgramMemory()[0x293], 0x0444);
  }
}

TEST(SimFaults, PhasesNameTheRightBlocks) {
  sim::Config c = TestConfig();
  c.faults.blocks = {{"clear", sim::BlockFault::MissingE},
                     {"bulk:2", sim::BlockFault::MissingE},
                     {"block:7", sim::BlockFault::MissingE},
                     {"version", sim::BlockFault::WrongEcho}};
  Running r(c);
  // Clear, a single, a bulk of three, the version block, and the 7th block (0x300 again).
  auto run = [&](Peer& p) {
    std::string got;
    auto one = [&](const Bytes& b) {
      p.SendEachByte(b);
      const Bytes e = p.Read(18);
      got += EchoCarries(e, b) ? '.' : (e.size() == 18 && e[16] != 'E' ? 'e' : 'w');
    };
    p.Send(Write(4, 0x300));
    one(Block(0, 1, 2, 3));
    p.Send(Write(4, 0x26C));
    one(Block(4, 5, 6, 7));
    p.Send(Write(12, 0x304));
    for (int i = 0; i < 3; ++i) one(Block(8, 9, 10, static_cast<std::uint16_t>(i)));
    p.Send(Write(4, 0x300));
    one(Block(42, 1, 2, 3));
    p.Send(Write(4, 0x300));
    one(Block(42, 1, 2, 3));
    return got;
  };
  Peer p = r.Connect();
  EXPECT_EQ(run(p), "e..e.we");
  // Phases count per connection.
  Peer q = r.Connect();
  EXPECT_EQ(run(q), "e..e.we");
}

TEST(SimFaults, IdentifyAndLeaveFaults) {
  struct Case {
    sim::IdentifyFault fault;
    Bytes expect;
    long endsWith;
  };
  const Case cases[] = {
      {sim::IdentifyFault::Silent, {}, 1},
      {sim::IdentifyFault::WrongFirstByte, {0x58, 0x81, 0xFF, 0x3F}, 1},
      {sim::IdentifyFault::Split, {0x4D, 0x81, 0xFF, 0x3F}, 1},
      {sim::IdentifyFault::Short, {0x4D, 0x81, 0xFF}, 1},
      {sim::IdentifyFault::Close, {}, 0},
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
    EXPECT_EQ(p.last() > 0, k.endsWith > 0);
    if (k.fault == sim::IdentifyFault::Split) {
      EXPECT_GE(platform::MonotonicMs() - sentAt, sim::kSplitPauseMs - 1);
    }
    if (k.fault == sim::IdentifyFault::Short) {
      p.Send({'C'});  // fallen silent for good
      EXPECT_TRUE(p.Silent());
    }
  }
  for (auto [fault, expect] : {std::pair{sim::LeaveFault::Missing, Bytes{}},
                               std::pair{sim::LeaveFault::Wrong, Bytes{0x58}}}) {
    sim::Config c = TestConfig();
    c.faults.leave = fault;
    Running r(c);
    Peer p = r.Connect();
    p.Send({'C'});
    EXPECT_EQ(p.Read(1, expect.empty() ? kSilenceMs : kReplyWaitMs), expect);
    EXPECT_EQ(r.sim.LeaveCommands(), 1);
  }
}

TEST(SimFaults, XPortFaults) {
  {
    sim::Config c = TestConfig();
    c.faults.xport = sim::XPortFault::Silent;
    Running r(c);
    EXPECT_FALSE(Ask("127.0.0.2", kInfo, kSilenceMs));
    EXPECT_FALSE(Ask("127.0.0.2", kGet, kSilenceMs));
    EXPECT_FALSE(Ask("127.0.0.2", SetRequest(r.sim.SetupRecord(), 0xC0, 0), kSilenceMs));
  }
  {
    sim::Config c = TestConfig();
    c.faults.xport = sim::XPortFault::ShortInfo;
    Running r(c);
    EXPECT_EQ(Ask("127.0.0.2", kInfo).value_or(Bytes{}).size(), 29u);
    EXPECT_EQ(Ask("127.0.0.2", kGet).value_or(Bytes{}).size(), 124u);
  }
  {
    sim::Config c = TestConfig();
    c.faults.xport = sim::XPortFault::ShortRecord;
    Running r(c);
    EXPECT_EQ(Ask("127.0.0.2", kInfo).value_or(Bytes{}).size(), 30u);
    EXPECT_EQ(Ask("127.0.0.2", kGet).value_or(Bytes{}).size(), 123u);
  }
  {
    // The second request refused, the third ignored, the fourth taken.
    sim::Config c = TestConfig();
    c.faults.refuseSet = 2;
    c.faults.ignoreSet = 3;
    Running r(c);
    const sim::Record start = r.sim.SetupRecord();
    EXPECT_EQ(Ask("127.0.0.2", SetRequest(start, 0x11, 0)), (Bytes{0, 0, 0, 0xFB}));
    EXPECT_EQ(Ask("127.0.0.2", SetRequest(start, 0x22, 0)), (Bytes{0, 0, 0, 0xFA}));
    EXPECT_FALSE(Ask("127.0.0.2", SetRequest(start, 0x33, 0), kSilenceMs));
    EXPECT_EQ(r.sim.SetupRecord()[32], 0x11);
    EXPECT_EQ(Ask("127.0.0.2", SetRequest(start, 0x44, 0)), (Bytes{0, 0, 0, 0xFB}));
    EXPECT_EQ(r.sim.SetupRecord()[32], 0x44);
    EXPECT_EQ(r.sim.SetRequests(), 4);
  }
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
    // The highest address: nothing stored, nothing wrapped to word 0.
    p.Send(Write(4, 0xFFFC));
    p.Send(Block(1, 1, 1, 1));
    EXPECT_EQ(p.Read(18).size(), 18u);
    // A count that is no multiple of 4 announces count / 4 blocks.
    p.Send(Write(6, 0x100));
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
  EXPECT_TRUE(r.WaitLogged("mid-frame in block 0x0500"));
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
  want[0x1FFC] = 0x0AA0;
  want[0x1FFD] = want[0x1FFE] = want[0x1FFF] = 0;
  want[0x100] = 0x0BB0;
  want[0x101] = 2;
  want[0x102] = 3;
  want[0x103] = 4;
  EXPECT_EQ(r.sim.ProgramMemory(), want);
  EXPECT_TRUE(r.Logged("lies past 0x1FFF"));
  EXPECT_EQ(r.sim.Connections(), 3);
}

TEST(SimLifecycle, StartRefusesBadConfigurationAndStopIsPrompt) {
  for (auto [address, phase] : {std::pair{"127.0.0.300", "clear"}, std::pair{"localhost", "clear"},
                                std::pair{"127.0.0.2", "bulk:0"}, std::pair{"127.0.0.2", "bulk"},
                                std::pair{"127.0.0.2", "single:0x10000"}}) {
    sim::Config c = TestConfig(address);
    c.faults.blocks = {{phase, sim::BlockFault::Silent}};
    sim::Simulator s(c);
    std::string error;
    EXPECT_FALSE(s.Start(&error)) << address << " " << phase;
    EXPECT_FALSE(error.empty());
  }
  sim::Simulator s(TestConfig());
  ASSERT_TRUE(s.Start(nullptr));
  const std::int64_t t = platform::MonotonicMs();
  s.Stop();
  s.Stop();
  EXPECT_LT(platform::MonotonicMs() - t, 500);
  // Stopped means closed: the ports are free for the next one.
  ASSERT_TRUE(s.Start(nullptr));
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
  EXPECT_FALSE(sim::LeaveFaultFromName("Missing"));
}

TEST(SimMemoryHex, DumpSampleAndParse) {
  sim::Memory m;
  for (int w = 0; w < sim::kWords; ++w)
    m[static_cast<std::size_t>(w)] = static_cast<std::uint16_t>(w * 3);
  sim::Config c = TestConfig();
  c.memory = m;
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
  ASSERT_TRUE(sim::ParseMemoryHex(
      testing_support::HexRecord(0, 0x0601, {0x12}) + testing_support::EndRecord(), &back));
  EXPECT_EQ(back[0x300], 0x12FF);
  back = before;
  const std::string good = testing_support::HexRecord(0, 0, {1, 2});
  ASSERT_TRUE(sim::ParseMemoryHex(good + testing_support::EndRecord(), &back));
  back = before;
  for (const std::string& bad :
       std::vector<std::string>{good,                              // no end record: cut short
                                ":02000000010200\n:00000001FF\n",  // checksum
                                ":0200000001\n:00000001FF\n",      // fewer bytes than counted
                                ":02000000010G0B\n:00000001FF\n",  // not hex
                                ":020000060102F5\n:00000001FF\n",  // unknown type
                                std::string("hello\n"), std::string()}) {
    EXPECT_FALSE(sim::ParseMemoryHex(bad, &back)) << bad;
  }
  EXPECT_EQ(back, before);
}

}  // namespace
