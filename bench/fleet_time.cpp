// bench/fleet_time: batches of simulated devices, each updated by one DERURUZUD-cli run.
//
// For each N (default 1, 8, 32, 64) and each way of waiting, quivo-sim --count runs as
// separate processes of at most 256 pairs each on consecutive addresses from --address, and
// `DERURUZUD-cli --yes --devices FILE` updates them all (--dry-run: identifies and judges
// them, writes nothing: the batch engine's own cost at 1,000 devices and more, with
// --jobs' workers and one TCP connection per identified device). Printed per N: the
// batch's wall time and its ratio to one device's whole run (N = 1, same way of waiting),
// DERURUZUD-cli's CPU seconds per device and peak RSS, the simulator's CPU seconds, the
// cores the two kept busy, the cores the rest of the machine kept busy meanwhile (from
// /proc/stat: a figure is quiet when that is near 0), and the load average when the batch
// began (which the bench's own threads raise too).
//
//   fleet_time [--counts 1,8,32,64] [--mode both|auto|spin|plain] [--runs R]
//              [--address 127.0.1.1] [--dry-run] [--jobs N]
//
// The way of waiting reaches DERURUZUD-cli through DERURUZUD_SLEEP_MODE (spin, plain;
// auto leaves the choice to the program). Uses UDP ports 10001 and 30718: run it alone, in
// a private network namespace on a shared machine:
//   unshare -n sh -c 'ip link set lo up && build/fleet_time'
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "platform/program_folder.h"
#include "platform/socket.h"
#include "sim/simulator.h"

extern char** environ;

namespace {

struct Batch {
  bool ok = false;
  double wall = 0, cliCpu = 0, simCpu = 0, rssMb = 0;
  double others = 0;  // cores that other processes kept busy meanwhile
  std::string load;
};

// The environment with DERURUZUD_SLEEP_MODE set to mode ("auto": removed) and the state
// folder moved to state, so that the runs' history does not land in the user's.
std::vector<std::string> ChildEnvironment(const std::string& mode, const std::string& state) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string v = *e;
    if (v.rfind("DERURUZUD_SLEEP_MODE=", 0) != 0 && v.rfind("XDG_STATE_HOME=", 0) != 0) {
      env.push_back(v);
    }
  }
  if (mode != "auto") env.push_back("DERURUZUD_SLEEP_MODE=" + mode);
  env.push_back("XDG_STATE_HOME=" + state);
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> p;
  for (auto& s : strings) p.push_back(s.data());
  p.push_back(nullptr);
  return p;
}

