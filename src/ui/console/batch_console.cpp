#include "ui/console/batch_console.h"

#include <algorithm>

#include "panel/text_catalog.h"
#include "platform/clock.h"

namespace ui {
namespace {

using panel::Stage;

constexpr std::int64_t kRedrawMs = 100;

// A notice on one line: its line ends become spaces, trailing ones are dropped.
std::string OneLine(std::string text) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

char32_t Decode(const std::string& s, std::size_t* i) {
  const auto c = static_cast<unsigned char>(s[*i]);
  const int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
  char32_t cp = extra == 0 ? c : c & (0x3F >> extra);
  ++*i;
  for (int k = 0; k < extra && *i < s.size(); ++k, ++*i) {
    cp = cp << 6 | (static_cast<unsigned char>(s[*i]) & 0x3F);
  }
  return cp;
}

bool Wide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6);
}

std::string Version(const std::optional<int>& v) {
  return v ? std::to_string(*v) : "-";
}

}  // namespace

std::size_t DisplayWidth(const std::string& utf8) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < utf8.size();) width += Wide(Decode(utf8, &i)) ? 2 : 1;
  return width;
}

std::string PadTo(const std::string& text, std::size_t width) {
  const std::size_t w = DisplayWidth(text);
  return w >= width ? text : text + std::string(width - w, ' ');
}

BatchConsole::BatchConsole(std::FILE* in, std::FILE* out, ConsoleOptions options, bool live,
                           const std::atomic<bool>* interrupted)
    : out_(out), questions_(in, out, options), live_(live), interrupted_(interrupted) {}

std::string BatchConsole::LiveLine(const batch::DeviceView& v) const {
  std::string percent = "    ";
  if (v.stage == Stage::Writing || v.stage == Stage::Verifying) {
    char text[8];
    std::snprintf(text, sizeof text, "%3d%%", v.percent);
    percent = text;
  }
  std::string result;
  if (v.report) result = panel::Text(update::ResultText(v.report->result));
  return PadTo(v.address, 15) + "  " + PadTo(v.model.empty() ? "-" : v.model, 10) + "  " +
         PadTo(panel::Text(panel::StageText(v.stage)), 18) + " " + percent + "  " + result;
}

void BatchConsole::Milestone(const std::string& address, const std::string& text) {
  std::fprintf(out_, "[%s] %s\n", address.c_str(), text.c_str());
}

void BatchConsole::EraseBlock() {
  if (blockLines_ > 0) std::fprintf(out_, "\033[%dA\r\033[J", blockLines_);
  blockLines_ = 0;
}

void BatchConsole::Tick(batch::BatchRun& run) {
  if (interrupted_ && interrupted_->load() && !run.StopRequested()) {
    run.RequestStop();
  }
  const bool announce = run.StopRequested() && !stopAnnounced_;
  stopAnnounced_ = stopAnnounced_ || run.StopRequested();
  seen_.resize(run.Size());

  std::vector<std::string> lines;  // notices and milestones, above the live block
  if (announce) lines.push_back(panel::Text(panel::TextId::BatchStopping));
  bool allDone = true;
  std::vector<batch::DeviceView> views;
  for (std::size_t i = 0; i < run.Size(); ++i) {
    const batch::DeviceView v = run.View(i);
    Seen& seen = seen_[i];
    for (const report::NoticeRecord& n : run.NewNotices(i, seen.notices)) {
      std::string line = "[" + v.address + "] [" + n.caption + "] " + OneLine(n.text);
      if (n.question) line += n.answer ? " -> y" : " -> n";
      lines.push_back(line);
      ++seen.notices;
    }
    if (!live_ && !seen.done) {
      if (v.stage != seen.stage && v.stage != Stage::Done) {
        lines.push_back("[" + v.address + "] " + panel::Text(panel::StageText(v.stage)));
      }
      const int quarter = v.percent / 25;
      if ((v.stage == Stage::Writing || v.stage == Stage::Verifying) && quarter > seen.quarter) {
        lines.push_back("[" + v.address + "] " + panel::Text(panel::StageText(v.stage)) + " " +
                        std::to_string(v.percent) + "%");
      }
      if (v.stage != seen.stage) seen.quarter = 0;
      if (quarter > seen.quarter) seen.quarter = quarter;
      if (v.report) {
        std::string end =
            "[" + v.address + "] " + panel::Text(update::ResultText(v.report->result));
        if (!v.report->reason.empty()) end += ": " + v.report->reason;
        char secs[32];
        std::snprintf(secs, sizeof secs, " (%.1f s)", v.report->seconds);
        lines.push_back(end + secs);
      }
    }
    seen.stage = v.stage;
    seen.done = v.done;
    allDone = allDone && v.done;
    views.push_back(v);
  }

  if (!live_) {
    for (const std::string& line : lines) std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
    return;
  }
  const std::int64_t now = platform::MonotonicMs();
  if (lines.empty() && !allDone && now - lastDrawMs_ < kRedrawMs) return;
  lastDrawMs_ = now;
  EraseBlock();
  for (const std::string& line : lines) std::fprintf(out_, "%s\n", line.c_str());
  for (const batch::DeviceView& v : views) std::fprintf(out_, "%s\033[K\n", LiveLine(v).c_str());
  blockLines_ = static_cast<int>(views.size());
  std::fflush(out_);
}

bool BatchConsole::Confirm(batch::BatchRun& run, const batch::BatchQuestion& question) {
  // The live block stays where it is; the question and what follows go below it.
  blockLines_ = 0;
  const bool yes = questions_.AskQuestion(batch::QuestionText(question),
                                          panel::CaptionText(panel::Caption::Confirm));
  // Ctrl-C ends the question's read as if the input had ended: that is an interrupt for
  // every device, not the operator's No.
  if (interrupted_ && interrupted_->load()) run.RequestStop();
  return yes;
}

void BatchConsole::PrintSummary(const std::vector<report::DeviceReport>& reports) {
  using panel::Text;
  using panel::TextId;
  std::fprintf(
      out_, "\n%s  %s  %s  %s  %s  %s  %s\n", PadTo(Text(TextId::ColumnAddress), 15).c_str(),
      PadTo("MAC", 17).c_str(), PadTo(Text(TextId::ColumnModel), 10).c_str(),
      PadTo(Text(TextId::ColumnVersion), 12).c_str(), PadTo(Text(TextId::ColumnResult), 10).c_str(),
      PadTo(Text(TextId::ColumnSeconds), 6).c_str(), Text(TextId::ColumnReason));
  int updated = 0, failed = 0, declined = 0;
  for (const report::DeviceReport& r : reports) {
    updated += r.result == update::Result::Updated;
    failed += r.result == update::Result::Failed;
    declined += r.result == update::Result::Declined;
    char secs[16];
    std::snprintf(secs, sizeof secs, "%.1f", r.seconds);
    std::fprintf(out_, "%s  %s  %s  %s  %s  %s  %s\n", PadTo(r.address, 15).c_str(),
                 PadTo(r.mac.value_or("-"), 17).c_str(), PadTo(r.model.value_or("-"), 10).c_str(),
                 PadTo(Version(r.versionBefore) + " -> " + Version(r.versionAfter), 12).c_str(),
                 PadTo(panel::Text(update::ResultText(r.result)), 10).c_str(), PadTo(secs, 6).c_str(),
                 OneLine(r.reason).c_str());
  }
  std::fprintf(
      out_, "%s\n",
      panel::FormatText(TextId::SummaryCounts,
                        {std::to_string(updated), std::to_string(failed), std::to_string(declined)})
          .c_str());
  std::fflush(out_);
}

}  // namespace ui
