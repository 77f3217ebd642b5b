// bench/update_time: runs whole updates with DERURUZUD-cli --yes against an in-process
// quivo-sim on loopback and prints, for each figure, the median and the spread over the
// runs: whole run, bulk write (first bulk block to last echo, from the simulator's log),
// verification (last echo to the version block), the ratio of the bulk write to the
// protocol's floor, and DERURUZUD-cli's peak resident size.
//
//   update_time [--runs N] [--override] [--address 127.0.0.x]
//
// --override starts the XPort with settings that need the temporary change, adding the
// 2 x 8 s of waits around the update; the run is then also shown without those waits.
// Uses UDP ports 10001 and 30718 on the chosen address; run it alone.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "platform/program_folder.h"
#include "sim/simulator.h"

extern char** environ;

namespace {

struct ChildResult {
  int status = -1;
  double seconds = 0;
  long maxRssKb = 0;
};

ChildResult RunChild(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  ChildResult r;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) return r;
  posix_spawn_file_actions_destroy(&actions);
  int st = 0;
  rusage usage{};
  ::wait4(pid, &st, 0, &usage);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  r.maxRssKb = usage.ru_maxrss;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  bench::Options options;
  options.runs = 5;
  options.address = "127.0.0.21";
  if (!bench::ParseOptions(argc, argv, "update_time [--runs N] [--override] [--address A]",
                           &options, "--override"))
    return 2;
  const int runs = options.runs;
  const std::string address = options.address;
  const bool withOverride = options.flag;
  const std::string cli = (platform::ProgramFolder() / "DERURUZUD-cli").string();
  const std::string dir =
      std::filesystem::temp_directory_path() / ("update_time-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string hex = dir + "/quivo.HEX";
  std::ofstream(hex) << sim::SampleHex(102);

  bench::Figure whole{"whole run (s)", {}}, bulk{"bulk write (s)", {}},
      verify{"verify + version block (s)", {}}, ratio{"bulk write / 5.565 s floor", {}},
      rest{"whole run - bulk write (s)", {}}, waitsOff{"whole run - 16 s of XPort waits (s)", {}},
      rss{"DERURUZUD-cli peak RSS (MB)", {}};

  for (int i = 0; i < runs; ++i) {
    sim::Config config;
    config.address = address;
    config.tcpPort = 0;
    config.needsOverride = withOverride;
    sim::Simulator device(config);
    std::string error;
    if (!device.Start(&error)) {
      std::fprintf(stderr, "update_time: %s\n", error.c_str());
      return 1;
    }
    const ChildResult r = RunChild({cli, "--address", address, "--port",
                                    std::to_string(device.TcpPort()), "--yes", "--data-file", hex});
    device.WaitForNoConnection(2000);
    if (r.status != 0 || device.VersionWord() != 102) {
      std::fprintf(stderr, "update_time: run %d failed (exit %d)\n", i + 1, r.status);
      return 1;
    }
    const auto events = device.Events();
    std::size_t lastEcho = 0;
    const long first = bench::EventMs(events, "tcp bulk first block");
    const long last = bench::EventMs(events, "tcp bulk last echo", 0, &lastEcho);
    const long version = bench::EventMs(events, "tcp rx", lastEcho + 1);
    const double bulkS = (last - first) / 1000.0;
    whole.Add(r.seconds);
    bulk.Add(bulkS);
    if (version >= 0) verify.Add((version - last) / 1000.0);
    ratio.Add(bulkS / bench::kFloorSeconds);
    rest.Add(r.seconds - bulkS);
    if (withOverride) waitsOff.Add(r.seconds - 16.0);
    rss.Add(static_cast<double>(r.maxRssKb) / 1024.0);
    std::printf("run %d: %.3f s whole, %.3f s bulk\n", i + 1, r.seconds, bulkS);
  }
  std::filesystem::remove_all(dir);

  std::printf("update_time: %d runs%s against quivo-sim on %s\n", runs,
              withOverride ? " with the XPort override" : "", address.c_str());
  whole.Print("s");
  bulk.Print("s");
  verify.Print("s");
  ratio.Print("x");
  rest.Print("s");
  waitsOff.Print("s");
  rss.Print("MB");
  return 0;
}
