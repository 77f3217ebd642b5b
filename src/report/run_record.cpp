#include "report/run_record.h"

#include <type_traits>

namespace report {

// The front end is called outside the lock: its notices and questions block until the
// operator answers, and a live view must still be able to read the record meanwhile.

void RunRecord::OnEvent(const panel::Event& event) {
  {
    std::lock_guard lock(mu_);
    std::visit(
        [this](const auto& e) {
          using E = std::decay_t<decltype(e)>;
          if constexpr (std::is_same_v<E, panel::StageChanged>) {
            stage_ = e.stage;
          } else if constexpr (std::is_same_v<E, panel::ProgressReset>) {
            progress_.SetRange(e.total);
            progress_.SetStep(e.step);
            progress_.SetPos(0);
          } else if constexpr (std::is_same_v<E, panel::ProgressStepped>) {
            progress_.Step();
          } else if constexpr (std::is_same_v<E, panel::ProgressSet>) {
            progress_.SetPos(e.pos);
          } else if constexpr (std::is_same_v<E, panel::IdentityShown>) {
            identity_ = e.identity;
          } else if constexpr (std::is_same_v<E, panel::NoticeRaised>) {
            notices_.push_back({panel::CaptionText(e.caption), panel::Render(e.message)});
          }
        },
        event);
  }
  if (frontEnd_) frontEnd_->OnEvent(event);
}

bool RunRecord::OnQuestion(const panel::Question& question) {
  const bool yes = frontEnd_ ? frontEnd_->OnQuestion(question)
                             : question.message.id == panel::TextId::PortQuestion;
  RecordQuestion(panel::Render(question.message), panel::CaptionText(question.caption), yes);
  return yes;
}

void RunRecord::AddNotice(const NoticeRecord& notice) {
  std::lock_guard lock(mu_);
  notices_.push_back(notice);
}

void RunRecord::RecordQuestion(const std::string& text, const std::string& caption, bool answer) {
  std::lock_guard lock(mu_);
  notices_.push_back({caption, text, true, answer});
}

void RunRecord::NewRecord() {
  std::lock_guard lock(mu_);
  notices_.clear();
  progress_ = panel::ProgressState{};
  identity_.reset();
  stage_ = panel::Stage::Queued;
}

void RunRecord::SetStage(panel::Stage stage) {
  std::lock_guard lock(mu_);
  stage_ = stage;
}

std::vector<NoticeRecord> RunRecord::Notices() const {
  std::lock_guard lock(mu_);
  return notices_;
}

std::size_t RunRecord::NoticeCount() const {
  std::lock_guard lock(mu_);
  return notices_.size();
}

std::vector<NoticeRecord> RunRecord::NoticesFrom(std::size_t first) const {
  std::lock_guard lock(mu_);
  if (first >= notices_.size()) return {};
  return {notices_.begin() + static_cast<std::ptrdiff_t>(first), notices_.end()};
}

panel::Stage RunRecord::Stage() const {
  std::lock_guard lock(mu_);
  return stage_;
}

int RunRecord::Percent() const {
  std::lock_guard lock(mu_);
  if (progress_.high <= 0) return 0;
  return static_cast<int>(100LL * progress_.pos / progress_.high);
}

std::optional<device::DeviceIdentity> RunRecord::Identity() const {
  std::lock_guard lock(mu_);
  return identity_;
}

}  // namespace report
