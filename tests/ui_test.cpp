// The operator panel's display operations, the dialog's title and placement, and the console
// front end's rendering of them.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "support/recording_host.h"
#include "panel/text_catalog.h"
#include "ui/console/console_host.h"
#include "ui/console/console_text.h"
#include "ui/dialog/dialog_panel.h"
#include "panel/panel_texts.h"
#include "panel/progress_state.h"

namespace {

using testing_support::RecordingHost;

TEST(DialogPanel, IdentityInputsAndProgress) {
  const struct {
    int model, version;
    const char *modelLine, *versionLine;
  } cases[] = {{0x60, 1234, "Model:KT-21", "Ver:1234"}, {0x80, 5, "Model:KT-40D(-W)", "Ver:   5"},
               {0xA0, 12345, "Model:KT-52W", "Ver:12345"}, {0x40, 77, "KT-?", ""}};
  for (const auto& c : cases) {
    RecordingHost host;
    host.Panel().ShowIdentity({c.model, 0, static_cast<std::uint16_t>(c.version)});
    EXPECT_EQ(host.Events(), (std::vector<std::string>{std::string("text 1006 ") + c.modelLine,
                                                       std::string("text 1007 ") + c.versionLine}));
  }
  RecordingHost host;
  ui::DialogPanel& panel = host.Panel();
  panel.EnableInputs(false);
  EXPECT_EQ(host.Events(), (std::vector<std::string>{"enable 1000 0", "enable 1001 0",
                                                     "enable 1 0", "enable 2 0"}));
  // 1,855 steps of 8 fill the writing pass exactly; one more starts again from 0.
  panel.ResetProgress(14840, 8);
  for (int i = 0; i < 1855; ++i) panel.OnEvent(panel::ProgressStepped{});
  EXPECT_EQ(host.Progress().pos, 14840);
  panel.OnEvent(panel::ProgressStepped{});
  EXPECT_EQ(host.Progress().pos, 0);
  panel::ProgressState p;  // the range is an unsigned 16-bit value
  p.SetRange(70000);
  EXPECT_EQ(p.high, 70000 - 65536);
}

TEST(PanelTexts, TitleAndPlacement) {
  // The revision only when it is not 0; minor and build side by side, unpadded.
  EXPECT_EQ(panel::FormatTitle(1, 0, 2, 0), "DERURUZUD Ver1.02");
  EXPECT_EQ(panel::FormatTitle(1, 0, 2, 3), "DERURUZUD Ver1.02.3");
  EXPECT_EQ(panel::FormatTitle(2, 1, 10, 0), "DERURUZUD Ver2.110");
  panel::FileVersion v;
  ASSERT_TRUE(panel::ReadOwnFileVersion(v));
  EXPECT_EQ(panel::FormatTitle(v.major, v.minor, v.build, v.revision), "DERURUZUD Ver1.02");
  // Centred on the desktop's right and bottom edges, halves truncated toward zero.
  EXPECT_EQ(panel::CentreWindow(1024, 768, 331, 201), (panel::ScreenPoint{346, 283}));
  EXPECT_EQ(panel::CentreWindow(1024, 768, 1027, 771), (panel::ScreenPoint{-1, -1}));
}

// A ConsoleHost over temporary files standing for the terminal.
struct Console {
  explicit Console(const std::string& input, ui::ConsoleOptions options = {})
      : in(std::tmpfile()), out(std::tmpfile()), host(in, out, options) {
    std::fputs(input.c_str(), in);
    std::rewind(in);
  }
  ~Console() { std::fclose(in), std::fclose(out); }
  std::string Output() {
    std::string s(static_cast<std::size_t>(std::ftell(out)), '\0');
    std::rewind(out);
    s.resize(std::fread(s.data(), 1, s.size(), out));
    return s;
  }
  std::FILE *in, *out;
  ui::ConsoleHost host;
};

TEST(ConsoleHost, QuestionsDefaultToNoAndNoticesWaitOnlyForAnOperator) {
  for (auto [input, yes, shown] : {std::tuple{"y\n", true, "y"}, {"Y\r\n", true, "Y"},
                                   {"yes\n", true, "yes"}, {"n\n", false, "n"},
                                   {"ja\n", false, "ja"}, {"", false, "n (入力の終わり)"}}) {
    Console con(input);
    EXPECT_EQ(con.host.AskQuestion("続けますか?", "確認"), yes) << input;
    // Without a terminal nothing echoes the answer, so it is shown after the prompt.
    EXPECT_NE(con.Output().find(std::string("[確認] 続けますか?\n[y/N] ") + shown + "\n"),
              std::string::npos) << con.Output();
  }
  // A notice waits for Enter (taking the first line) only on a terminal, and not with --yes.
  for (auto [interactive, answerYes] : {std::pair{true, false}, {true, true}, {false, false}}) {
    Console con("\nnext\n", {.answerYes = answerYes, .interactive = interactive});
    con.host.ShowMessage("Error: ベリファイエラー\n", "DERURUZUD", panel::NoticeStyle::Plain);
    std::string line;
    EXPECT_TRUE(con.host.ReadLine(&line) && line == (interactive && !answerYes ? "next" : ""));
    EXPECT_EQ(con.host.AskQuestion("q", ""), answerYes);
  }
}

TEST(ConsoleHost, ProgressIsSummarisedWithoutATerminal) {
  Console con("");
  ui::DialogPanel panel(con.host);
  panel.OnEvent(panel::ProgressReset{14840, 8});
  panel.OnEvent(panel::StatusChanged{panel::TextId::Writing});
  for (int i = 1; i <= 1855; ++i) {
    panel.OnEvent(panel::ProgressStepped{});
    panel.OnEvent(panel::StatusChanged{panel::TextId::Writing, 0, 8 * i});
  }
  panel.OnEvent(panel::StatusChanged{panel::TextId::Verifying});
  const std::string out = con.Output();
  // Status lines and a handful of milestones, never a line per block.
  EXPECT_LE(std::count(out.begin(), out.end(), '\n'), 8) << out;
  EXPECT_NE(out.find("100% 14840/14840\nﾍﾞﾘﾌｧｲ中...\n"), std::string::npos) << out;
}

// A run's last line: the result first, then the reason or the versions, and what the
// operator must still do; one line however the reason was written.
TEST(ConsoleText, ResultLinesSayHowTheRunEnded) {
  using update::FailureKind, update::Result;
  panel::SetLanguage(panel::Language::English);
  const auto device = [](Result result, FailureKind kind, std::optional<int> after) {
    report::DeviceReport r{.address = "127.0.0.2", .versionBefore = 101, .versionAfter = after,
                           .result = result, .failure = {kind, {"111"}}};
    r.reason = update::ReasonText(r.failure);
    return r;
  };
  report::DeviceReport changed = device(Result::Declined, FailureKind::None, 101), dry = changed;
  changed.xportOverridden = true;
  dry.result = Result::WouldUpdate, dry.dataFile.emplace().version = 102;
  const std::pair<report::DeviceReport, std::string> cases[] = {
      {device(Result::Updated, FailureKind::None, 102), "Updated 127.0.0.2: 101 -> 102"},
      {device(Result::Failed, FailureKind::VerifyFailed, 0),
       "Failed 127.0.0.2: verification failed; the device shows version 0 and must be updated "
       "again"},
      {device(Result::Failed, FailureKind::ConnectFailed, 101),
       "Failed 127.0.0.2: could not connect to the device (error 111)"},
      {changed, "Declined 127.0.0.2: 101 -> 101; the XPort's settings are still changed"},
      {dry, "Would update 127.0.0.2: 101 -> 102"}};
  for (const auto& [r, line] : cases) EXPECT_EQ(ui::ResultLine(r), line);
  panel::SetLanguage(panel::Language::Japanese);
  EXPECT_EQ(ui::DeviceEndLine(device(Result::Failed, FailureKind::ConnectFailed, 101)),
            "[127.0.0.2] 失敗 (0.0秒): 接続に失敗しました。 Error=111");
}

// Every text of the catalog wrapped as the help wraps it: no line wider than the terminal,
// no word lost. Tables, cuts and the edit boxes count columns and characters, not bytes.
TEST(ConsoleText, TextsFitTheirColumns) {
  const auto squeezed = [](std::string s) {
    std::erase_if(s, [](char c) { return c == ' ' || c == '\n'; });
    return s;
  };
  for (const panel::CatalogEntry& e : panel::Catalog()) {
    for (const std::string text : {e.japanese, e.english}) {
      for (std::size_t width : {40, 80}) {
        const std::string wrapped = ui::Wrap(text, width, 4);
        EXPECT_EQ(squeezed(wrapped), squeezed(text));
        for (std::size_t a = 0, b; a <= wrapped.size(); a = b + 1) {
          b = std::min(wrapped.find('\n', a), wrapped.size());
          EXPECT_LE(ui::DisplayWidth(wrapped.substr(a, b - a)), width) << wrapped;
        }
      }
    }
  }
  EXPECT_EQ(ui::Table({{"結果", "秒"}, {"interrupted", "0.5"}, {"-", "12.5"}}),
            "結果         秒\ninterrupted  0.5\n-            12.5\n");
  EXPECT_EQ(ui::CutTo("ﾍﾞﾘﾌｧｲ中...", 7), "ﾍﾞﾘﾌｧｲ");
  EXPECT_EQ(ui::LimitChars("192.168.100.200.7", 15), "192.168.100.200");
  EXPECT_EQ(ui::LimitChars("あいう", 2), "あい");
}

}  // namespace
