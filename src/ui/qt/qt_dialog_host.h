// The DialogHost of the Qt dialog. Every call takes effect on the GUI thread before it
// returns: from another thread it is posted to the GUI thread and the caller waits until it
// has run (or was dropped unrun), on the GUI thread it runs at once. The GUI thread never waits for
// the worker.
//
// Thread notes: any thread may call the DialogHost methods; construct, destroy and set the
// answerer on the GUI thread. The dialog must outlive every call.
#pragma once

#include <QMessageBox>
#include <functional>
#include <memory>
#include <mutex>

#include "panel/dialog_host.h"
#include "panel/progress_state.h"

namespace ui::qt {

class MainDialog;

class QtDialogHost : public panel::DialogHost {
 public:
  // Given a notice or question box ready to be shown (texts, icon, buttons, default
  // button set), returns the button the operator pressed. Without an answerer the box is
  // shown modally on the dialog and the operator answers it.
  using Answerer = std::function<QMessageBox::StandardButton(QMessageBox&)>;

  explicit QtDialogHost(MainDialog& dialog);
  ~QtDialogHost() override;
  QtDialogHost(const QtDialogHost&) = delete;
  QtDialogHost& operator=(const QtDialogHost&) = delete;

  void SetAnswerer(Answerer answerer) { answerer_ = std::move(answerer); }

  void SetControlText(int id, const std::string& text) override;
  std::string GetControlText(int id, std::size_t maxChars) override;
  void EnableControl(int id, bool enable) override;
  void SetProgressRange(int high) override;
  void SetProgressStep(int step) override;
  void SetProgressPos(int pos) override;
  void StepProgress() override;
  void ShowMessage(const std::string& text, const std::string& caption, panel::NoticeStyle style) override;
  bool AskQuestion(const std::string& text, const std::string& caption) override;

  // Runs fn on the GUI thread and returns when it has run.
  void RunOnGui(const std::function<void()>& fn);

 private:
  class GuiCaller;
  template <class Fn>
  void OnGui(Fn&& fn);
  void ShowProgress(const panel::ProgressState& state);
  // Applies change to the bar's state and shows it, on the GUI thread, before returning.
  template <class Change>
  void ChangeProgress(Change change);
  QMessageBox::StandardButton Answer(QMessageBox& box);

  MainDialog& dialog_;
  // The bar's state is recorded at once on the calling thread and rendered on the GUI
  // thread. Steps (14,840 per verification) do not wait for their rendering: one render is
  // queued at a time and shows the latest state. Since every later call is queued behind
  // it, a step has always been rendered by the time any later call returns.
  std::mutex progressMutex_;
  panel::ProgressState progress_;       // guarded by progressMutex_
  bool renderQueued_ = false;    // guarded by progressMutex_
  Answerer answerer_;
  std::unique_ptr<GuiCaller> guiCaller_;  // lives on the GUI thread
};

}  // namespace ui::qt
