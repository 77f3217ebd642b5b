// quivo-sim on its own, lightly: every whole-run test drives it as the tool does, so this
// covers only what those runs cannot: its command-line names, its data files, its start
// and stop.
#include <gtest/gtest.h>

#include "image/image_set.h"
#include "platform/clock.h"
#include "sim/fault_names.h"
#include "sim/simulator.h"
#include "support/temp_dir.h"

namespace {

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
  for (const char* bad : {"bulk:928", "bulk:x=silent", "bulk:928=quiet", "block:-1=close"}) {
    EXPECT_FALSE(sim::ParseBlockFaultAt(bad, &f, &error)) << bad;
  }
  EXPECT_EQ(sim::IdentifyFaultFromName("wrong-first-byte"), sim::IdentifyFault::WrongFirstByte);
  EXPECT_EQ(sim::XPortFaultFromName("silent-record"), sim::XPortFault::SilentRecord);
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

  // Broken texts are refused and leave the memory as it was: no end record, a checksum.
  const sim::Memory before = back;
  EXPECT_FALSE(sim::ParseMemoryHex(":020000000102FB\n", &back));
  EXPECT_FALSE(sim::ParseMemoryHex(":02000000010200\n:00000001FF\n", &back));
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

}  // namespace
