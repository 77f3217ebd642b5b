// BatchConsole: the console's face of a batch. On a terminal, one live line per device
// (address, model, phase, percent, result) redrawn in place at most ten times a second,
// with the devices' notices scrolling above it; without a terminal, milestone lines, each
// prefixed by the device's address. The one question is asked like every console
// question (y/N, --yes answers it); a summary table closes the batch.
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
  // live: out is a terminal. interrupted: the program's interrupt flag; when it is set the
  // batch is told to stop.
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
  void Milestone(const std::string& address, const std::string& text);
  void EraseBlock();

  std::FILE* out_;
  ConsoleHost questions_;
  bool live_;
  const std::atomic<bool>* interrupted_;
  bool stopAnnounced_ = false;
  std::vector<Seen> seen_;
  int blockLines_ = 0;          // live lines on the screen below the notices
  std::int64_t lastDrawMs_ = -1000;
};

// Columns in a terminal: East Asian wide characters take two, half-width katakana one.
std::size_t DisplayWidth(const std::string& utf8);
// text padded with spaces to width columns (never cut).
std::string PadTo(const std::string& text, std::size_t width);

}  // namespace ui
