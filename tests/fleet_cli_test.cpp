// DERURUZUD-cli with many devices, as a subprocess against in-process simulators: Ctrl-C in
// the middle of a batch, the JSON report, the history, and bad input refused up front.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "platform/state_folder.h"
#include "sim/simulator.h"
#include "support/temp_dir.h"

namespace {

int Wait(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Starts the program with stdin from /dev/null, stdout and stderr to files in dir and the
// state folder under dir.
pid_t Spawn(const testing_support::TempDir& dir, std::vector<std::string> args) {
  args.insert(args.begin(), DERURUZUD_CLI_PATH);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::string xdg = "XDG_STATE_HOME=" + dir.path() + "/state";
  std::vector<char*> envp = {xdg.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  const std::string out = dir.path() + "/out", err = dir.path() + "/err";
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

std::string Read(const std::string& path) {
  std::string text;
  return platform::ReadWholeFile(path, &text) ? text : "";
}

std::unique_ptr<sim::Simulator> Device(int n, sim::Config c = {}) {
  c.address = "127.0.0." + std::to_string(n);
  c.tcpPort = 0;
  c.settleMs = 0;
  c.mac[5] = static_cast<std::uint8_t>(n);
  auto s = std::make_unique<sim::Simulator>(c);
  std::string error;
  EXPECT_TRUE(s->Start(&error)) << error;
  return s;
}

TEST(FleetCli, AStopInTheMiddleOfABatchRestoresEveryChangedXPort) {
  testing_support::TempDir dir;
  const std::string hex = dir.Write("quivo.HEX", sim::SampleHex(7));
  // A bulk write slow enough to be interrupted.
  const sim::Config changed{.needsOverride = true, .faults = {.replyDelayMs = 2}};
  std::vector<std::unique_ptr<sim::Simulator>> sims;
  sims.push_back(Device(2, changed));
  sims.push_back(Device(3, changed));
  sims.push_back(Device(4, {.faults = {.xport = sim::XPortFault::Silent}}));
  std::vector<sim::Record> originals;
  for (const auto& s : sims) originals.push_back(s->SetupRecord());

  const pid_t cli = Spawn(dir, {"--address", "127.0.0.2", "--address", "127.0.0.3", "--address",
                          "127.0.0.4", "--yes", "--data-file", hex, "--json", "-"});
  // Both XPorts were changed (8 s of waiting) and both devices are being written.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while ((sims[0]->DataBlocks() < 30 || sims[1]->DataBlocks() < 30) &&
         std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // A closed terminal (SIGHUP) stops a batch as Ctrl-C does: every clean-up runs.
  ASSERT_EQ(::kill(cli, SIGHUP), 0);
  EXPECT_EQ(Wait(cli), 130) << Read(dir.path() + "/err");

  for (std::size_t i = 0; i < sims.size(); ++i) {
    EXPECT_TRUE(sims[i]->WaitForNoConnection(2000));
    EXPECT_EQ(sims[i]->SetupRecord(), originals[i]) << i;
    EXPECT_NE(sims[i]->VersionWord(), 7) << i;
  }
  for (const auto& e : std::filesystem::directory_iterator(dir.path() + "/state/DERURUZUD")) {
    EXPECT_NE(e.path().extension(), ".setup") << e.path();  // every restore was accepted
  }
  // Standard output holds the report alone.
  const auto report = nlohmann::json::parse(Read(dir.path() + "/out"));
  ASSERT_EQ(report["devices"].size(), 3u);
  for (int i : {0, 1}) {
    const auto& d = report["devices"][i];
    EXPECT_TRUE(d["result"] == "interrupted" && d["interrupted"] == true) << d;
    EXPECT_TRUE(d["xport_overridden"] == true && d["xport_restored"] == true) << d;
    EXPECT_TRUE(d["saved_record"].is_null() && d["version_after"] == 0) << d;
  }
  EXPECT_EQ(report["devices"][2]["reason"], "情報を取得出来ませんでした!!処理を中断します。");

  // The history shows the three runs.
  EXPECT_EQ(Wait(Spawn(dir, {"--history", "--lang", "en"})), 0);
  const std::string table = Read(dir.path() + "/out");
  for (const char* address : {"127.0.0.2", "127.0.0.3", "127.0.0.4"}) {
    EXPECT_NE(table.find(address), std::string::npos) << table;
  }
}

TEST(FleetCli, BadInputIsRefusedBeforeAnythingIsSent) {
  testing_support::TempDir dir;
  auto device = Device(2);
  const std::string garbage = dir.Write("garbage.txt", "127.0.0.2\n127.0.0.3 please\n");
  const std::string twice = dir.Write("twice.txt", "127.0.0.2:10003\n# again\n127.0.0.2\n");
  std::string many;
  for (int i = 0; i < 4097; ++i) many += "127.0." + std::to_string(10 + i / 250) + "." + std::to_string(1 + i % 250) + "\n";
  const std::string tooMany = dir.Write("many.txt", many);
  struct Case {
    std::vector<std::string> args;
    std::string culprit;
  };
  const std::vector<Case> cases = {
      {{"--devices", garbage}, "127.0.0.3 please"},
      {{"--devices", twice}, "twice.txt:3"},
      {{"--address", "127.0.0.2", "--address", "127.0.0.2"}, "127.0.0.2"},
      {{"--address", "127.0.0.256"}, "127.0.0.256"},
      {{"--address", "010.0.0.2"}, "010.0.0.2"},  // the address conversion reads octal
      {{"--address", "255.255.255.255", "--address", "127.0.0.2:0"}, "255.255.255.255"},
      {{"--address", "127.0.0.2:0", "--address", "127.0.0.3"}, "127.0.0.2:0"},
      {{"--address", "127.0.0.2", "--address", "127.0.0.3", "--jobs", "0"}, "--jobs 0"},
      {{"--devices", dir.path() + "/missing.txt"}, "missing.txt"},
      {{"--devices", tooMany}, "4097"},  // one more than a batch holds
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--yes", "--lang", "en"});
    EXPECT_EQ(Wait(Spawn(dir, args)), 2) << c.culprit;
    EXPECT_NE(Read(dir.path() + "/err").find(c.culprit), std::string::npos)
        << Read(dir.path() + "/err");
  }
  EXPECT_EQ(device->UdpRequests(), 0);
  EXPECT_EQ(device->Connections(), 0);
}

}  // namespace
