#include "ui/console/console_host.h"

#include <algorithm>
#include <cinttypes>

#include "panel/text_catalog.h"
#include "platform/clock.h"

namespace ui {
namespace {

constexpr int kBarWidth = 30;
constexpr std::int64_t kBarRedrawMs = 100;

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
      // The per-block counter is what the bar shows already, not 1,855 lines.
      if (StartsWith(text, counterPrefix_)) {
        RenderProgress(false);
      } else if (text == panel::Text(panel::TextId::InitialStatus)) {
        // The standing status closes the run's output, after its result (EndRun).
      } else {
        if (text == panel::Text(panel::TextId::Writing)) {
          writeStartMs_ = platform::MonotonicMs();
          passStartMs_ = writeStartMs_;
        }
        // A status that repeats the line before it ("Write complete" after its notice,
        // "Processing..." twice) is not printed again.
        if (text != lastShown_) PrintLine(text);
        lastShown_ = text;
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

void ConsoleHost::EndRun(const std::string& resultLine) {
  PrintLine(resultLine);
  PrintLine(panel::Text(panel::TextId::InitialStatus));
}

std::string ConsoleHost::GetControlText(int id, std::size_t maxChars) {
  return LimitChars(texts_[id], maxChars);
}

void ConsoleHost::EnableControl(int, bool) {}

void ConsoleHost::SetProgressRange(int high) {
  progress_.SetRange(high);
  passStartMs_ = platform::MonotonicMs();
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
    // Without a terminal: a line at every quarter done, never one per step.
    const int milestone = percent / 25;
    if (milestone > lastMilestone_ && milestone > 0) {
      lastMilestone_ = milestone;
      std::fprintf(out_, "%3d%% %d/%d\n", percent, progress_.pos, progress_.high);
      std::fflush(out_);
    }
    return;
  }
  if (!force && now - lastDrawMs_ < kBarRedrawMs) return;
  lastDrawMs_ = now;

  char bar[kBarWidth + 1];
  const int filled = kBarWidth * percent / 100;
  for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kBarWidth] = 0;
  char times[64] = "";
  if (writeStartMs_ >= 0) {
    const double elapsed = static_cast<double>(now - writeStartMs_) / 1000.0;
    const double pass = static_cast<double>(now - std::max(passStartMs_, writeStartMs_)) / 1000.0;
    int n = std::snprintf(times, sizeof times, "  %.1f s", elapsed);
    // An estimate only once enough of the pass has run for the rate to be steady.
    if (percent >= 5 && percent < 100 && progress_.pos > 0) {
      std::snprintf(times + n, sizeof times - static_cast<std::size_t>(n), "  ETA %.1f s",
                    pass * (progress_.high - progress_.pos) / progress_.pos);
    }
  }
  std::fprintf(out_, "\r[%s] %3d%% %5d/%d%s\033[K", bar, percent, progress_.pos, progress_.high,
               times);
  std::fflush(out_);
  barShown_ = true;
}

void ConsoleHost::EndProgressLine() {
  if (barShown_) {
    std::fputc('\n', out_);
    barShown_ = false;
  }
}

// The caption says what kind of notice it is ("[Error]", "[Caution]"), as the dialog's does.
void ConsoleHost::ShowMessage(const std::string& text, const std::string& caption,
                              panel::NoticeStyle) {
  PrintLine("[" + caption + "] " + text);
  lastShown_ = text.substr(0, text.find_last_not_of('\n') + 1);
  // With --yes nobody is there to press Enter, and a stopping run must not wait for one.
  if (options_.interactive && !options_.answerYes && !(interrupted_ && interrupted_->load())) {
    std::fprintf(out_, "%s ", panel::Text(panel::TextId::PressEnter));
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
    std::fprintf(out_, "%s\n", panel::Text(panel::TextId::AnswerEndOfInput));
    std::fflush(out_);
    return false;
  }
  // A terminal shows what was typed; an answer from a pipe is shown here.
  if (!options_.interactive) std::fprintf(out_, "%s\n", line.c_str());
  std::fflush(out_);
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
