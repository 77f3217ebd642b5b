// Win32Host: the DialogHost of the native Windows dialog. Every call goes straight to the
// dialog's controls with the wide-character functions; from the update's worker those
// calls are sent messages, which the system hands to the dialog's thread and waits for,
// so each has taken effect when it returns. Notices are message boxes owned by the
// dialog, which block the calling thread until answered.
//
// Thread notes: used by the update's worker; the dialog's thread must keep pumping
// messages meanwhile (it never waits for the worker).
#pragma once

#include <windows.h>

#include <string>

#include "ui/dialog/dialog_host.h"

namespace ui::win32 {

class Win32Host final : public ui::DialogHost {
 public:
  explicit Win32Host(HWND dialog) : dialog_(dialog) {}

  void SetControlText(int id, const std::string& text) override;
  std::string GetControlText(int id, std::size_t maxChars) override;
  void EnableControl(int id, bool enable) override;
  void SetProgressRange(int high) override;
  void SetProgressStep(int step) override;
  void SetProgressPos(int pos) override;
  void StepProgress() override;
  void ShowMessage(const std::string& text, const std::string& caption,
                   panel::NoticeStyle style) override;
  bool AskQuestion(const std::string& text, const std::string& caption) override;

 private:
  HWND dialog_;
};

// A message box with one OK button; owner may be null (before the dialog exists).
void ShowNoticeBox(HWND owner, const std::string& text, const std::string& caption,
                   panel::NoticeStyle style);
// Yes and No, No preselected, the question icon; true only for Yes.
bool AskYesNoBox(HWND owner, const std::string& text, const std::string& caption);

}  // namespace ui::win32
