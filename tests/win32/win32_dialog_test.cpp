// The native Windows dialog, opened from its own template (linked into this program with
// the version resource) and driven the way the shell and the worker drive it. Needs a
// display: under Wine, scripts/test-windows provides one.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "ui/dialog/dialog_panel.h"
#include "panel/text_catalog.h"
#include "platform/text_win32.h"
#include "ui/win32/main_dialog.h"
#include "ui/win32/win32_host.h"

namespace {

std::string Text(HWND window) {
  wchar_t buf[512] = {};
  const int n = GetWindowTextW(window, buf, 512);
  return platform::ToUtf8(std::wstring(buf, static_cast<std::size_t>(n)));
}

// Handles the dialog's messages until done is set (the worker's calls are sent messages that
// only this loop delivers) or a minute passes: Wine on a busy machine takes seconds for them.
void PumpUntil(const std::atomic<bool>& done) {
  const DWORD until = GetTickCount() + 60000;
  MSG msg;
  while (!done && GetTickCount() < until) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

class Win32Dialog : public ::testing::Test {
 protected:
  void SetUp() override {
    dialog = CreateDialogParamW(GetModuleHandleW(nullptr),
                                MAKEINTRESOURCEW(ui::win32::kMainDialogTemplate), nullptr,
                                ui::win32::MainDialogProc, 0);
    ASSERT_NE(dialog, nullptr) << "no dialog (is there a display?) error "
                               << GetLastError();
  }
  void TearDown() override {
    if (dialog && IsWindow(dialog)) DestroyWindow(dialog);
    MSG msg;  // the quit message that WM_DESTROY posted
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  HWND Item(int id) const { return GetDlgItem(dialog, id); }

  HWND dialog = nullptr;
};

TEST_F(Win32Dialog, StartsReadyWithTheTemplateAndTheTexts) {
  EXPECT_EQ(Text(dialog), "DERURUZUD Ver1.02");  // from this program's version resource
  const std::pair<int, std::string> texts[] = {
      {ui::IDC_ADDRESS, ""}, {ui::IDC_PORT, "10003"}, {ui::IDC_MODEL, ""}, {ui::IDC_VERSION, ""},
      {ui::IDC_STATUS, panel::Text(panel::TextId::InitialStatus)}, {ui::IDC_CAUTION, panel::Text(panel::TextId::Caution)},
      {ui::IDC_ADDRESS_LABEL, "IP Address"}, {ui::IDC_PORT_LABEL, "Port"}, {IDOK, "接続"},
      {IDCANCEL, "終了"}, {ui::IDC_PROGRESS, "Progress1"}};
  for (const auto& [id, text] : texts) EXPECT_EQ(Text(Item(id)), text) << id;
  EXPECT_EQ(SendMessageW(Item(ui::IDC_ADDRESS), EM_GETLIMITTEXT, 0, 0), 15);
  EXPECT_EQ(SendMessageW(Item(ui::IDC_PROGRESS), PBM_GETRANGE, FALSE, 0), 100);
  EXPECT_TRUE(IsWindowVisible(dialog));

  // Centred on the desktop's right and bottom edges.
  RECT desktop{}, rect{};
  GetWindowRect(GetDesktopWindow(), &desktop);
  GetWindowRect(dialog, &rect);
  const panel::ScreenPoint at = panel::CentreWindow(desktop.right, desktop.bottom,
                                              rect.right - rect.left, rect.bottom - rect.top);
  EXPECT_EQ(rect.left, at.x);
  EXPECT_EQ(rect.top, at.y);
}

TEST_F(Win32Dialog, WorkerCallsHaveTakenEffectWhenTheyReturn) {
  std::atomic<bool> done{false};
  std::string statusSeen, modelSeen, addressRead;
  bool greyed = false, usable = false;
  long position = -1, high = -1;
  SetWindowTextW(Item(ui::IDC_ADDRESS), L"192.168.100.200");
  std::thread worker([&] {
    ui::win32::Win32Host host(dialog);
    ui::DialogPanel panel(host);
    // Read straight from the control, without a message: only a finished call shows.
    panel.OnEvent(panel::StatusChanged{panel::TextId::Writing, 0, 1});
    statusSeen = Text(Item(ui::IDC_STATUS));
    panel.ShowIdentity(device::DeviceIdentity{0x80, 0, 5});
    modelSeen = Text(Item(ui::IDC_MODEL)) + "|" + Text(Item(ui::IDC_VERSION));
    addressRead = host.GetControlText(ui::IDC_ADDRESS, 15);
    panel.EnableInputs(false);
    greyed = !IsWindowEnabled(Item(ui::IDC_ADDRESS)) && !IsWindowEnabled(Item(ui::IDC_PORT)) &&
             !IsWindowEnabled(Item(IDOK)) && !IsWindowEnabled(Item(IDCANCEL));
    panel.ResetProgress(14840, 8);
    for (int i = 0; i < 1855; ++i) panel.OnEvent(panel::ProgressStepped{});
    position = static_cast<long>(SendMessageW(Item(ui::IDC_PROGRESS), PBM_GETPOS, 0, 0));
    high = static_cast<long>(SendMessageW(Item(ui::IDC_PROGRESS), PBM_GETRANGE, FALSE, 0));
    panel.EnableInputs(true);
    usable = IsWindowEnabled(Item(ui::IDC_ADDRESS)) && IsWindowEnabled(Item(IDCANCEL));
    done = true;
  });
  PumpUntil(done);
  worker.join();
  EXPECT_EQ(statusSeen, "書込み中... 1");
  EXPECT_EQ(modelSeen, "Model:KT-40D(-W)|Ver:   5");
  EXPECT_EQ(addressRead, "192.168.100.200");
  EXPECT_TRUE(greyed);
  EXPECT_EQ(position, 14840);  // a full bar
  EXPECT_EQ(high, 14840);
  EXPECT_TRUE(usable);
}

TEST_F(Win32Dialog, CloseWithoutAWorkerClosesAtOnce) {
  EXPECT_FALSE(ui::win32::WorkerRunning());
  SendMessageW(dialog, WM_CLOSE, 0, 0);  // posts IDCANCEL; no question
  MSG msg;
  bool quit = false;
  const DWORD until = GetTickCount() + 2000;
  while (!quit && GetTickCount() < until) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        quit = true;
        EXPECT_EQ(msg.wParam, 0u);  // the exit code after a normal close
        break;
      }
      DispatchMessageW(&msg);
    }
  }
  EXPECT_TRUE(quit);
  EXPECT_FALSE(IsWindow(dialog));
}

// Exit between Connect and the moment the run disables it: the window goes, and the shell's
// last look still sees the worker (so it ends the process rather than run destructors).
TEST_F(Win32Dialog, ExitUnderARunningWorkerLeavesItVisibleToTheShell) {
  SendMessageW(dialog, WM_COMMAND, IDOK, 0);  // the worker waits on this thread (a call or a notice)
  SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  EXPECT_FALSE(IsWindow(dialog));
  EXPECT_TRUE(ui::win32::WorkerRunning());
  // Its window gone, the worker's calls fail and it ends by itself.
  for (int i = 0; i < 500 && ui::win32::WorkerRunning(); ++i) Sleep(10);
}

}  // namespace
