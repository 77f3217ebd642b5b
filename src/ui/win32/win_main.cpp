// DERURUZUD.exe: the native Windows dialog. The command line is not read.
#include <windows.h>

#include "ui/win32/main_dialog.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showState) {
  return ui::win32::RunShell(instance, showState);
}
