// ConsoleHost: the operator panel without a window. Control texts become lines on the
// terminal, the progress bar is drawn in place on a terminal (a few milestone lines
// otherwise), notices print caption and text and, on a terminal and without --yes, wait
// for Enter; questions read y/N with No as the default. The dialog's standing status ("switch
// the device off and on") is held back and printed last, after the run's result line.
//
// Thread notes: used from one thread (the console runs the update on its main thread).
#pragma once

#include <atomic>
#include <cstddef>
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
  bool interactive = false;   // stdin is a terminal: notices wait for Enter (not with --yes)
  bool drawInPlace = false;   // stdout is a terminal: progress redrawn on one line
  // The terminal's size, for what is drawn in place (a batch's live view, --help); 0 when
  // it is not known.
  std::size_t rows = 0;
  std::size_t columns = 0;
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

  // The run's last lines: how it ended, then the standing status the run left.
  void EndRun(const std::string& resultLine);

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
  std::string counterPrefix_;    // the per-block counter's start, "<Writing> "
  std::string lastShown_;        // the last status or notice text shown, trimmed
  bool barShown_ = false;        // an in-place bar line is on the screen
  // The clock of the bar starts with the writing (the status turning to "Writing..."), so
  // that the XPort's restart and the operator's answer are not in the time and ETA.
  std::int64_t writeStartMs_ = -1;
  std::int64_t passStartMs_ = 0;  // when the current pass began (the writing, a range reset)
  std::int64_t lastDrawMs_ = 0;
  int lastMilestone_ = -1;
  const std::atomic<bool>* interrupted_ = nullptr;
};

// The address box keeps at most this many characters, as the dialog's edit box does.
inline constexpr std::size_t kAddressBoxChars = kAddressMaxChars;

}  // namespace ui
