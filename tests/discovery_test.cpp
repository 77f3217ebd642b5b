// Discovery over 127.0.0.x: in-process, and DERURUZUD-cli against a quivo-sim --count cabinet.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "xport/discovery.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "sim/simulator.h"
#include "support/temp_dir.h"

namespace {

// A command's exit status and what it wrote to standard output.
std::pair<int, std::string> Shell(const std::string& command) {
  std::FILE* p = ::popen((command + " 2>&1 </dev/null").c_str(), "r");
  std::string out;
  for (char c; p && std::fread(&c, 1, 1, p) == 1;) out += c;
  const int st = p ? ::pclose(p) : -1;
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, out};
}

TEST(DiscoveryRange, CidrUpToSlash20OrBroadcast) {
  using E = xport::RangeError;
  for (const std::string c :  // range, first and last address, count
       {"127.0.0.0/24 127.0.0.1 127.0.0.254 254",
        "10.1.2.77/24 10.1.2.1 10.1.2.254 254",  // host bits ignored
        "192.168.16.0/20 192.168.16.1 192.168.31.254 4094", "127.0.0.9/30 127.0.0.9 127.0.0.10 2",
        "127.0.0.9/31 127.0.0.8 127.0.0.9 2", "127.0.0.9 127.0.0.9 127.0.0.9 1"}) {
    xport::DiscoveryRange r;
    ASSERT_EQ(xport::ParseDiscoveryRange(c.substr(0, c.find(' ')), &r), E::None) << c;
    const auto& a = r.addresses;
    EXPECT_EQ(c.substr(0, c.find(' ') + 1) + platform::FormatIpv4(a.front()) + " " +
                  platform::FormatIpv4(a.back()) + " " + std::to_string(a.size()),
              c);
  }
  const std::pair<E, std::vector<const char*>> bad[] = {
      {E::TooLarge, {"192.168.0.0/19", "0.0.0.0/0"}},
      {E::NotUnicast, {"224.0.0.0/24", "0.0.0.0/24"}},
      {E::Unparseable,
       {"1.2.3", "1.2.3.4/33", "1.2.3.256", "1.2.3.4/", "1.2.3.4/24x", "-1.2.3.4", ""}}};
  for (const auto& [error, texts] : bad) {
    for (const char* text : texts) {
      xport::DiscoveryRange range{false, {7}};
      EXPECT_EQ(xport::ParseDiscoveryRange(text, &range), error) << text;
      EXPECT_EQ(range.addresses, std::vector<std::uint32_t>{7}) << text;  // untouched
    }
  }
  xport::DiscoveryRange range;
  EXPECT_TRUE(xport::ParseDiscoveryRange("broadcast", &range) == E::None && range.broadcast);
}

template <typename F>
std::unique_ptr<sim::Simulator> StartSim(const std::string& address, F change) {
  sim::Config c;
  c.address = address;
  c.tcpPort = 0;
  change(c);
  auto s = std::make_unique<sim::Simulator>(c);
  return s->Start(nullptr) ? std::move(s) : nullptr;
}

// XPorts on 127.0.0.41 .. 46, one per row: the range 127.0.0.40/29 without its ends.
TEST(Discovery, ReadsEachXPortWithoutSettingOrConnecting) {
  using X = sim::XPortFault;
  const std::pair<X, bool> rows[] = {{X::None, false},         {X::None, true},
                                     {X::SilentRecord, false}, {X::ShortRecord, true},
                                     {X::ShortInfo, false},    {X::Silent, false}};
  std::vector<std::unique_ptr<sim::Simulator>> sims;
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    sims.push_back(StartSim("127.0.0." + std::to_string(41 + i), [&](sim::Config& c) {
      c.localPort = static_cast<std::uint16_t>(10100 + i);
      c.mac[5] = static_cast<std::uint8_t>(0xA0 + i);
      std::tie(c.faults.xport, c.needsOverride) = rows[i];
    }));
    ASSERT_TRUE(sims.back());
  }
  xport::DiscoveryRange range;
  ASSERT_EQ(xport::ParseDiscoveryRange("127.0.0.40/29", &range), xport::RangeError::None);
  const xport::DiscoveryResult r = xport::Discover(range, {5, 10, 400});
  std::size_t next = 0;
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(i);
    const auto [fault, needsOverride] = rows[i];
    const bool found = fault != X::Silent && fault != X::ShortInfo;
    EXPECT_EQ(sims[i]->UdpRequests(), found ? 2 : 1);
    EXPECT_EQ(sims[i]->SetRequests() + sims[i]->Connections(), 0);
    if (!found) continue;
    ASSERT_LT(next, r.xports.size());
    const xport::DiscoveredXPort& x = r.xports[next++];
    EXPECT_EQ(x.address, platform::InetAddr(("127.0.0." + std::to_string(41 + i)).c_str()));
    EXPECT_EQ(xport::FormatMac(x.mac), "00-20-4A-0B-4C-A" + std::to_string(i));
    EXPECT_EQ(x.recordRead, fault == X::None);
    if (!x.recordRead) continue;
    EXPECT_EQ(std::size_t{x.localPort}, 10100 + i);
    EXPECT_EQ(x.needsOverride, needsOverride);
  }
  EXPECT_EQ(next, r.xports.size());
  EXPECT_EQ(r.queriesSent, 6 + 4);  // every address once, then the four that answered
}

