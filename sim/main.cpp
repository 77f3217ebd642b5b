// quivo-sim: simulated XPort-and-device pairs, one per IPv4 address (--count of them on
// consecutive addresses), until SIGINT or SIGTERM. Prints "quivo-sim ready <address> tcp
// <port>" for each pair once every pair's sockets are bound.
#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "panel/panel_texts.h"
#include "platform/clock.h"
#include "platform/program_folder.h"
#include "platform/socket.h"
#include "platform/terminal.h"
#include "sim/fault_names.h"
#include "sim/simulator.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

extern "C" void OnSignal(int) {
  g_stop = 1;
}

// File names arrive as UTF-8 (see CommandLineArgs) and are opened as such on every platform.
bool ReadFile(const std::string& path, std::string* out) {
  std::ifstream f(platform::PathFromUtf8(path), std::ios::binary);
  if (!f) return false;
  std::ostringstream s;
  s << f.rdbuf();
  *out = s.str();
  return !f.bad();
}

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream f(platform::PathFromUtf8(path), std::ios::binary | std::ios::trunc);
  if (!f) return false;
  f << text;
  f.close();
  return !f.fail();
}

bool ParseMac(const std::string& text, std::array<std::uint8_t, 6>* out) {
  unsigned v[6];
  char tail = 0;
  if (std::sscanf(text.c_str(), "%2x-%2x-%2x-%2x-%2x-%2x%c", &v[0], &v[1], &v[2], &v[3], &v[4],
                  &v[5], &tail) != 6) {
    return false;
  }
  for (int i = 0; i < 6; ++i) (*out)[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v[i]);
  return true;
}

