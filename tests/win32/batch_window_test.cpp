// The batch window, opened from its template in this program's resources and driven as an
// operator drives it, against an in-process simulator on 127.0.0.1 and silent addresses
// beside it. Needs a display: under Wine, scripts/test-windows provides one.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "panel/text_catalog.h"
#include "platform/program_folder.h"
#include "platform/state_folder.h"
#include "platform/text_win32.h"
#include "sim/simulator.h"
#include "support/temp_dir.h"
#include "ui/win32/batch_window.h"

namespace {

using panel::Text;
using panel::TextId;
using namespace ui::win32;

std::string WindowText(HWND window) {
  wchar_t buf[4096] = {};
  return platform::ToUtf8(
      std::wstring(buf, static_cast<std::size_t>(GetWindowTextW(window, buf, 4096))));
}

// Answers as the test says: one file for every file dialog, the one question from answer,
// No to every other question; records what it was shown.
struct ScriptedPrompts final : BatchPrompts {
  std::filesystem::path ChooseFile(HWND, bool, TextId) override { return file; }
  void Notice(HWND, const std::string& text, panel::NoticeStyle) override {
    notices.push_back(text);
  }
  bool Ask(HWND, const std::string& text) override {
    asked.push_back(text);
    return false;
  }
  void QuestionShown(HWND dialog) override {
    question = WindowText(GetDlgItem(dialog, IDC_QUESTION_TEXT));
    PostMessageW(dialog, WM_COMMAND, answer ? IDYES : IDNO, 0);
  }
  std::filesystem::path file;
  bool answer = false;
  std::string question;
  std::vector<std::string> notices, asked;
};

std::string Cell(HWND list, int row, BatchColumn column) {
  wchar_t buf[512] = {};
  LVITEMW item{};
  item.iSubItem = static_cast<int>(column);
  item.pszText = buf;
  item.cchTextMax = 512;
  const auto n = SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                              reinterpret_cast<LPARAM>(&item));
  return platform::ToUtf8(std::wstring(buf, static_cast<std::size_t>(n)));
}

// Handles the window's messages (the view timer, the engine's question) until done() holds
// or a minute passes: Wine on a busy machine is slow.
template <typename Done>
bool PumpUntil(Done done) {
  const DWORD until = GetTickCount() + 60000;
  MSG msg;
  while (!done() && GetTickCount() < until) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return done();
}

