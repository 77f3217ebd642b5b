// quivo-sim on its own, lightly: every whole-run test drives it as the tool does, so this
// covers only what those runs cannot: its command-line names, its data files, its start
// and stop, and input no tool sends.
#include <gtest/gtest.h>

#include "image/image_set.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "sim/fault_names.h"
#include "sim/simulator.h"
#include "support/hex_files.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

sim::Config TestConfig(const std::string& address = "127.0.0.2") {
  sim::Config c;
  c.address = address;
  c.tcpPort = 0;
  c.settleMs = 0;
  return c;
}

TEST(Sim, FaultNamesOfTheCommandLine) {
  sim::BlockFaultAt f;
  std::string error;
  ASSERT_TRUE(sim::ParseBlockFaultAt("single:0x26C=split-echo", &f, &error));
  EXPECT_EQ(f.fault, sim::BlockFault::SplitEcho);
  EXPECT_EQ(sim::ParsePhase(f.phase)->number, 0x26Cu);
  EXPECT_EQ(sim::ParsePhase("single:620")->number, 0x26Cu);
  for (const char* bad : {"bulk:928", "bulk:x=silent", "bulk:928=quiet", "block:-1=close", "=silent"}) {
    EXPECT_FALSE(sim::ParseBlockFaultAt(bad, &f, &error)) << bad;
  }
  EXPECT_EQ(sim::IdentifyFaultFromName("wrong-first-byte"), sim::IdentifyFault::WrongFirstByte);
  EXPECT_EQ(sim::XPortFaultFromName("silent-record"), sim::XPortFault::SilentRecord);
  EXPECT_EQ(sim::LeaveFaultFromName("reset"), sim::LeaveFault::Reset);
  EXPECT_FALSE(sim::LeaveFaultFromName("Missing"));
}

TEST(Sim, MemoryAndSampleFilesReadBackAsWritten) {
  sim::Config c = TestConfig();
  sim::Memory& m = c.memory.emplace();
  for (std::size_t w = 0; w < m.size(); ++w) m[w] = static_cast<std::uint16_t>(w * 3);
  sim::Memory back;
  ASSERT_TRUE(sim::ParseMemoryHex(sim::Simulator(c).MemoryHex(), &back));
  EXPECT_EQ(back, m);

  // The tool reads the sample data file's words as the simulator does.
  const std::string sample = sim::SampleHex(200);
  ASSERT_TRUE(sim::ParseMemoryHex(sample, &back));
  EXPECT_EQ(back[0x300], 200);
  image::ImageBuffer img;
  image::FillErased(img);
  ASSERT_TRUE(image::ParseHexText(reinterpret_cast<const std::uint8_t*>(sample.data()),
                                  sample.size(), img));
  for (std::size_t w = 0x26C; w < sim::kWords; ++w) ASSERT_EQ(img[2 * w] | img[2 * w + 1] << 8, back[w]);

  // Broken texts are refused and leave the memory as it was.
  const sim::Memory before = back;
  for (const std::string& bad : {testing_support::HexRecord(0, 0, {1, 2}),  // no end record
                                 std::string(":02000000010200\n:00000001FF\n"),  // checksum
                                 std::string(":020000060102F5\n:00000001FF\n")}) {  // type
    EXPECT_FALSE(sim::ParseMemoryHex(bad, &back)) << bad;
  }
  EXPECT_EQ(back, before);
}

TEST(Sim, StartRefusesBadConfigurationsAndStopFreesThePorts) {
  for (auto [address, phase] : {std::pair{"127.0.0.300", "clear"}, std::pair{"127.0.0.2", "bulk:0"},
                                std::pair{"127.0.0.2", "single:0x10000"}}) {
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
  ASSERT_TRUE(s.Start(nullptr));
}

TEST(Sim, InputNoToolSendsNeverHurtsMemoryOrTheDevice) {
  sim::Simulator s(TestConfig());
  ASSERT_TRUE(s.Start(nullptr));
  platform::Socket p = platform::OpenTcpSocket();
  ASSERT_TRUE(platform::Connect(p, {platform::InetAddr("127.0.0.2"), s.TcpPort()}));
  const auto send = [&](const Bytes& b) { platform::Send(p, b.data(), b.size()); };
  const auto read = [&](std::size_t n) {
    Bytes out(n);
    std::size_t got = 0;
    while (got < n && platform::WaitReadable(p, 2000) == platform::WaitResult::Ready) {
      const long r = platform::Recv(p, out.data() + got, n - got);
      if (r <= 0) break;
      got += static_cast<std::size_t>(r);
    }
    out.resize(got);
    return out;
  };
  // Two blocks from word 0x1FFC: the first lands, the second lies past the end and is only
  // answered. Then noise, and a broken-off identify: the next one is answered.
  send({'S', 8, 0, 0xFC, 0x1F, 1, 0, 2, 0, 3, 0, 4, 0});
  EXPECT_EQ(read(18).size(), 18u);
  send({5, 0, 6, 0, 7, 0, 8, 0});
  EXPECT_EQ(read(18).size(), 18u);
  const std::string noise = std::string(10000, '\x99') + "@QUx@QUIVO";
  send(Bytes(noise.begin(), noise.end()));
  EXPECT_EQ(read(4), (Bytes{'M', 0x81, 0xFF, 0x3F}));
  sim::Memory want;
  want.fill(0x3FFF);
  want[0x1FFC] = 1, want[0x1FFD] = 2, want[0x1FFE] = 3, want[0x1FFF] = 4;
  EXPECT_EQ(s.ProgramMemory(), want);
}

}  // namespace