// FILE for a single pair; with several, each pair's own FILE with its address before the
// extension: mem.hex -> mem-127.0.0.11.hex.
std::string PairFile(const std::string& file, const std::string& address, int count) {
  if (count == 1) return file;
  const std::size_t slash = file.find_last_of("/\\");
  const std::size_t dot = file.rfind('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  return hasExtension ? file.substr(0, dot) + "-" + address + file.substr(dot)
                      : file + "-" + address;
}

// The nth pair's MAC: the first one counted up by n, as one 48-bit number.
std::array<std::uint8_t, 6> NthMac(std::array<std::uint8_t, 6> mac, int n) {
  std::uint64_t value = 0;
  for (std::uint8_t b : mac) value = value << 8 | b;
  value += static_cast<std::uint64_t>(n);
  for (int i = 5; i >= 0; --i, value >>= 8) mac[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value);
  return mac;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "quivo-sim: a simulated XPort (UDP configuration port) and the device behind it (TCP "
      "boot-mode protocol, 8,192 words of program memory), with fault injection.\n"
      "--count N runs N pairs on consecutive addresses. Prints \"quivo-sim ready <address> tcp "
      "<port>\" for each pair when all are ready; SIGINT or SIGTERM stop it.\n"
      "Example: quivo-sim --address 127.0.0.2 --tcp-port 0 --fault bulk:928=silent "
      "--dump-hex mem.hex",
      "quivo-sim"};

  sim::Config config;
  std::string mac, memoryHex, dumpHex, logFile, sampleHex;
  std::string identify = "none", leave = "none", xport = "none";
  std::vector<std::string> blockFaults;
  int version = 1;
  int localPort = -1;
  int count = 1;
  std::vector<int> models{config.modelCode};
  std::vector<int> faultPairs;

  app.add_option("--address", config.address,
                 "IPv4 address to bind (any of 127.0.0.0/8); with --count, the first pair's")
      ->capture_default_str();
  app.add_option("--count", count,
                 "run this many XPort-and-device pairs in one process, on consecutive addresses "
                 "from --address, with MACs counted up from --mac (at most 256)")
      ->check(CLI::Range(1, 256))
      ->capture_default_str();
  app.add_option("--fault-pairs", faultPairs,
                 "with --count: the pairs (1 = the first) that get the fault options --xport, "
                 "--refuse-set, --ignore-set, --refuse-sets-from, --drop-set-reply, --identify, "
                 "--fault, --leave, --fragment-all, "
                 "--reply-delay and --needs-override; the others are healthy. Default: every "
                 "pair. All other options apply to every pair")
      ->delimiter(',')
      ->check(CLI::Range(1, 256));
  app.add_option("--tcp-port", config.tcpPort, "device TCP port; 0 picks a free one")
      ->capture_default_str();
  app.add_option("--udp-port", config.udpPort, "XPort configuration port")->capture_default_str();
  app.add_option("--local-port", localPort,
                 "LocalPort announced in the setup record (default: the TCP port)")
      ->check(CLI::Range(0, 65535));
  app.add_option("--mac", mac, "MAC address in the info reply, e.g. 00-20-4A-0B-4C-0E");
  app.add_option("--model", models,
                 "model code (high nibble of identify byte 1): 0x60 KT-21, 0x80 KT-40D(-W), "
                 "0xA0 KT-52-W; an unlisted one such as 0x40 tests the refusal. With --count, a "
                 "comma-separated list given to the pairs in turn (0x60,0xA0: 1st 0x60, 2nd "
                 "0xA0, 3rd 0x60 ...)")
      ->delimiter(',')
      ->check(CLI::Range(0, 255))
      ->capture_default_str();
  app.add_option("--sub", config.subCode, "sub code, low nibble of identify byte 1")
      ->check(CLI::Range(0, 15))
      ->capture_default_str();
  app.add_option("--memory-hex", memoryHex, "Intel HEX file with the starting program memory")
      ->check([](const std::string& path) {
        std::error_code ec;
        return std::filesystem::is_regular_file(platform::PathFromUtf8(path), ec)
                   ? std::string()
                   : "File does not exist: " + path;
      });
  app.add_option("--dump-hex", dumpHex,
                 "write program memory as Intel HEX here at exit (with --count, each pair's "
                 "address goes before the extension: mem-127.0.0.11.hex)");
  app.add_option("--log", logFile, "write the event log here at exit (per pair like --dump-hex)");
  app.add_option("--settle-ms", config.settleMs,
                 "after an accepted set request the XPort ignores UDP this long")
      ->check(CLI::Range(0, 600000))
      ->capture_default_str();
  app.add_flag("--needs-override", config.needsOverride,
               "start with record bytes 32/33 = 01 80 (the settings the tool must override)");
  bool noEnforce = false;
  app.add_flag("--no-enforce-override", noEnforce,
               "answer on TCP even while the record shows the override condition");
  app.add_option("--xport", xport, "XPort fault")
      ->check(CLI::IsMember({"none", "silent", "short-info", "short-record", "silent-record"}))
      ->capture_default_str();
  app.add_option("--refuse-set", config.faults.refuseSet,
                 "answer the Nth set request (1-based) with 00 00 00 FA, record unchanged");
  app.add_option("--ignore-set", config.faults.ignoreSet,
                 "leave the Nth set request (1-based) unanswered, record unchanged");
  app.add_option("--refuse-sets-from", config.faults.refuseSetsFrom,
                 "answer every set request from the Nth on with 00 00 00 FA, record unchanged");
  app.add_option("--drop-set-reply", config.faults.dropSetReply,
                 "apply the Nth set request but never answer it (the answer lost)");
  app.add_option("--identify", identify, "identify fault")
      ->check(CLI::IsMember(
          {"none", "silent", "wrong-first-byte", "split", "short", "close", "reset", "garbage"}))
      ->capture_default_str();
  app.add_option("--fault", blockFaults,
                 "block fault PHASE=FAULT, repeatable. Phases: clear, version, single:ADDR, "
                 "bulk:N, block:N (N from 1). Faults: silent, close, reset, wrong-echo, "
                 "missing-e, garbage, short-echo, split-echo")
      ->allow_extra_args(false)
      ->check([](const std::string& text) {
        sim::BlockFaultAt f;
        std::string error;
        return sim::ParseBlockFaultAt(text, &f, &error) ? std::string() : error;
      });
  app.add_option("--leave", leave, "leave fault")
      ->check(CLI::IsMember({"none", "missing", "wrong", "close", "reset"}))
      ->capture_default_str();
  app.add_flag("--fragment-all", config.faults.fragmentAll,
               "split every TCP reply into random pieces, each its own send");
  app.add_option("--seed", config.faults.seed, "seed for fragments and noise")
      ->capture_default_str();
  app.add_option("--reply-delay", config.faults.replyDelayMs, "delay before every TCP reply, ms")
      ->check(CLI::Range(0, 600000));
  app.add_option("--write-sample-hex", sampleHex,
                 "write a sample data file (see --sample-version) and exit");
  app.add_option("--sample-version", version, "version word of the sample data file")
      ->check(CLI::Range(0, 65535))
      ->capture_default_str();
  // --version N set the sample's version word before --version printed the program's;
  // scripts that still say so keep working.
  std::string versionValue;
  const CLI::Option* versionOption =
      app.add_option("--version", versionValue,
                     "print the program's version and exit; with N, the same as "
                     "--sample-version N")
          ->expected(0, 1)
          ->type_name("[N]");

  const std::vector<std::string> args = platform::CommandLineArgs(argc, argv);
  std::vector<const char*> argp;
  for (const std::string& a : args) argp.push_back(a.c_str());
  CLI11_PARSE(app, static_cast<int>(argp.size()), argp.data());

  if (versionOption->count() > 0) {
    if (versionValue.empty()) {
      std::cout << panel::VersionText("quivo-sim") << "\n";
      return 0;
    }
    char* end = nullptr;
    const long n = std::strtol(versionValue.c_str(), &end, 0);
    if (*end != '\0' || n < 0 || n > 65535) {
      std::cerr << "quivo-sim: --version N wants a number from 0 to 65535\n";
      return 2;
    }
    version = static_cast<int>(n);
  }

  if (!sampleHex.empty()) {
    if (!WriteFile(sampleHex, sim::SampleHex(static_cast<std::uint16_t>(version)))) {
      std::cerr << "quivo-sim: cannot write " << sampleHex << "\n";
      return 1;
    }
    return 0;
  }

  if (localPort >= 0) config.localPort = static_cast<std::uint16_t>(localPort);
  if (!mac.empty() && !ParseMac(mac, &config.mac)) {
    std::cerr << "quivo-sim: --mac wants six hex bytes such as 00-20-4A-0B-4C-0E\n";
    return 2;
  }
  config.enforceOverride = !noEnforce;
  config.faults.xport = *sim::XPortFaultFromName(xport);
  config.faults.identify = *sim::IdentifyFaultFromName(identify);
  config.faults.leave = *sim::LeaveFaultFromName(leave);
  for (const auto& text : blockFaults) {
    sim::BlockFaultAt f;
    sim::ParseBlockFaultAt(text, &f, nullptr);
    config.faults.blocks.push_back(f);
  }
  if (!memoryHex.empty()) {
    std::string text;
    sim::Memory memory;
    if (!ReadFile(memoryHex, &text) || !sim::ParseMemoryHex(text, &memory)) {
      std::cerr << "quivo-sim: " << memoryHex << " is not a readable Intel HEX file\n";
      return 1;
    }
    config.memory = memory;
  }

  // The pairs: the same settings on consecutive addresses, each with its own MAC and model
  // in turn; the fault options only on the chosen pairs.
  const std::uint32_t first = platform::InetAddr(config.address.c_str());
  if (platform::FormatIpv4(first) != config.address) {
    std::cerr << "quivo-sim: '" << config.address << "' is not an IPv4 address\n";
    return 1;
  }
  if (first > 0xFFFFFFFFu - static_cast<std::uint32_t>(count - 1)) {
    std::cerr << "quivo-sim: " << count << " addresses from " << config.address
              << " pass 255.255.255.255\n";
    return 2;
  }
  const std::set<int> faulty(faultPairs.begin(), faultPairs.end());
  for (int p : faulty) {
    if (p > count) {
      std::cerr << "quivo-sim: --fault-pairs names pair " << p << " of " << count << "\n";
      return 2;
    }
  }
  sim::Config healthy = config;
  healthy.faults = sim::Faults{};
  healthy.faults.seed = config.faults.seed;
  healthy.needsOverride = false;
  std::vector<std::unique_ptr<sim::Simulator>> pairs;
  std::vector<std::string> addresses;
  for (int i = 0; i < count; ++i) {
    sim::Config c = faulty.empty() || faulty.count(i + 1) ? config : healthy;
    c.address = platform::FormatIpv4(first + static_cast<std::uint32_t>(i));
    c.mac = NthMac(config.mac, i);
    c.modelCode = models[static_cast<std::size_t>(i) % models.size()];
    addresses.push_back(c.address);
    pairs.push_back(std::make_unique<sim::Simulator>(std::move(c)));
  }

  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  for (auto& pair : pairs) {
    std::string error;
    if (!pair->Start(&error)) {
      std::cerr << "quivo-sim: " << error << "\n";
      return 1;  // the pairs already started stop as they are destroyed
    }
  }
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    std::cout << "quivo-sim ready " << addresses[i] << " tcp " << pairs[i]->TcpPort() << "\n";
  }
  std::cout.flush();

  while (!g_stop) platform::RealSleeper().SleepMs(50);

  int status = 0;
  int connections = 0, blocks = 0, sets = 0;
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    sim::Simulator& simulator = *pairs[i];
    simulator.Stop();
    connections += simulator.Connections();
    blocks += simulator.DataBlocks();
    sets += simulator.SetRequests();
    const std::string dump = dumpHex.empty() ? "" : PairFile(dumpHex, addresses[i], count);
    if (!dump.empty() && !simulator.WriteMemoryHex(dump)) {
      std::cerr << "quivo-sim: cannot write " << dump << "\n";
      status = 1;
    }
    if (!logFile.empty()) {
      const std::string log = PairFile(logFile, addresses[i], count);
      std::string text;
      for (const auto& line : simulator.Events()) text += line + "\n";
      if (!WriteFile(log, text)) {
        std::cerr << "quivo-sim: cannot write " << log << "\n";
        status = 1;
      }
    }
  }
  std::cerr << "quivo-sim stopped: " << connections << " connections, " << blocks
            << " data blocks, " << sets << " set requests\n";
  return status;
}
