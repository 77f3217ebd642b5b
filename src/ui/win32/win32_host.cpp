#include "ui/win32/win32_host.h"

#include <commctrl.h>

#include <vector>

#include "platform/text_win32.h"

namespace ui::win32 {

using platform::ToUtf8;
using platform::ToWide;

void Win32Host::SetControlText(int id, const std::string& text) {
  SetDlgItemTextW(dialog_, id, ToWide(text).c_str());
}

std::string Win32Host::GetControlText(int id, std::size_t maxChars) {
  std::vector<wchar_t> buf(maxChars + 1, L'\0');
  const UINT n = GetDlgItemTextW(dialog_, id, buf.data(), static_cast<int>(buf.size()));
  return ToUtf8(std::wstring(buf.data(), n));
}

void Win32Host::EnableControl(int id, bool enable) {
  EnableWindow(GetDlgItem(dialog_, id), enable ? TRUE : FALSE);
}

void Win32Host::SetProgressRange(int high) {
  // The progress bar's class is registered again at every reset, as the panel has always
  // done; it is harmless when it is registered already.
  InitCommonControls();
  SendDlgItemMessageW(dialog_, ui::IDC_PROGRESS, PBM_SETRANGE, 0,
                      MAKELPARAM(0, static_cast<WORD>(high)));
}

void Win32Host::SetProgressStep(int step) {
  SendDlgItemMessageW(dialog_, ui::IDC_PROGRESS, PBM_SETSTEP, static_cast<WPARAM>(step), 0);
}

void Win32Host::SetProgressPos(int pos) {
  SendDlgItemMessageW(dialog_, ui::IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
}

void Win32Host::StepProgress() { SendDlgItemMessageW(dialog_, ui::IDC_PROGRESS, PBM_STEPIT, 0, 0); }

void Win32Host::ShowMessage(const std::string& text, const std::string& caption,
                            panel::NoticeStyle style) {
  ShowNoticeBox(dialog_, text, caption, style);
}

bool Win32Host::AskQuestion(const std::string& text, const std::string& caption) {
  return AskYesNoBox(dialog_, text, caption);
}

void ShowNoticeBox(HWND owner, const std::string& text, const std::string& caption,
                   panel::NoticeStyle style) {
  UINT flags = MB_OK;
  if (style == panel::NoticeStyle::Warning) flags |= MB_ICONWARNING;
  if (style == panel::NoticeStyle::Error) flags |= MB_ICONERROR;
  MessageBoxW(owner, ToWide(text).c_str(), ToWide(caption).c_str(), flags);
}

bool AskYesNoBox(HWND owner, const std::string& text, const std::string& caption) {
  return MessageBoxW(owner, ToWide(text).c_str(), ToWide(caption).c_str(),
                     MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

}  // namespace ui::win32
