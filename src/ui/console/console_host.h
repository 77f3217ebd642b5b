// ConsoleHost: the operator panel without a window. Control texts become lines on the
// terminal, the progress bar is drawn in place on a terminal (a few milestone lines
// otherwise), notices print caption and text and, on a terminal, wait for Enter; questions
// read y/N with No as the default.
//
// Thread notes: used from one thread (the console runs the update on its main thread).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

#include "ui/dialog/dialog_host.h"
#include "ui/dialog/dialog_panel.h"
#include "panel/progress_state.h"

namespace ui {

struct ConsoleOptions {
  bool answerYes = false;     // --yes: every question answered Yes
  bool interactive = false;   // stdin is a terminal: notices wait for Enter
  bool drawInPlace = false;   // stdout is a terminal: progress redrawn on one line
};

class ConsoleHost final : public ui::DialogHost {
 public:
  // Texts in the catalog's current language (panel::SetLanguage before this).
  ConsoleHost(std::FILE* in, std::FILE* out, ConsoleOptions options);

  void SetControlText(int id, const std::string& text) override;
  std::string GetControlText(int id, std::size_t maxChars) override;
  void EnableControl(int id, bool enable) override;
  void SetProgressRange(int high) override;
  void SetProgressStep(int step) override;
  void SetProgressPos(int pos) override;
  void StepProgress() override;
  void ShowMessage(const std::string& text, const std::string& caption,
                   panel::NoticeStyle style) override;
  bool AskQuestion(const std::string& text, const std::string& caption) override;

  // Fills a control before the run, without printing it (the boxes' starting texts).
  void Prefill(int id, const std::string& text) { texts_[id] = text; }

  // Reads one line from the input (without its line end); false at end of input.
  bool ReadLine(std::string* line);

  // Once this flag is set (an interrupt), notices no longer wait for Enter: the run is
  // stopping and its clean-up must not wait for the operator.
  void SetInterruptFlag(const std::atomic<bool>* interrupted) { interrupted_ = interrupted; }

 private:
  void RenderProgress(bool force);
  void EndProgressLine();
  void PrintLine(const std::string& text);

  std::FILE* in_;
  std::FILE* out_;
  ConsoleOptions options_;
  std::map<int, std::string> texts_;
  panel::ProgressState progress_;
  std::string counterPrefix_;   // the per-block counter's start, "<Writing> "
  std::string counterLabel_;    // the running "<Writing> N" status, shown on the bar
  bool barShown_ = false;       // an in-place bar line is on the screen
  std::int64_t runStartMs_ = 0; // when the current pass began (range reset)
  std::int64_t lastDrawMs_ = 0;
  int lastMilestone_ = -1;
  const std::atomic<bool>* interrupted_ = nullptr;
};

// The address box keeps at most this many characters, as the dialog's edit box does.
inline constexpr std::size_t kAddressBoxChars = kAddressMaxChars;

}  // namespace ui
