#include "ui/win32/main_dialog.h"

#include <commctrl.h>
#include <process.h>

#include <memory>
#include <string>
#include <vector>

#include "report/history.h"
#include "report/single_run.h"
#include "ui/dialog/dialog_panel.h"
#include "ui/dialog/dialog_host.h"
#include "panel/panel_texts.h"
#include "panel/text_catalog.h"
#include "platform/clock.h"
#include "platform/text_win32.h"
#include "ui/win32/batch_window.h"
#include "ui/win32/win32_host.h"
#include "update/update_procedure.h"

namespace ui::win32 {
namespace {

using panel::Text;
using panel::TextId;
using platform::ToWide;

constexpr wchar_t kClassName[] = L"DERURUZUD";
// The window extra bytes a dialog's window needs (DLGWINDOWEXTRA on 32-bit Windows).
constexpr int kDialogWindowExtra = 30;

HINSTANCE g_instance = nullptr;
// The local address every run binds (the "bind" setting, or --bind); 0: any.
std::uint32_t g_localAddress = 0;
HWND g_mainDialog = nullptr;
// The most recent worker; written and read by the dialog's thread only.
HANDLE g_worker = nullptr;

}  // namespace

bool WorkerRunning() {
  DWORD code = 0;
  return g_worker && GetExitCodeThread(g_worker, &code) && code == STILL_ACTIVE;
}

namespace {
void CloseWorkerHandle() {
  if (g_worker) {
    CloseHandle(g_worker);
    g_worker = nullptr;
  }
}
}  // namespace

bool ReadOwnFileVersion(panel::FileVersion& out) {
  wchar_t path[MAX_PATH] = {};
  if (GetModuleFileNameW(nullptr, path, MAX_PATH) == 0) return false;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) return false;
  std::vector<unsigned char> block(size);
  if (!GetFileVersionInfoW(path, 0, size, block.data())) return false;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return false;
  }
  out.major = HIWORD(info->dwFileVersionMS);
  out.minor = LOWORD(info->dwFileVersionMS);
  out.build = HIWORD(info->dwFileVersionLS);
  out.revision = LOWORD(info->dwFileVersionLS);
  return true;
}

void CentreWindow(HWND window) {
  RECT desktop{};
  RECT rect{};
  GetWindowRect(GetDesktopWindow(), &desktop);
  GetWindowRect(window, &rect);
  const panel::ScreenPoint at = panel::CentreWindow(desktop.right, desktop.bottom,
                                              rect.right - rect.left, rect.bottom - rect.top);
  SetWindowPos(window, HWND_TOP, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
}

INT_PTR InitMainDialog(HWND dialog) {
  // Without a readable version resource the title shows 0.00.
  panel::FileVersion v;
  win32::ReadOwnFileVersion(v);
  SetWindowTextW(dialog, ToWide(panel::FormatTitle(v.major, v.minor, v.build, v.revision)).c_str());
  SetDlgItemTextW(dialog, ui::IDC_ADDRESS, L"");
  SetDlgItemTextW(dialog, ui::IDC_PORT, ToWide(panel::kDefaultPortText).c_str());
  SetDlgItemTextW(dialog, ui::IDC_STATUS, ToWide(Text(TextId::InitialStatus)).c_str());
  SetDlgItemTextW(dialog, ui::IDC_ADDRESS_LABEL, ToWide(Text(TextId::AddressLabel)).c_str());
  SetDlgItemTextW(dialog, ui::IDC_PORT_LABEL, ToWide(Text(TextId::PortLabel)).c_str());
  SetDlgItemTextW(dialog, ui::IDC_MODEL, L"");
  SetDlgItemTextW(dialog, ui::IDC_VERSION, L"");
  SetDlgItemTextW(dialog, ui::IDC_CAUTION, ToWide(Text(TextId::Caution)).c_str());
  SetDlgItemTextW(dialog, IDCANCEL, ToWide(Text(TextId::Exit)).c_str());
  SetDlgItemTextW(dialog, IDOK, ToWide(Text(TextId::Connect)).c_str());
  SendDlgItemMessageW(dialog, ui::IDC_ADDRESS, EM_LIMITTEXT, ui::kAddressMaxChars, 0);
  // The batch window's entry sits in the system menu, so that the dialog's own controls
  // stay as operators know them.
  if (const HMENU menu = GetSystemMenu(dialog, FALSE)) {
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, kBatchMenuCommand, ToWide(Text(TextId::BatchMenuItem)).c_str());
  }
  CentreWindow(dialog);
  return 0;
}

