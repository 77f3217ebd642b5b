#include "ui/console/console_host.h"

#include <algorithm>
#include <cinttypes>

#include "panel/text_catalog.h"
#include "platform/clock.h"

namespace ui {
namespace {

constexpr int kBarWidth = 30;
constexpr std::int64_t kRedrawMs = 100;

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.rfind(prefix, 0) == 0;
}

}  // namespace

ConsoleHost::ConsoleHost(std::FILE* in, std::FILE* out, ConsoleOptions options)
    : in_(in),
      out_(out),
      options_(options),
      counterPrefix_(std::string(panel::Text(panel::TextId::Writing)) + " ") {}

void ConsoleHost::PrintLine(const std::string& text) {
  EndProgressLine();
  std::fputs(text.c_str(), out_);
  if (text.empty() || text.back() != '\n') std::fputc('\n', out_);
  std::fflush(out_);
}

void ConsoleHost::SetControlText(int id, const std::string& text) {
  texts_[id] = text;
  switch (id) {
    case ui::IDC_STATUS:
      // The per-block counter rides on the progress bar instead of 1,855 lines.
      if (StartsWith(text, counterPrefix_)) {
        counterLabel_ = text;
        RenderProgress(false);
      } else {
        counterLabel_.clear();
        PrintLine(text);
      }
      break;
    case ui::IDC_MODEL:
    case ui::IDC_VERSION:
      if (!text.empty()) PrintLine(text);
      break;
    case ui::IDC_PORT:
      PrintLine(std::string(panel::Text(panel::TextId::PortLabel)) + ": " + text);
      break;
    default:
      break;
  }
}

std::string ConsoleHost::GetControlText(int id, std::size_t maxChars) {
  return LimitChars(texts_[id], maxChars);
}

void ConsoleHost::EnableControl(int, bool) {}

void ConsoleHost::SetProgressRange(int high) {
  progress_.SetRange(high);
  runStartMs_ = platform::MonotonicMs();
  lastMilestone_ = -1;
}

void ConsoleHost::SetProgressStep(int step) { progress_.SetStep(step); }

void ConsoleHost::SetProgressPos(int pos) {
  progress_.SetPos(pos);
  if (pos == 0) EndProgressLine();
}

void ConsoleHost::StepProgress() {
  progress_.Step();
  RenderProgress(progress_.pos >= progress_.high);
}

void ConsoleHost::RenderProgress(bool force) {
  if (progress_.high <= 0) return;
  const int percent = static_cast<int>(100LL * progress_.pos / progress_.high);
  const std::int64_t now = platform::MonotonicMs();

  if (!options_.drawInPlace) {
    // Without a terminal: a line at every quarter, never one per step.
    const int milestone = percent / 25;
    if (milestone > lastMilestone_ && progress_.pos > 0) {
      lastMilestone_ = milestone;
      std::fprintf(out_, "%3d%% %d/%d\n", percent, progress_.pos, progress_.high);
      std::fflush(out_);
    }
    return;
  }
  if (!force && now - lastDrawMs_ < kRedrawMs) return;
  lastDrawMs_ = now;

  char bar[kBarWidth + 1];
  const int filled = kBarWidth * percent / 100;
  for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kBarWidth] = 0;
  const double elapsed = static_cast<double>(now - runStartMs_) / 1000.0;
  char eta[32] = "";
  // An estimate only once enough of the pass has run for the rate to be steady.
  if (percent >= 5 && percent < 100 && progress_.pos > 0) {
    const double left = elapsed * (progress_.high - progress_.pos) / progress_.pos;
    std::snprintf(eta, sizeof eta, "  ETA %.1fs", left);
  }
  std::fprintf(out_, "\r[%s] %3d%% %5d/%d  %.1fs%s  %s\033[K", bar, percent, progress_.pos,
               progress_.high, elapsed, eta, counterLabel_.c_str());
  std::fflush(out_);
  barShown_ = true;
}

void ConsoleHost::EndProgressLine() {
  if (barShown_) {
    std::fputc('\n', out_);
    barShown_ = false;
  }
}

void ConsoleHost::ShowMessage(const std::string& text, const std::string& caption,
                              panel::NoticeStyle style) {
  const char* mark = style == panel::NoticeStyle::Error ? "!! " : style == panel::NoticeStyle::Warning ? "! " : "";
  PrintLine(std::string(mark) + "[" + caption + "] " + text);
  if (options_.interactive && !(interrupted_ && interrupted_->load())) {
    std::fputs("(Enter) ", out_);
    std::fflush(out_);
    std::string ignored;
    ReadLine(&ignored);
  }
}

bool ConsoleHost::AskQuestion(const std::string& text, const std::string& caption) {
  PrintLine("[" + caption + "] " + text);
  std::fputs("[y/N] ", out_);
  if (options_.answerYes) {
    std::fputs("y (--yes)\n", out_);
    std::fflush(out_);
    return true;
  }
  std::fflush(out_);
  std::string line;
  if (!ReadLine(&line)) {
    std::fputc('\n', out_);
    return false;
  }
  return line == "y" || line == "Y" || line == "yes" || line == "Yes" || line == "YES";
}

bool ConsoleHost::ReadLine(std::string* line) {
  line->clear();
  if (!in_) return false;
  int c;
  bool any = false;
  while ((c = std::fgetc(in_)) != EOF) {
    any = true;
    if (c == '\n') break;
    if (c != '\r') line->push_back(static_cast<char>(c));
  }
  return any;
}

}  // namespace ui
