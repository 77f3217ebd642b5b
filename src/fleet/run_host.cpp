#include "fleet/run_host.h"

#include "panel/operator_panel.h"

namespace fleet {

// The front end is called outside the lock: its notices and questions block until the
// operator answers, and a live view must still be able to read the record meanwhile.

void RunHost::SetControlText(int id, const std::string& text) {
  {
    std::lock_guard lock(mu_);
    texts_[id] = text;
  }
  if (frontEnd_) frontEnd_->SetControlText(id, text);
}

std::string RunHost::GetControlText(int id, std::size_t maxChars) {
  if (frontEnd_) return frontEnd_->GetControlText(id, maxChars);
  std::lock_guard lock(mu_);
  return panel::LimitChars(texts_[id], maxChars);
}

void RunHost::EnableControl(int id, bool enable) {
  if (frontEnd_) frontEnd_->EnableControl(id, enable);
}

void RunHost::SetProgressRange(int high) {
  {
    std::lock_guard lock(mu_);
    progress_.SetRange(high);
  }
  if (frontEnd_) frontEnd_->SetProgressRange(high);
}

void RunHost::SetProgressStep(int step) {
  {
    std::lock_guard lock(mu_);
    progress_.SetStep(step);
  }
  if (frontEnd_) frontEnd_->SetProgressStep(step);
}

void RunHost::SetProgressPos(int pos) {
  {
    std::lock_guard lock(mu_);
    progress_.SetPos(pos);
  }
  if (frontEnd_) frontEnd_->SetProgressPos(pos);
}

void RunHost::StepProgress() {
  {
    std::lock_guard lock(mu_);
    progress_.Step();
  }
  if (frontEnd_) frontEnd_->StepProgress();
}

void RunHost::ShowMessage(const std::string& text, const std::string& caption,
                          panel::NoticeStyle style) {
  {
    std::lock_guard lock(mu_);
    notices_.push_back({caption, text});
  }
  if (frontEnd_) frontEnd_->ShowMessage(text, caption, style);
}

bool RunHost::AskQuestion(const std::string& text, const std::string& caption) {
  bool yes = false;
  if (frontEnd_) {
    yes = frontEnd_->AskQuestion(text, caption);
  } else {
    std::lock_guard lock(mu_);
    yes = questionAnswer_;
  }
  std::lock_guard lock(mu_);
  notices_.push_back({caption, text, true, yes});
  return yes;
}

void RunHost::Prefill(int id, const std::string& text) {
  std::lock_guard lock(mu_);
  texts_[id] = text;
}

void RunHost::SetQuestionAnswer(bool yes) {
  std::lock_guard lock(mu_);
  questionAnswer_ = yes;
}

void RunHost::NewRecord() {
  std::lock_guard lock(mu_);
  notices_.clear();
  progress_ = panel::ProgressState{};
}

std::vector<NoticeRecord> RunHost::Notices() const {
  std::lock_guard lock(mu_);
  return notices_;
}

std::size_t RunHost::NoticeCount() const {
  std::lock_guard lock(mu_);
  return notices_.size();
}

// The port box's limit is the largest any box has; a front end sizes its buffer by it.
std::string RunHost::Text(int id) {
  return GetControlText(id, 255);
}

int RunHost::Percent() const {
  std::lock_guard lock(mu_);
  if (progress_.high <= 0) return 0;
  return static_cast<int>(100LL * progress_.pos / progress_.high);
}

}  // namespace fleet
