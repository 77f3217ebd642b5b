// DERURUZUD.exe: the native Windows dialog. Of the command line only --lang en|ja is read.
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

#include "panel/text_catalog.h"
#include "platform/text_win32.h"
#include "ui/win32/main_dialog.h"

namespace {

// The arguments as UTF-8, read from the wide command line (the narrow one is in the ANSI
// code page).
std::vector<std::string> Arguments() {
  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return args;
  for (int i = 0; i < count; ++i) args.push_back(platform::ToUtf8(wide[i]));
  LocalFree(wide);
  return args;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showState) {
  const std::vector<std::string> args = Arguments();
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  panel::SetLanguage(
      panel::ChooseLanguage(panel::FindLangOption(static_cast<int>(argv.size()), argv.data())));
  return ui::win32::RunShell(instance, showState);
}
