// RunHost: the DialogHost of one device's run that also keeps the record a report is made
// of: every notice and question (caption, text, answer) in order, the status line and the
// progress. Read from any thread while the run goes on.
//
// With a front end's own host behind it (one device in the console or a dialog), every
// call goes on to that host, which shows it and answers the questions: the run is
// exactly today's. Without one (a device of a batch), nothing is shown and nothing blocks:
// notices are only recorded, and a question the run raises itself takes the batch's
// answer (the confirmation before the writing does not come here in a batch).
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "panel/dialog_host.h"
#include "panel/progress_state.h"

namespace fleet {

struct NoticeRecord {
  std::string caption;
  std::string text;
  bool question = false;
  bool answer = false;  // questions only
};

class RunHost final : public panel::DialogHost {
 public:
  explicit RunHost(panel::DialogHost* frontEnd = nullptr) : frontEnd_(frontEnd) {}

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

  // Without a front end: fills a box before the run.
  void Prefill(int id, const std::string& text);
  // Without a front end: the answer to the questions a run raises itself (the port question).
  void SetQuestionAnswer(bool yes);
  // Forgets the notices of an earlier run (one host serves many runs in a dialog).
  void NewRecord();

  std::vector<NoticeRecord> Notices() const;
  std::size_t NoticeCount() const;
  // A control's text as the run last set it (or the front end holds it).
  std::string Text(int id);
  // 0..100 along the progress bar's current range.
  int Percent() const;

 private:
  panel::DialogHost* const frontEnd_;
  mutable std::mutex mu_;
  std::map<int, std::string> texts_;
  panel::ProgressState progress_;
  std::vector<NoticeRecord> notices_;
  bool questionAnswer_ = true;
};

}  // namespace fleet
