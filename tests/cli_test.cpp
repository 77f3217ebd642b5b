// DERURUZUD-cli as a child process against quivo-sim: its exit status, --yes, the data
// file, and the record a killed run leaves behind, put back with --restore-xport.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "sim/simulator.h"
#include "support/temp_dir.h"

namespace {

// Runs the program with its standard input from /dev/null (no terminal, so nothing waits):
// its exit status and output.
std::pair<int, std::string> RunCli(const std::string& args) {
  const std::string cmd = std::string(DERURUZUD_CLI_PATH) + " " + args + " </dev/null 2>&1";
  std::string output;
  std::FILE* p = ::popen(cmd.c_str(), "r");
  char buf[4096];
  for (std::size_t n; p && (n = std::fread(buf, 1, sizeof buf, p)) > 0;) output.append(buf, n);
  const int st = p ? ::pclose(p) : -1;
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, output};
}

sim::Config Device() {
  sim::Config c;
  c.address = "127.0.0.1";
  c.tcpPort = 0;
  c.settleMs = 0;
  return c;
}

TEST(Cli, ExitStatusTellsTheOutcome) {
  testing_support::TempDir dir;
  sim::Simulator device(Device());
  std::string error;
  ASSERT_TRUE(device.Start(&error)) << error;
  const std::string hex = dir.Write("quivo.HEX", sim::SampleHex(21));
  const std::string target = "--address 127.0.0.1 --port " + std::to_string(device.TcpPort());
  const struct {
    std::string args;
    int status;
    const char* output;
  } cases[] = {
      {target + " --yes --data-file " + hex, 0, "[DERURUZUD] 書込み完了"},
      // Without --yes and without a terminal the question is answered No.
      {target + " --data-file " + hex, 1, "ファームの書換えを開始しますか？"},
      {target + " --yes --data-file " + dir.path() + "/none.HEX", 1, "Can't open data file."},
      {"--no-such-flag", 2, ""},
      {"--help", 0, "--restore-xport"},
  };
  for (const auto& c : cases) {
    const auto [status, output] = RunCli(c.args);
    EXPECT_EQ(status, c.status) << c.args << "\n" << output;
    EXPECT_NE(output.find(c.output), std::string::npos) << output;
    EXPECT_TRUE(device.WaitForNoConnection(2000));
  }
  EXPECT_EQ(device.VersionWord(), 21);
  EXPECT_EQ(device.Connections(), 2);  // the data file is read before the device is sought
}

TEST(Cli, KilledRunLeavesARecordThatPutsTheXPortBack) {
  testing_support::TempDir dir;
  sim::Config c = Device();
  c.needsOverride = true;
  c.faults.identify = sim::IdentifyFault::Silent;  // keeps the run busy after the override
  sim::Simulator device(c);
  std::string error;
  ASSERT_TRUE(device.Start(&error)) << error;
  const sim::Record original = device.SetupRecord();

  // Start a run and kill it while the XPort carries the override.
  std::string port = std::to_string(device.TcpPort()), hex = dir.Write("q.HEX", sim::SampleHex(3));
  std::string cli = DERURUZUD_CLI_PATH, address = "--address=127.0.0.1", yes = "--yes";
  std::string portArg = "--port=" + port, file = "--data-file=" + hex;
  char* argv[] = {cli.data(), address.data(), portArg.data(), yes.data(), file.data(), nullptr};
  std::string xdg = "XDG_STATE_HOME=" + dir.path() + "/state";
  char* envp[] = {xdg.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv, envp), 0);
  posix_spawn_file_actions_destroy(&actions);
  const std::string folder = dir.path() + "/state/DERURUZUD";
  std::string saved;
  for (int i = 0; i < 200 && (saved.empty() || device.SetRequests() < 1); ++i) {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
      if (e.path().extension() == ".setup") saved = e.path().string();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  ASSERT_FALSE(saved.empty());
  ASSERT_EQ(device.SetRequests(), 1);
  EXPECT_NE(device.SetupRecord(), original);  // the override stayed behind

  // The saved file puts the original back and is then removed.
  EXPECT_EQ(RunCli("--restore-xport " + saved + " --address 127.0.0.1").first, 0);
  EXPECT_EQ(device.SetupRecord(), original);
  EXPECT_FALSE(std::filesystem::exists(saved));
  // A file that is not a record is refused without touching the XPort.
  const std::string bogus = dir.Write("bogus.setup", "short");
  EXPECT_EQ(RunCli("--restore-xport " + bogus + " --address 127.0.0.1").first, 1);
  EXPECT_EQ(device.SetRequests(), 2);
}

}  // namespace
