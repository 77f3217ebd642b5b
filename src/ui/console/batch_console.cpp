#include "ui/console/batch_console.h"

#include <algorithm>

#include "panel/text_catalog.h"
#include "platform/clock.h"
#include "ui/console/console_text.h"

namespace ui {
namespace {

using panel::Stage;

constexpr std::int64_t kLiveRedrawMs = 100;
// The live block's height when the terminal's is not known: small enough for any terminal
// an operator works in.
constexpr std::size_t kUnknownRoom = 10;

// The order of the live block: devices at work, then those waiting for the answer, then
// those whose turn has not come.
int Rank(Stage stage) {
  return stage == Stage::Queued ? 2 : stage == Stage::Awaiting ? 1 : 0;
}

}  // namespace

BatchConsole::BatchConsole(std::FILE* in, std::FILE* out, ConsoleOptions options, bool live,
                           const std::atomic<bool>* interrupted)
    : out_(out),
      questions_(in, out, options),
      options_(options),
      live_(live),
      interrupted_(interrupted) {}

std::string BatchConsole::LiveLine(const batch::DeviceView& v) const {
  // Once the question is answered, a device still at it waits for its turn to write.
  const Stage stage = v.stage == Stage::Awaiting && !asked_.empty() ? Stage::Queued : v.stage;
  std::string percent = "    ";
  if (v.stage == Stage::Writing || v.stage == Stage::Verifying) {
    char text[8];
    std::snprintf(text, sizeof text, "%3d%%", v.percent);
    percent = text;
  }
  return PadTo(v.address, 15) + "  " + PadTo(v.model.empty() ? "-" : v.model, 10) + "  " +
         PadTo(panel::Text(panel::StageText(stage)), 19) + " " + percent;
}

void BatchConsole::EraseBlock() {
  if (blockLines_ > 0) std::fprintf(out_, "\033[%dA\r\033[J", blockLines_);
  blockLines_ = 0;
}

// The devices still running, as many as fit: the cursor goes back up over the block at the
// next redraw, which it cannot do past the top of the screen, and a line wider than the
// terminal would wrap into two.
void BatchConsole::DrawBlock(const std::vector<batch::DeviceView>& views) {
  std::vector<const batch::DeviceView*> running;
  for (const batch::DeviceView& v : views) {
    if (!v.done) running.push_back(&v);
  }
  std::stable_sort(running.begin(), running.end(),
                   [](const auto* a, const auto* b) { return Rank(a->stage) < Rank(b->stage); });
  const std::size_t rows = options_.rows, columns = options_.columns;
  const std::size_t room = rows == 0 ? kUnknownRoom : std::max<std::size_t>(rows, 3) - 1;
  const std::size_t shown = running.size() <= room ? running.size() : room - 1;
  const std::size_t width = (columns == 0 ? 80 : std::max<std::size_t>(columns, 20)) - 1;
  for (std::size_t i = 0; i < shown; ++i) {
    std::fprintf(out_, "%s\033[K\n", CutTo(LiveLine(*running[i]), width).c_str());
  }
  std::size_t lines = shown;
  if (shown < running.size()) {
    const std::size_t rest = running.size() - shown;
    const auto more =
        rest == 1 ? panel::TextId::BatchMoreDevicesOne : panel::TextId::BatchMoreDevices;
    std::fprintf(out_, "%s\033[K\n",
                 CutTo(panel::FormatText(more, {std::to_string(rest)}), width).c_str());
    ++lines;
  }
  blockLines_ = static_cast<int>(lines);
}

void BatchConsole::Tick(batch::BatchRun& run) {
  if (interrupted_ && interrupted_->load() && !run.StopRequested()) {
    run.RequestStop();
  }
  const bool announce = run.StopRequested() && !stopAnnounced_;
  stopAnnounced_ = stopAnnounced_ || run.StopRequested();
  seen_.resize(run.Size());

  std::vector<std::string> lines;  // notices, milestones and finished devices: above the block
  if (announce) lines.push_back(panel::Text(panel::TextId::BatchStopping));
  bool allDone = true;
  std::vector<batch::DeviceView> views;
  const std::string writeComplete = OneLine(panel::Text(panel::TextId::WriteComplete));
  for (std::size_t i = 0; i < run.Size(); ++i) {
    const batch::DeviceView v = run.View(i);
    Seen& seen = seen_[i];
    const std::string prefix = "[" + v.address + "] ";
    for (const report::NoticeRecord& n : run.NewNotices(i, seen.notices)) {
      ++seen.notices;
      // The question was asked once for all, above; "Write complete" is what the device's
      // finished line says.
      if ((n.question && n.text == asked_) || OneLine(n.text) == writeComplete) continue;
      std::string line = prefix + "[" + n.caption + "] " + OneLine(n.text);
      if (n.question) line += n.answer ? " -> y" : " -> n";
      lines.push_back(line);
    }
    if (!live_ && !seen.done) {
      if (v.stage != seen.stage && v.stage != Stage::Done) {
        lines.push_back(prefix + panel::Text(panel::StageText(v.stage)));
      }
      const int quarter = v.percent / 25;
      if ((v.stage == Stage::Writing || v.stage == Stage::Verifying) && quarter > seen.quarter) {
        lines.push_back(prefix + panel::Text(panel::StageText(v.stage)) + " " +
                        std::to_string(v.percent) + "%");
      }
      if (v.stage != seen.stage) seen.quarter = 0;
      if (quarter > seen.quarter) seen.quarter = quarter;
    }
    if (v.report && !seen.done) lines.push_back(DeviceEndLine(*v.report));
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
  if (lines.empty() && !allDone && now - lastDrawMs_ < kLiveRedrawMs) return;
  lastDrawMs_ = now;
  EraseBlock();
  for (const std::string& line : lines) std::fprintf(out_, "%s\n", line.c_str());
  DrawBlock(views);
  std::fflush(out_);
}

bool BatchConsole::Confirm(batch::BatchRun& run, const batch::BatchQuestion& question) {
  // The question lists every device: it replaces the live block, which comes back below
  // it once the writing begins.
  Tick(run);
  EraseBlock();
  asked_ = batch::QuestionText(question);
  const bool yes = questions_.AskQuestion(asked_, panel::CaptionText(panel::Caption::Confirm));
  // Ctrl-C ends the question's read as if the input had ended: that is an interrupt for
  // every device, not the operator's No.
  if (interrupted_ && interrupted_->load()) run.RequestStop();
  return yes;
}

void BatchConsole::PrintSummary(const std::vector<report::DeviceReport>& reports) {
  using panel::Text;
  using panel::TextId;
  std::vector<std::vector<std::string>> rows = {
      {Text(TextId::ColumnAddress), Text(TextId::ColumnMac), Text(TextId::ColumnModel),
       Text(TextId::ColumnVersion), Text(TextId::ColumnResult), Text(TextId::ColumnSeconds),
       Text(TextId::ColumnReason)}};
  const auto version = [](const std::optional<int>& v) { return v ? std::to_string(*v) : "-"; };
  for (const report::DeviceReport& r : reports) {
    char secs[16];
    std::snprintf(secs, sizeof secs, "%.1f", r.seconds);
    rows.push_back({r.address, r.mac.value_or("-"), r.model.value_or("-"),
                    version(r.versionBefore) + " -> " + version(r.versionAfter),
                    Text(update::ResultText(r.result)), secs, OneLine(r.reason)});
  }
  std::fprintf(out_, "\n%s%s\n", Table(rows).c_str(), report::SummaryText(reports).c_str());
  std::fflush(out_);
}

}  // namespace ui
