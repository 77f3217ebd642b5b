// The DialogHost of the Qt dialog. A change from the worker (a text, an enabling, the
// progress bar) is stored in the host and the call returns at once; the GUI thread puts
// the stored values into the controls at its own pace, and painting follows as usual. A
// read, a notice and a question are handed to the GUI thread, which first puts every value
// stored before them into the controls: a read returns the latest value, and a notice
// shows the panel as the worker left it. The GUI thread never waits for the worker.
//
// Thread notes: any thread may call the DialogHost methods; construct, destroy and set the
// answerer on the GUI thread. The dialog must outlive every call.
#pragma once

#include <QElapsedTimer>
#include <QMessageBox>
#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "ui/dialog/dialog_host.h"
#include "panel/progress_state.h"

namespace ui::qt {

class MainDialog;

class QtDialogHost : public ui::DialogHost {
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
  void ShowMessage(const std::string& text, const std::string& caption,
                   panel::NoticeStyle style) override;
  bool AskQuestion(const std::string& text, const std::string& caption) override;

  // Runs fn on the GUI thread, after every value stored before it has reached the
  // controls, and returns when it has run.
  void RunOnGui(const std::function<void()>& fn);

 private:
  class GuiCaller;
  // The values stored since the controls last took them: each control's latest text and
  // enabling, and whether the bar changed. The GUI thread takes them all at once, so the
  // controls always show a state the worker's panel passed through, states in the order
  // they were made; the per-block counter and the progress steps in between are skipped
  // when the GUI thread is slower than the worker.
  struct Pending {
    std::vector<std::pair<int, QString>> texts;
    std::vector<std::pair<int, bool>> enabled;
    bool progress = false;
    bool Empty() const { return texts.empty() && enabled.empty() && !progress; }
  };

  template <class Fn>
  void OnGui(Fn&& fn);
  // Records a change under the lock, then has the controls take it: at once on the GUI
  // thread, otherwise through one queued hand-over at a time.
  template <class Change>
  void Store(Change change);
  // GUI thread: puts every stored value into the controls.
  void ApplyStored();
  // GUI thread, for the worker's hand-over: ApplyStored, at most once per kApplyPeriodMs.
  // The per-block counter changes some 300 times a second and the operator reads a few;
  // the GUI thread's work, and the CPU it takes from the update, shrink with them.
  void ApplyWhenDue();
  QMessageBox::StandardButton Answer(QMessageBox& box);

  MainDialog& dialog_;
  std::mutex storeMutex_;
  Pending pending_;                // guarded by storeMutex_
  panel::ProgressState progress_;  // guarded by storeMutex_
  bool applyQueued_ = false;       // guarded by storeMutex_
  static constexpr qint64 kApplyPeriodMs = 25;
  QElapsedTimer lastApplied_;  // GUI thread only
  Answerer answerer_;
  std::unique_ptr<GuiCaller> guiCaller_;  // lives on the GUI thread
};

}  // namespace ui::qt
