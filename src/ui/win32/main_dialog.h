// The native Windows dialog: the main dialog's procedure and start-up, and the shell
// around it (window class, message loop, one worker per Connect, the close guard).
//
// Thread notes: everything here runs on the dialog's thread; the worker reaches the
// dialog only through Win32Host.
#pragma once

#include <windows.h>

#include <cstdint>

#include "panel/panel_texts.h"

namespace ui::win32 {

inline constexpr int kMainDialogTemplate = 101;
// The system menu's item that opens the batch window (a multiple of 16 below 0xF000, as
// the system's own commands leave the low four bits to themselves).
inline constexpr UINT kBatchMenuCommand = 0x0110;

// The program file's own version resource. False, the outputs untouched, when there is
// none. (Call it qualified: panel::ReadOwnFileVersion, the build's numbers, is found by ADL.)
bool ReadOwnFileVersion(panel::FileVersion& out);

// Centres the window on the desktop (its right and bottom edges) and shows it on top.
void CentreWindow(HWND window);

// Title, control texts, the address limit, the batch window's item in the system menu and
// the placement; returns 0 (no default focus).
INT_PTR InitMainDialog(HWND dialog);

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// True while the most recently started worker has not ended.
bool WorkerRunning();

// The whole program: registers the class, creates the dialog from the module's template
// 101, runs the message loop; returns the process's exit code.
int RunShell(HINSTANCE instance, int showState, std::uint32_t localAddress = 0);

}  // namespace ui::win32