namespace {

// The worker: one UpdateJob reporting to the dialog whose handle it is given, recorded in
// the history of runs.
unsigned __stdcall UpdateJobThread(void* argument) {
  Win32Host host(static_cast<HWND>(argument));
  DialogPanel panel(host);
  update::SessionOptions options;
  options.localAddress = g_localAddress;
  auto run = std::make_unique<report::SingleRun>(panel, platform::RealSleeper(), options);
  run->Run(panel.TargetFromBoxes(), {}, nullptr, report::HistoryPath());
  if (const std::error_code why = run->HistoryFailure()) {
    host.ShowMessage(report::HistoryUnwrittenText(why), Text(TextId::CaptionCaution),
                     panel::NoticeStyle::Warning);
  }
  return 0;
}

void Connect(HWND dialog) {
  // A second worker beside a running one would share the dialog, the XPort and UDP port
  // 10001 with it; the buttons are only disabled once the data file has been read, so a
  // quick second press is ignored here.
  if (WorkerRunning()) return;
  CloseWorkerHandle();
  const std::uintptr_t h = _beginthreadex(nullptr, 0, UpdateJobThread, dialog, 0, nullptr);
  g_worker = reinterpret_cast<HANDLE>(h);
}

// The batch window, modal over the dialog. Not beside a running update: both would need
// UDP port 10001, and the device may well be one of the batch's.
void OpenBatchWindow(HWND dialog) {
  if (WorkerRunning()) return;
  BatchWindowOptions options;
  options.engine.session.localAddress = g_localAddress;
  RunBatchWindow(dialog, options);
}

void OnClose(HWND dialog) {
  if (WorkerRunning()) {
    if (AskYesNoBox(dialog, Text(TextId::CloseWhileRunning), "")) PostQuitMessage(0);
    return;
  }
  PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
}

}  // namespace

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return InitMainDialog(dialog);
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          Connect(dialog);
          return 0;
        case IDCANCEL:
          DestroyWindow(dialog);
          return 0;
        default:
          return DefWindowProcW(dialog, message, wParam, lParam);
      }
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == kBatchMenuCommand) {
        OpenBatchWindow(dialog);
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      OnClose(dialog);
      // Handled: the dialog manager's own WM_CLOSE would otherwise press IDCANCEL while
      // the Exit button is still enabled, closing the window whatever the answer was.
      return TRUE;
    case WM_DESTROY:
      // The worker's handle stays: RunShell's final check needs it to see a worker that
      // Exit left running (pressed before the run disabled it).
      PostQuitMessage(0);
      return 0;
    default:
      return 0;
  }
}

namespace {

// The class is registered as the dialog's shell always has; the dialog itself uses the
// system's dialog class, so nothing is created from this one.
LRESULT CALLBACK MainClassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return MainDialogProc(window, message, wParam, lParam);
}

bool RegisterMainClass(HINSTANCE instance) {
  WNDCLASSW wc{};
  wc.style = 0;
  wc.lpfnWndProc = MainClassProc;
  wc.cbClsExtra = 0;
  wc.cbWndExtra = kDialogWindowExtra;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));     // IDI_APPLICATION
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszMenuName = nullptr;
  wc.lpszClassName = kClassName;
  return RegisterClassW(&wc) != 0;
}

}  // namespace

int RunShell(HINSTANCE instance, int showState, std::uint32_t localAddress) {
  g_instance = instance;
  g_localAddress = localAddress;
  if (!RegisterMainClass(instance)) {
    ShowNoticeBox(nullptr, Text(TextId::RegisterClassFailed), panel::kProgramName,
                  panel::NoticeStyle::Error);
    return 0;
  }
  g_mainDialog = CreateDialogParamW(instance, MAKEINTRESOURCEW(kMainDialogTemplate), nullptr,
                                    MainDialogProc, 0);
  if (!g_mainDialog) {
    ShowNoticeBox(nullptr, Text(TextId::CreateWindowFailed), panel::kProgramName,
                  panel::NoticeStyle::Error);
    return 0;
  }
  ShowWindow(g_mainDialog, showState);
  UpdateWindow(g_mainDialog);

  MSG msg{};
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) break;
    if (!IsDialogMessageW(g_mainDialog, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  // Closing while an update runs ends the process at once, wherever the worker stands;
  // no destructor may run under its feet.
  if (WorkerRunning()) ExitProcess(static_cast<UINT>(msg.wParam));
  CloseWorkerHandle();
  return static_cast<int>(msg.wParam);
}

}  // namespace ui::win32
