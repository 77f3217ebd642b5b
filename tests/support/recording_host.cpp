#include "support/recording_host.h"

#include <ostream>

namespace testing_support {

RecordingHost::RecordingHost() {
  for (int id : {ui::IDC_ADDRESS, ui::IDC_PORT, ui::ID_CONNECT, ui::ID_EXIT}) enabled_[id] = true;
}

void RecordingHost::SetControlText(int id, const std::string& text) {
  std::lock_guard lock(mu_);
  texts_[id] = text;
  events_.push_back("text " + std::to_string(id) + " " + text);
}

std::string RecordingHost::GetControlText(int id, std::size_t maxChars) {
  std::lock_guard lock(mu_);
  const std::string& t = texts_[id];
  // Count UTF-8 characters, not bytes, the way an edit box counts.
  std::size_t chars = 0, i = 0;
  while (i < t.size() && chars++ < maxChars) {
    const unsigned char c = static_cast<unsigned char>(t[i]);
    i += c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
  }
  return t.substr(0, i);
}

void RecordingHost::EnableControl(int id, bool enable) {
  std::lock_guard lock(mu_);
  enabled_[id] = enable;
  events_.push_back("enable " + std::to_string(id) + (enable ? " 1" : " 0"));
}

void RecordingHost::Record(const char* what, int value, void (panel::ProgressState::*apply)(int)) {
  std::lock_guard lock(mu_);
  (progress_.*apply)(value);
  events_.push_back(std::string(what) + " " + std::to_string(value));
}

void RecordingHost::StepProgress() {
  std::lock_guard lock(mu_);
  progress_.Step();
  ++steps_;
}

void RecordingHost::ShowMessage(const std::string& text, const std::string& caption,
                                panel::NoticeStyle style) {
  std::lock_guard lock(mu_);
  notices_.push_back(Notice{text, caption, style, false});
  events_.push_back("notice " + caption + "|" + text);
}

bool RecordingHost::AskQuestion(const std::string& text, const std::string& caption) {
  std::lock_guard lock(mu_);
  notices_.push_back(Question(text, caption));
  const bool yes = !answers_.empty() && answers_.front();
  if (!answers_.empty()) answers_.pop_front();
  events_.push_back("ask " + caption + "|" + text + (yes ? " -> yes" : " -> no"));
  return yes;
}

void RecordingHost::AnswerNext(bool yes) {
  std::lock_guard lock(mu_);
  answers_.push_back(yes);
}

void RecordingHost::Forget() {
  std::lock_guard lock(mu_);
  notices_.clear();
  events_.clear();
  answers_.clear();
  steps_ = 0;
}

std::vector<Notice> RecordingHost::Notices() const {
  std::lock_guard lock(mu_);
  return notices_;
}

std::vector<std::string> RecordingHost::Events() const {
  std::lock_guard lock(mu_);
  return events_;
}

std::vector<std::string> RecordingHost::StatusTexts() const {
  std::lock_guard lock(mu_);
  std::vector<std::string> out;
  const std::string prefix = "text " + std::to_string(ui::IDC_STATUS) + " ";
  for (const auto& e : events_) {
    if (e.rfind(prefix, 0) == 0) out.push_back(e.substr(prefix.size()));
  }
  return out;
}

std::string RecordingHost::Text(int id) const {
  std::lock_guard lock(mu_);
  auto it = texts_.find(id);
  return it == texts_.end() ? std::string() : it->second;
}

bool RecordingHost::Enabled(int id) const {
  std::lock_guard lock(mu_);
  auto it = enabled_.find(id);
  return it != enabled_.end() && it->second;
}

panel::ProgressState RecordingHost::Progress() const {
  std::lock_guard lock(mu_);
  return progress_;
}

int RecordingHost::StepCount() const {
  std::lock_guard lock(mu_);
  return steps_;
}

void PrintTo(const Notice& n, std::ostream* os) {
  static const char* const kStyles[] = {"plain", "warning", "error"};
  *os << (n.question ? "question" : kStyles[static_cast<int>(n.style)]) << " [" << n.caption
      << "] \"" << n.text << "\"";
}

}  // namespace testing_support
