// DERURUZUD-cli as a subprocess: exit codes, --yes, the data file, against quivo-sim.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include <fcntl.h>

#include <array>
#include <cstdio>
#include <string>

#include "sim/simulator.h"
#include "support/hex_files.h"

namespace {

struct Result {
  int status = -1;
  std::string output;
};

// Runs the program with its standard input from /dev/null (no terminal, so nothing waits).
Result RunCli(const std::string& args) {
  const std::string cmd = std::string(DERURUZUD_CLI_PATH) + " " + args + " </dev/null 2>&1";
  Result r;
  std::FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  std::size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.output.append(buf.data(), n);
  const int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Config c;
    c.address = "127.0.0.1";
    c.tcpPort = 0;
    device_ = std::make_unique<sim::Simulator>(c);
    std::string error;
    ASSERT_TRUE(device_->Start(&error)) << error;
    hex_ = dir_.Write("quivo.HEX", sim::SampleHex(21));
  }
  std::string Target() const {
    return "--address 127.0.0.1 --port " + std::to_string(device_->TcpPort());
  }
  testing_support::TempDir dir_;
  std::unique_ptr<sim::Simulator> device_;
  std::string hex_;
};

TEST_F(Cli, WholeUpdateWithYes) {
  const Result r = RunCli(Target() + " --yes --data-file " + hex_);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("[DERURUZUD] 書込み完了"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("QUIVOの電源を入れ直してから接続して下さい。"), std::string::npos);
  EXPECT_TRUE(device_->WaitForNoConnection(2000));
  EXPECT_EQ(device_->VersionWord(), 21);
}

TEST_F(Cli, FailuresExitWithOne) {
  // Without --yes and without a terminal, the question is answered No.
  Result r = RunCli(Target() + " --data-file " + hex_);
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("ファームの書換えを開始しますか？"), std::string::npos);
  EXPECT_TRUE(device_->WaitForNoConnection(2000));
  EXPECT_EQ(device_->VersionWord(), 0x3FFF);

  r = RunCli(Target() + " --yes --data-file " + dir_.path() + "/none.HEX");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("Can't open data file."), std::string::npos) << r.output;
  EXPECT_EQ(device_->Connections(), 1);  // only the first run reached the device
}

TEST_F(Cli, UsageErrorsExitWithTwo) {
  EXPECT_EQ(RunCli("--no-such-flag").status, 2);
  EXPECT_EQ(RunCli("--help").status, 0);
}

TEST(CliRestore, KilledRunLeavesARecordThatPutsTheXPortBack) {
  testing_support::TempDir dir;
  sim::Config c;
  c.address = "127.0.0.1";
  c.tcpPort = 0;
  c.settleMs = 0;
  c.needsOverride = true;
  c.faults.identify = sim::IdentifyFault::Silent;  // keeps the run busy after the override
  sim::Simulator device(c);
  std::string error;
  ASSERT_TRUE(device.Start(&error)) << error;
  const sim::Record original = device.SetupRecord();
  const std::string hex = dir.Write("quivo.HEX", sim::SampleHex(3));
  const std::string state = dir.path() + "/state";

  // Start a run and kill it while the XPort carries the override.
  const std::string port = std::to_string(device.TcpPort());
  std::vector<std::string> args = {DERURUZUD_CLI_PATH, "--address", "127.0.0.1", "--port", port,
                                   "--yes", "--data-file", hex};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::string xdg = "XDG_STATE_HOME=" + state;
  std::vector<char*> envp = {xdg.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);

  const std::string folder = state + "/DERURUZUD";
  std::string saved;
  for (int i = 0; i < 200 && (saved.empty() || device.SetRequests() < 1); ++i) {
    std::error_code ec;
    if (std::filesystem::is_directory(folder, ec)) {
      for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
        if (e.path().extension() == ".setup") saved = e.path().string();
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  ::kill(pid, SIGKILL);
  int st = 0;
  ::waitpid(pid, &st, 0);
  ASSERT_FALSE(saved.empty());
  ASSERT_EQ(device.SetRequests(), 1);
  EXPECT_NE(device.SetupRecord(), original);  // the override stayed behind

  // The saved file puts the original back and is then removed.
  const Result r = RunCli("--restore-xport " + saved + " --address 127.0.0.1");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(device.SetupRecord(), original);
  EXPECT_FALSE(std::filesystem::exists(saved));

  // A file that is not a record is refused without touching the XPort.
  const std::string bogus = dir.Write("bogus.setup", "short");
  const Result bad = RunCli("--restore-xport " + bogus + " --address 127.0.0.1");
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(device.SetRequests(), 2);
}

}  // namespace