TEST(BatchWindow, RowsTheOneQuestionStopAndTheReport) {
  testing_support::TempDir dir;
  sim::Config config;
  config.tcpPort = 0;
  config.memory.emplace();
  ASSERT_TRUE(sim::ParseMemoryHex(sim::SampleHex(101), &*config.memory));
  sim::Simulator device(config);
  std::string error;
  ASSERT_TRUE(device.Start(&error)) << error;

  ScriptedPrompts prompts;
  BatchWindowOptions options;
  options.engine.dataFile = platform::PathFromUtf8(dir.Write("quivo.HEX", sim::SampleHex(102)));
  options.engine.stateFolder = platform::PathFromUtf8(dir.path()) / "state";
  options.engine.session.replyWaitMs = 300;  // a silent address fails soon
  options.devicesFile =
      platform::PathFromUtf8(dir.Write("cabinet.txt", "127.0.0.1  # the cabinet\n"));
  options.prompts = &prompts;
  const HWND window = CreateBatchWindow(nullptr, options);
  ASSERT_NE(window, nullptr) << "no window (is there a display?) error " << GetLastError();
  const HWND list = GetDlgItem(window, IDC_BATCH_LIST);
  auto press = [&](int id) { SendMessageW(window, WM_COMMAND, id, 0); };
  auto enabled = [&](int id) { return IsWindowEnabled(GetDlgItem(window, id)) != FALSE; };
  auto type = [&](const char* text) {
    SetDlgItemTextW(window, IDC_BATCH_ADDRESSES, platform::ToWide(text).c_str());
    press(IDC_BATCH_ADD);
  };

  // Rows from the devices file and a typed range; a list naming a listed device again is
  // refused whole, with the console's message.
  type("127.0.0.5-6");
  type("127.0.0.7, 127.0.0.1");
  ASSERT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 3);
  ASSERT_EQ(prompts.notices.size(), 1u);
  EXPECT_NE(prompts.notices[0].find("127.0.0.1"), std::string::npos) << prompts.notices[0];
  EXPECT_EQ(Cell(list, 1, BatchColumn::Address), "127.0.0.5");
  ListView_SetCheckState(list, 2, FALSE);  // 127.0.0.6 stays out of the batch

  // No: the device keeps its firmware; the silent address failed before the question.
  press(IDC_BATCH_START);
  ASSERT_TRUE(PumpUntil([&] { return enabled(IDC_BATCH_START); }));
  const std::string port = std::to_string(device.TcpPort());
  EXPECT_NE(prompts.question.find("127.0.0.1:" + port), std::string::npos) << prompts.question;
  EXPECT_NE(prompts.question.find(Text(TextId::BatchQuestionFailedHead)), std::string::npos);
  EXPECT_NE(prompts.question.find("  127.0.0.5  "), std::string::npos) << prompts.question;
  const std::pair<int, std::string> results[] = {
      {0, Text(TextId::ResultDeclined)}, {1, Text(TextId::ResultFailed)}, {2, ""}};
  for (const auto& [row, result] : results)
    EXPECT_EQ(Cell(list, row, BatchColumn::Result), result) << row;
  EXPECT_EQ(Cell(list, 0, BatchColumn::Port), port);
  EXPECT_EQ(Cell(list, 0, BatchColumn::Model), "KT-40D(-W)");
  EXPECT_EQ(WindowText(GetDlgItem(window, IDC_BATCH_SUMMARY)),
            panel::FormatText(TextId::SummaryLine, {std::string(Text(TextId::ResultFailed)) +
                                                    " 1, " + Text(TextId::ResultDeclined) + " 1"}));
  EXPECT_EQ(device.VersionWord(), 101);

  // The report, as --json writes it: the devices of the run, in the table's order.
  prompts.file = platform::PathFromUtf8(dir.path()) / "report.json";
  press(IDC_BATCH_SAVE_REPORT);
  std::string json;
  ASSERT_TRUE(platform::ReadWholeFile(prompts.file, &json));
  const nlohmann::json report = nlohmann::json::parse(json);
  ASSERT_EQ(report["devices"].size(), 2u);
  EXPECT_EQ(report["devices"][0]["result"], "declined");
  EXPECT_EQ(report["devices"][1]["address"], "127.0.0.5");

  // Retry failed takes both again; Yes starts the writing, Stop ends it at the next block
  // (a second Stop asks first, and No lets the clean-up finish).
  prompts.answer = true;
  press(IDC_BATCH_RETRY);
  EXPECT_FALSE(ListView_GetCheckState(list, 2));
  ASSERT_TRUE(
      PumpUntil([&] { return Cell(list, 0, BatchColumn::Phase) == Text(TextId::PhaseWriting); }));
  press(IDC_BATCH_STOP);
  press(IDC_BATCH_STOP);
  EXPECT_EQ(prompts.asked, std::vector<std::string>{Text(TextId::BatchStopAgain)});
  ASSERT_TRUE(PumpUntil([&] { return enabled(IDC_BATCH_START); }));
  EXPECT_EQ(Cell(list, 0, BatchColumn::Result), Text(TextId::ResultInterrupted));
  EXPECT_NE(WindowText(GetDlgItem(window, IDC_BATCH_SUMMARY)).find(Text(TextId::ResultInterrupted)),
            std::string::npos);
  ASSERT_TRUE(device.WaitForNoConnection(5000));
  EXPECT_EQ(device.VersionWord(), 0);  // cleared first, never written back
  DestroyWindow(window);
}

}  // namespace