// utime + stime of a running process, in seconds.
double ProcessCpu(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string skip;
  for (int i = 3; i < 14; ++i) fields >> skip;  // state .. cmajflt
  long long utime = 0, stime = 0;
  fields >> utime >> stime;
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// CPU seconds the whole machine has spent busy since boot (every core).
double MachineBusy() {
  std::ifstream f("/proc/stat");
  std::string cpu;
  long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
  f >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal;
  return static_cast<double>(user + nice + system + irq + softirq + steal) /
         static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::string LoadAverage() {
  std::ifstream f("/proc/loadavg");
  std::string a, b, c;
  f >> a >> b >> c;
  return a + " " + b + " " + c;
}

// Starts quivo-sim --count n and waits for its n ready lines; 0 on failure.
pid_t StartPairs(const std::string& sim, const std::string& first, int n) {
  int out[2];
  if (::pipe(out) != 0) return 0;
  std::vector<std::string> args = {sim, "--count", std::to_string(n), "--address", first};
  auto argv = Pointers(args);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int r = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (r != 0) {
    ::close(out[0]);
    return 0;
  }
  std::FILE* lines = ::fdopen(out[0], "r");
  char line[256];
  int ready = 0;
  while (ready < n && std::fgets(line, sizeof line, lines)) {
    if (std::string(line).rfind("quivo-sim ready", 0) == 0) ++ready;
  }
  std::fclose(lines);
  if (ready == n) return pid;
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
  return 0;
}

// quivo-sim takes at most 256 pairs: a larger cabinet is several processes side by side.
std::vector<pid_t> StartCabinet(const std::string& sim, const std::string& first, int n) {
  std::vector<pid_t> pids;
  const std::uint32_t base = platform::InetAddr(first.c_str());
  for (int done = 0; done < n; done += 256) {
    const pid_t pid = StartPairs(sim, platform::FormatIpv4(base + static_cast<std::uint32_t>(done)),
                                 std::min(256, n - done));
    if (pid == 0) break;
    pids.push_back(pid);
  }
  if (static_cast<int>(pids.size()) * 256 < n) {
    for (pid_t pid : pids) ::kill(pid, SIGTERM), ::waitpid(pid, nullptr, 0);
    pids.clear();
  }
  return pids;
}

double CabinetCpu(const std::vector<pid_t>& pids) {
  double cpu = 0;
  for (pid_t pid : pids) cpu += ProcessCpu(pid);
  return cpu;
}

struct Options {
  bool dryRun = false;
  std::string jobs;
};

Batch RunBatch(const std::string& cli, const std::string& sim, const std::string& first, int n,
               const std::string& mode, const std::string& hex, const std::string& state,
               const Options& options) {
  Batch b;
  const std::vector<pid_t> cabinet = StartCabinet(sim, first, n);
  if (cabinet.empty()) {
    std::fprintf(stderr, "fleet_time: quivo-sim --count %d did not get ready\n", n);
    return b;
  }
  const std::string devices = state + "/devices.txt";
  {
    std::ofstream list(devices);
    const std::uint32_t base = platform::InetAddr(first.c_str());
    for (int i = 0; i < n; ++i) list << platform::FormatIpv4(base + static_cast<std::uint32_t>(i)) << "\n";
  }
  std::vector<std::string> args = {cli, "--yes", "--data-file", hex, "--devices", devices};
  if (options.dryRun) args.push_back("--dry-run");
  if (!options.jobs.empty()) args.insert(args.end(), {"--jobs", options.jobs});
  auto argv = Pointers(args);
  auto envStrings = ChildEnvironment(mode, state);
  auto envp = Pointers(envStrings);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  b.load = LoadAverage();
  const double simBefore = CabinetCpu(cabinet);
  const double busyBefore = MachineBusy();
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned == 0) {
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    b.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    b.simCpu = CabinetCpu(cabinet) - simBefore;
    b.cliCpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    b.rssMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
    b.others = std::max(0.0, MachineBusy() - busyBefore - b.simCpu - b.cliCpu) / b.wall;
    b.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!b.ok) std::fprintf(stderr, "fleet_time: N=%d %s: DERURUZUD-cli failed\n", n, mode.c_str());
  }
  for (pid_t pair : cabinet) ::kill(pair, SIGTERM), ::waitpid(pair, nullptr, 0);
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> counts = {1, 8, 32, 64};
  std::vector<std::string> modes = {"spin", "plain"};
  std::string first = "127.0.1.1";
  int runs = 1;
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--counts" && i + 1 < argc) {
      counts.clear();
      std::stringstream list(argv[++i]);
      for (std::string c; std::getline(list, c, ',');)
        counts.push_back(std::max(1, std::atoi(c.c_str())));
    } else if (a == "--mode" && i + 1 < argc) {
      const std::string m = argv[++i];
      modes = m == "both" ? std::vector<std::string>{"spin", "plain"} : std::vector<std::string>{m};
    } else if (a == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--address" && i + 1 < argc) {
      first = argv[++i];
    } else if (a == "--dry-run") {
      options.dryRun = true;
    } else if (a == "--jobs" && i + 1 < argc) {
      options.jobs = argv[++i];
    } else {
      std::fprintf(stderr,
                   "usage: fleet_time [--counts 1,8,32,64] [--mode both|auto|spin|plain] "
                   "[--runs R] [--address 127.0.1.1] [--dry-run] [--jobs N]\n");
      return 2;
    }
  }
  const std::filesystem::path folder = platform::ProgramFolder();
  const std::string cli = (folder / "DERURUZUD-cli").string();
  const std::string sim = (folder / "quivo-sim").string();
  const std::string dir =
      std::filesystem::temp_directory_path() / ("fleet_time-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir + "/state");
  const std::string hex = dir + "/quivo.HEX";
  std::ofstream(hex) << sim::SampleHex(102);

  std::printf(
      "fleet_time: median of %d run(s); cores busy = (CLI + sim CPU) / wall; others = cores "
      "the rest of the machine kept busy meanwhile\n",
      runs);
  std::printf("%5s %-6s %8s %9s %13s %10s %9s %10s %7s  %s\n", "N", "mode", "wall s", "/ one run",
              "CLI CPU s/dev", "CLI RSS", "sim CPU s", "cores busy", "others", "load (1 5 15 min)");
  int status = 0;
  std::map<std::string, double> one;  // one device's whole run, per way of waiting
  for (int n : counts) {
    for (const std::string& mode : modes) {
      bench::Figure wall, cli1, simCpu, rss, others;
      std::string load;
      for (int r = 0; r < runs; ++r) {
        const Batch b = RunBatch(cli, sim, first, n, mode, hex, dir + "/state", options);
        if (!b.ok) {
          status = 1;
          continue;
        }
        wall.Add(b.wall);
        cli1.Add(b.cliCpu);
        simCpu.Add(b.simCpu);
        rss.Add(b.rssMb);
        others.Add(b.others);
        if (load.empty()) load = b.load;
      }
      if (wall.values.empty()) continue;
      const double w = wall.Median();
      if (n == 1) one[mode] = w;
      const std::string ratio =
          one.count(mode) ? std::to_string(w / one[mode]).substr(0, 5) + " x" : "-";
      std::printf("%5d %-6s %8.2f %9s %13.3f %7.1f MB %9.2f %10.2f %7.2f  %s\n", n, mode.c_str(), w,
                  ratio.c_str(), cli1.Median() / n, rss.Median(), simCpu.Median(),
                  (cli1.Median() + simCpu.Median()) / w, others.Median(), load.c_str());
      std::fflush(stdout);
    }
  }
  std::filesystem::remove_all(dir);
  return status;
}
