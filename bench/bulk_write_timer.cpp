// bench/bulk_write_timer: the bulk write with and without the raised timer resolution.
// Runs whole updates in-process against an in-process quivo-sim on loopback, alternately
// without and with platform::TimerResolutionGuard (the guard UpdateJob holds), and prints
// the bulk write's span from the simulator's log and its ratio to the protocol's floor,
// after the mean length of one 1 ms pause without and with the guard.
// On Windows the guard is timeBeginPeriod(1); elsewhere it does nothing and both rows
// should agree.
//
//   bulk_write_timer [--runs N] [--address 127.0.0.x]
//
// Uses UDP ports 10001 and 30718 on the chosen address; run it alone.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "bench/bench_support.h"
#include "platform/clock.h"
#include "sim/simulator.h"
#include "update/update_procedure.h"

namespace {

// One update; the bulk write's seconds, or nothing when the run failed.
std::optional<double> OneRun(const std::string& address, const std::string& hex, bool raise) {
  sim::Config config;
  config.address = address;
  config.tcpPort = 0;
  sim::Simulator device(config);
  std::string error;
  if (!device.Start(&error)) {
    std::fprintf(stderr, "bulk_write_timer: %s\n", error.c_str());
    return std::nullopt;
  }
  bench::SilentHost host;
  const device::Target target{platform::InetAddr(address.c_str()), device.TcpPort()};
  update::UpdateSession session(host, platform::RealSleeper());
  int result = 0;
  if (session.Images().LoadDataFile(host, hex) && session.Images().ParseDataFile(host)) {
    std::optional<platform::TimerResolutionGuard> guard;
    if (raise) guard.emplace();
    result = update::UpdateProcedure(session, target).result == update::Result::Updated;
  }
  device.WaitForNoConnection(2000);
  if (result != 1 || device.VersionWord() != 102) {
    std::fprintf(stderr, "bulk_write_timer: run failed (%s)\n", host.last().c_str());
    return std::nullopt;
  }
  const auto events = device.Events();
  const long first = bench::EventMs(events, "tcp bulk first block");
  const long last = bench::EventMs(events, "tcp bulk last echo");
  return (last - first) / 1000.0;
}

}  // namespace

int main(int argc, char** argv) {
  bench::Options options;
  options.runs = 3;
  options.address = "127.0.0.1";
  if (!bench::ParseOptions(argc, argv, "bulk_write_timer [--runs N] [--address A]", &options))
    return 2;
  const int runs = options.runs;
  const std::string address = options.address;
  const auto dir = std::filesystem::temp_directory_path() / "bulk_write_timer";
  std::filesystem::create_directories(dir);
  const std::string hex = (dir / "quivo.HEX").string();
  std::ofstream(hex, std::ios::binary) << sim::SampleHex(102);

  {
    const platform::TimerResolutionGuard probe;
    std::printf("bulk_write_timer: timer resolution %s be raised here\n",
                probe.raised() ? "can" : "cannot");
  }
  // The pause alone: what one SleepMs(1) lasts, without and with the guard.
  for (bool raise : {false, true}) {
    std::optional<platform::TimerResolutionGuard> guard;
    if (raise) guard.emplace();
    const std::int64_t start = platform::MonotonicUs();
    for (int i = 0; i < 500; ++i) platform::RealSleeper().SleepMs(1);
    std::printf("  SleepMs(1), %-14s mean %.3f ms over 500\n",
                raise ? "1 ms timer" : "default timer",
                static_cast<double>(platform::MonotonicUs() - start) / 500 / 1000.0);
  }
  bench::Figure plain{"bulk write, default timer (s)", {}};
  bench::Figure raised{"bulk write, 1 ms timer (s)", {}};
  bench::Figure plainRatio{"default timer / 5.565 s floor", {}};
  bench::Figure raisedRatio{"1 ms timer / 5.565 s floor", {}};
  for (int i = 0; i < runs; ++i) {
    for (bool raise : {false, true}) {
      const auto s = OneRun(address, hex, raise);
      if (!s) return 1;
      (raise ? raised : plain).Add(*s);
      (raise ? raisedRatio : plainRatio).Add(*s / bench::kFloorSeconds);
      std::printf("run %d %-14s bulk %.3f s\n", i + 1, raise ? "1 ms timer" : "default timer", *s);
    }
  }
  std::filesystem::remove_all(dir);
  plain.Print("s");
  raised.Print("s");
  plainRatio.Print("x");
  raisedRatio.Print("x");
  return 0;
}
