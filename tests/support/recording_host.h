// A DialogHost that records every control change and notice in order and answers the
// questions from a script, and a Sleeper that records its pauses. Safe to drive from a
// worker thread while a test reads them.
#pragma once

#include <deque>
#include <iosfwd>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ui/dialog/dialog_host.h"
#include "ui/dialog/dialog_panel.h"
#include "panel/progress_state.h"
#include "platform/clock.h"

namespace testing_support {

struct Notice {
  std::string text;
  std::string caption;
  panel::NoticeStyle style = panel::NoticeStyle::Plain;
  bool question = false;
  bool operator==(const Notice&) const = default;
};

class RecordingHost : public ui::DialogHost {
 public:
  RecordingHost();

  void SetControlText(int id, const std::string& text) override;
  std::string GetControlText(int id, std::size_t maxChars) override;
  void EnableControl(int id, bool enable) override;
  void SetProgressRange(int high) override { Record("range", high, &panel::ProgressState::SetRange); }
  void SetProgressStep(int step) override { Record("step", step, &panel::ProgressState::SetStep); }
  void SetProgressPos(int pos) override { Record("pos", pos, &panel::ProgressState::SetPos); }
  void StepProgress() override;
  void ShowMessage(const std::string& text, const std::string& caption,
                   panel::NoticeStyle style) override;
  bool AskQuestion(const std::string& text, const std::string& caption) override;

  // Answers for the coming questions, in order; when they run out, No.
  void AnswerNext(bool yes);
  // Forgets what was recorded and the answers left (not the controls' state), for the next
  // run in one window.
  void Forget();

  // A run's events shown on this host, as every dialog shows them.
  ui::DialogPanel& Panel() { return panel_; }

  // What happened, in order.
  std::vector<Notice> Notices() const;           // notices and questions
  std::vector<std::string> Events() const;       // every call but StepProgress
  std::vector<std::string> StatusTexts() const;  // every ui::IDC_STATUS text set
  std::string Text(int id) const;
  bool Enabled(int id) const;
  panel::ProgressState Progress() const;
  int StepCount() const;

 private:
  void Record(const char* what, int value, void (panel::ProgressState::*apply)(int));

  mutable std::mutex mu_;
  std::map<int, std::string> texts_;
  std::map<int, bool> enabled_;
  panel::ProgressState progress_;
  int steps_ = 0;
  std::vector<Notice> notices_;
  std::vector<std::string> events_;
  std::deque<bool> answers_;
  ui::DialogPanel panel_{*this};
};

// Short names for the notice lists that tests compare against.
inline Notice Plain(const std::string& text, const std::string& caption) {
  return {text, caption, panel::NoticeStyle::Plain, false};
}
inline Notice Warning(const std::string& text, const std::string& caption) {
  return {text, caption, panel::NoticeStyle::Warning, false};
}
inline Notice Question(const std::string& text, const std::string& caption) {
  return {text, caption, panel::NoticeStyle::Plain, true};
}
void PrintTo(const Notice& n, std::ostream* os);

// A Sleeper that records every pause instead of taking it, so a whole update runs in a
// fraction of a second and the test still sees the exact schedule production uses.
class RecordingSleeper : public platform::Sleeper {
 public:
  void SleepMs(int ms) override {
    std::lock_guard lock(mu_);
    calls_.push_back(ms);
  }
  // Every pause, or only those of exactly ms milliseconds.
  std::vector<int> Calls(int ms = -1) const {
    std::lock_guard lock(mu_);
    std::vector<int> out;
    for (int c : calls_) {
      if (ms < 0 || c == ms) out.push_back(c);
    }
    return out;
  }
  void Forget() {
    std::lock_guard lock(mu_);
    calls_.clear();
  }

 private:
  mutable std::mutex mu_;
  std::vector<int> calls_;
};

}  // namespace testing_support
