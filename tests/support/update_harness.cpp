#include "support/update_harness.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/clock.h"

namespace testing_support {
namespace {

constexpr std::int64_t kPortRetryMs = 20000;

}  // namespace

UpdateRun::UpdateRun(sim::Config config) {
  Reconfigure(std::move(config));
  hexPath_ = dir_.Write("quivo.HEX", sim::SampleHex(kImageVersion));
  session_.UseSavedRecords(xport::SavedRecords(dir_.path() + "/state"));
  SetWaitsMs(kHarnessWaitMs, kHarnessWaitMs);
}

void UpdateRun::Reconfigure(sim::Config config) {
  host.Forget();
  sleeper.Forget();
  config_ = std::move(config);
  config_.address = "127.0.0.1";
  config_.tcpPort = 0;
  // The XPort settles at once unless a test asked for a settle time of its own.
  if (config_.settleMs == sim::Config{}.settleMs) config_.settleMs = 0;
  if (!config_.memory) {
    sim::Memory m;
    m.fill(0x3FFF);
    m[sim::kVersionWord] = kDeviceVersion;
    config_.memory = m;
  }
}

UpdateRun::~UpdateRun() = default;

update::Outcome UpdateRun::Run(std::vector<bool> answers) {
  sim_.reset();  // the last run's simulator frees its ports first
  sim_ = std::make_unique<sim::Simulator>(config_);
  // Other test programs on this machine may hold the XPort's fixed port for a moment.
  std::string error;
  bool started = false;
  for (const std::int64_t until = platform::MonotonicMs() + kPortRetryMs;;) {
    started = sim_->Start(&error);
    if (started || platform::MonotonicMs() > until) break;
    platform::RealSleeper().SleepMs(50);
  }
  EXPECT_TRUE(started) << error;
  originalRecord_ = sim_->SetupRecord();
  host.SetControlText(ui::IDC_ADDRESS, address);
  host.SetControlText(ui::IDC_PORT, port.empty() ? std::to_string(sim_->TcpPort()) : port);
  for (bool a : answers) host.AnswerNext(a);
  const std::int64_t start = platform::MonotonicMs();
  const update::Outcome outcome =
      update::UpdateJob(session_, panel.TargetFromBoxes(), dataFile.empty() ? hexPath_ : dataFile);
  elapsedMs_ = platform::MonotonicMs() - start;
  // The link is closed by now; let the device finish with what it was sent, so that its
  // counters and memory are final when the test reads them.
  EXPECT_TRUE(sim_->WaitForNoConnection(2000));
  return outcome;
}

void UpdateRun::SetWaitsMs(int receiveMs, int replyMs) {
  session_.Link().SetReceiveWaitMs(receiveMs);
  session_.XPort().SetReplyWaitMs(replyMs);
}

sim::Memory UpdateRun::Image() {
  sim::Memory m;
  EXPECT_TRUE(sim::ParseMemoryHex(sim::SampleHex(kImageVersion), &m));
  return m;
}

void UpdateRun::ExpectReadyAgain() const {
  EXPECT_EQ(host.Text(ui::IDC_STATUS), kFinalStatus);
  EXPECT_EQ(host.Progress().pos, 0);
  for (int id : {ui::IDC_ADDRESS, ui::IDC_PORT, ui::ID_CONNECT, ui::ID_EXIT}) EXPECT_TRUE(host.Enabled(id));
}

std::string UpdateRun::Confirmation() {
  return "MAC:" + session_.XPort().FormatMacAddress() + "\nModel:KT-40D(-W)\nVer:  12 ->   13" +
         "\n\n(注意:KT-52-Wとの入出力延長機能が動作中は実行しないで下さい!!)\n\n" +
         "\n\nファームの書換えを開始しますか？";
}

std::vector<std::string> UpdateRun::SavedFiles() const {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir_.path() + "/state", ec)) {
    files.push_back(e.path().string());
  }
  return files;
}

int OpenDescriptorCount() {
  std::error_code ec;
  int n = 0;
  for (std::filesystem::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end;
       it.increment(ec)) {
    ++n;
  }
  // The iterator's own descriptor was open while counting.
  return ec ? -1 : n - 1;
}

}  // namespace testing_support
