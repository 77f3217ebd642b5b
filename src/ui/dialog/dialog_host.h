// DialogHost: the small seam where the dialog manager stood. The three dialogs (the Qt
// window, the native Windows window, the console) each implement it once, and DialogPanel
// turns a run's events into its calls, so that every one of them shows the same texts in
// the same order.
//
// Thread notes: the update's worker calls every method. A call has taken effect when it
// returns in the sense that the control holds its new value: a read returns it, and a
// notice or question raised after it shows it. Painting may follow at the front end's own
// pace, as the platform's dialog manager paints later too. ShowMessage/AskQuestion block
// the caller until the operator has answered.
#pragma once

#include <cstddef>
#include <string>

#include "panel/events.h"

namespace ui {

// Control ids of the main dialog. The Connect and Exit buttons carry the system's ids
// 1 and 2 (IDOK and IDCANCEL on the dialog manager's side).
inline constexpr int ID_CONNECT = 1;
inline constexpr int ID_EXIT = 2;
inline constexpr int IDC_ADDRESS = 1000;
inline constexpr int IDC_PORT = 1001;
inline constexpr int IDC_PROGRESS = 1002;
inline constexpr int IDC_PORT_LABEL = 1004;
inline constexpr int IDC_STATUS = 1005;
inline constexpr int IDC_MODEL = 1006;
inline constexpr int IDC_VERSION = 1007;
inline constexpr int IDC_ADDRESS_LABEL = 1008;
inline constexpr int IDC_CAUTION = 1010;

// The longest text each box keeps: a full dotted address, and the port box.
inline constexpr std::size_t kAddressMaxChars = 15;
inline constexpr std::size_t kPortMaxChars = 255;

using panel::NoticeStyle;

class DialogHost {
 public:
  virtual ~DialogHost() = default;

  // Replaces a control's text (UTF-8).
  virtual void SetControlText(int id, const std::string& text) = 0;
  // A control's text, at most maxChars characters (not bytes) of it.
  virtual std::string GetControlText(int id, std::size_t maxChars) = 0;
  virtual void EnableControl(int id, bool enable) = 0;

  // The progress bar (IDC_PROGRESS), with the platform's progress-bar rules:
  // range 0..high, a step size, a position; StepProgress advances by the step and
  // starts again from 0 when it would pass the high end (see ProgressState).
  virtual void SetProgressRange(int high) = 0;
  virtual void SetProgressStep(int step) = 0;
  virtual void SetProgressPos(int pos) = 0;
  virtual void StepProgress() = 0;

  // A modal message box with one OK button; returns when the operator has closed it.
  virtual void ShowMessage(const std::string& text, const std::string& caption,
                           NoticeStyle style) = 0;
  // A modal question with Yes and No, No preselected; true only for Yes.
  virtual bool AskQuestion(const std::string& text, const std::string& caption) = 0;
};

// The two kinds of notice, raised on the host that owns them.
inline void ShowNotice(DialogHost& owner, const std::string& text, const std::string& caption,
                       NoticeStyle style) {
  owner.ShowMessage(text, caption, style);
}
inline bool AskYesNo(DialogHost& owner, const std::string& text, const std::string& caption) {
  return owner.AskQuestion(text, caption);
}

}  // namespace ui
