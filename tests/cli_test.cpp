// DERURUZUD-cli as a subprocess: exit codes, --yes, the data file, against quivo-sim.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

#include "simulator.h"
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
  EXPECT_EQ(device_->VersionWord(), 21);
}

TEST_F(Cli, FailuresExitWithOne) {
  // Without --yes and without a terminal, the question is answered No.
  Result r = RunCli(Target() + " --data-file " + hex_);
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("ファームの書換えを開始しますか？"), std::string::npos);
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

}  // namespace
