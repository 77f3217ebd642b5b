// BatchConsole: the console's face of a batch. Every line it prints for a device begins with
// the device's address and stays one line: the device's notices, and its finished line
// ("[127.0.0.2] updated in 6.1 s: 101 -> 102"), once. On a terminal a live block below them
// shows the devices still running (address, model, phase, percent), redrawn in place at
// most ten times a second and never taller than the terminal (its size as LINES says, else
// a height any terminal has): the running devices first, then a count of the rest. Without a terminal, milestone lines instead of the block. The
// one question is asked like every console question (y/N, --yes answers it); a summary
// table closes the batch.
//
// Thread notes: everything runs on the thread that called BatchRun::Run().
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "batch/batch_run.h"
#include "ui/console/console_host.h"

namespace ui {

class BatchConsole final : public batch::BatchFrontEnd {
 public:
  // live: out is a terminal of options' size. interrupted: the program's interrupt flag;
  // when it is set the batch is told to stop.
  BatchConsole(std::FILE* in, std::FILE* out, ConsoleOptions options, bool live,
               const std::atomic<bool>* interrupted);

  void Tick(batch::BatchRun& run) override;
  bool Confirm(batch::BatchRun& run, const batch::BatchQuestion& question) override;

  void PrintSummary(const std::vector<report::DeviceReport>& reports);

 private:
  struct Seen {
    panel::Stage stage = panel::Stage::Queued;
    std::size_t notices = 0;
    int quarter = 0;
    bool done = false;
  };

  std::string LiveLine(const batch::DeviceView& view) const;
  void DrawBlock(const std::vector<batch::DeviceView>& views);
  void EraseBlock();

  std::FILE* out_;
  ConsoleHost questions_;
  ConsoleOptions options_;
  bool live_;
  const std::atomic<bool>* interrupted_;
  bool stopAnnounced_ = false;
  std::string asked_;  // the question as asked: each device's record repeats it
  std::vector<Seen> seen_;
  int blockLines_ = 0;          // live lines on the screen below the notices
  std::int64_t lastDrawMs_ = -1000;
};


}  // namespace ui
