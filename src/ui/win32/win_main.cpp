// DERURUZUD.exe: the native Windows dialog. Of the command line only --lang en|ja,
// --bind ADDRESS (else the "bind" setting) and --batch [--devices FILE] (the batch window
// instead of the dialog) are read.
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

#include "panel/panel_texts.h"
#include "panel/settings.h"
#include "panel/text_catalog.h"
#include "platform/program_folder.h"
#include "platform/text_win32.h"
#include "ui/win32/batch_window.h"
#include "ui/win32/main_dialog.h"
#include "ui/win32/win32_host.h"

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
  bool batch = false;
  ui::win32::BatchWindowOptions options;
  std::string bind;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--batch") batch = true;
    if (args[i] == "--bind" && i + 1 < args.size()) bind = args[i + 1];
    if (args[i] == "--devices" && i + 1 < args.size()) {
      options.devicesFile = platform::PathFromUtf8(args[++i]);
    } else if (args[i].rfind("--devices=", 0) == 0) {
      options.devicesFile = platform::PathFromUtf8(args[i].substr(10));
    }
  }
  std::string error;
  const std::optional<std::uint32_t> localAddress = panel::LocalAddressSetting(bind, &error);
  if (!localAddress) {
    ui::win32::ShowNoticeBox(nullptr, error, panel::kProgramName, panel::NoticeStyle::Error);
    return 2;
  }
  options.engine.session.localAddress = *localAddress;
  if (batch) {
    ui::win32::RunBatchWindow(nullptr, options);
    return 0;
  }
  return ui::win32::RunShell(instance, showState, *localAddress);
}