TEST(Discovery, EndsOnceAllAnsweredAndPacesItsBursts) {
  const auto a = StartSim("127.0.0.50", [](sim::Config&) {});
  const auto b = StartSim("127.0.0.51", [](sim::Config&) {});
  ASSERT_TRUE(a && b);
  xport::DiscoveryRange pair, wide;
  ASSERT_EQ(xport::ParseDiscoveryRange("127.0.0.50/31", &pair), xport::RangeError::None);
  auto start = platform::MonotonicMs();
  EXPECT_EQ(xport::Discover(pair, {5, 10, 5000}).xports.size(), 2u);
  EXPECT_LT(platform::MonotonicMs() - start, 1000);  // all answered: no 5 s wait

  // 254 info queries in bursts of 5 with 10 ms gaps take at least 0.5 s to go out.
  ASSERT_EQ(xport::ParseDiscoveryRange("127.0.0.0/24", &wide), xport::RangeError::None);
  start = platform::MonotonicMs();
  const xport::DiscoveryResult r = xport::Discover(wide, {5, 10, 100});
  EXPECT_GE(platform::MonotonicMs() - start, 500);
  EXPECT_LT(platform::MonotonicMs() - start, 2500);
  EXPECT_EQ(r.queriesSent, 254 + 2);  // and the two record queries
}

TEST(DiscoverCommand, CabinetFromQuivoSimCountAsTableAndJson) {
  testing_support::TempDir dir;
  // The shell's pid is the simulator's after exec; it is stopped on every way out.
  struct Cabinet {
    std::FILE* out;
    pid_t pid = 0;
    ~Cabinet() { (void)(pid > 0 && ::kill(pid, SIGTERM)), (void)(out && ::pclose(out)); }
  } cabinet{::popen("echo $$; exec " QUIVO_SIM_PATH " --count 3 --address 127.0.0.65 "
                    "--tcp-port 0 --mac 00-20-4A-00-00-01 --fault-pairs 2 --needs-override",
                    "r")};
  char line[256];
  ASSERT_TRUE(cabinet.out && std::fgets(line, sizeof line, cabinet.out));
  cabinet.pid = std::atoi(line);
  for (int ready = 0; ready < 3; ++ready) ASSERT_TRUE(std::fgets(line, sizeof line, cabinet.out));
  const std::string cli = DERURUZUD_CLI_PATH " --discover ";
  auto [status, out] = Shell(cli + "127.0.0.64/29 --json " + dir.path() + "/d.json");
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("127.0.0.66      00-20-4A-00-00-02"), std::string::npos) << out;
  const auto json = nlohmann::json::parse(std::ifstream(dir.path() + "/d.json"));
  ASSERT_EQ(json.at("devices").size(), 3u) << json.dump();
  for (int i = 0; i < 3; ++i) {
    const auto& d = json["devices"][static_cast<std::size_t>(i)];
    EXPECT_EQ(d.at("address"), "127.0.0." + std::to_string(65 + i));
    EXPECT_EQ(d.at("mac"), "00-20-4A-00-00-0" + std::to_string(i + 1));
    EXPECT_TRUE(d.at("port").is_number_unsigned() && d["port"] > 1024) << d;
    EXPECT_EQ(d.at("needs_override"), i == 1) << d;
  }

  std::tie(status, out) = Shell(cli + "127.0.0.70/32 --lang en --json -");
  EXPECT_TRUE(status == 0 && out.find("No XPort answered") != std::string::npos) << out;
  EXPECT_NE(out.find("\"devices\": []"), std::string::npos) << out;
  for (const char* bad : {"0.0.0.0/0", "127.0.0.0/19", "127.0.0.300/24", "everything"}) {
    std::tie(status, out) = Shell(cli + bad);
    EXPECT_EQ(status, 2) << bad;
    EXPECT_NE(out.find(bad), std::string::npos) << out;
  }
}

}  // namespace
