// The application shell: turns Connect into one run of the update job on a worker thread,
// closes on Exit, and asks before the window is closed under a running update.
//
// Thread notes: every method runs on the GUI thread. The worker only runs the job (which
// reaches the dialog through its DialogHost) and then hands a "finished" message back to
// the GUI thread, where the thread is joined.
#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <thread>

#include "ui/dialog/dialog_host.h"

namespace ui::qt {

class MainDialog;

// The update job that Connect starts; it reports through the host it is given.
using Job = std::function<void(ui::DialogHost&)>;

enum class CloseAction { CloseNow, KeepRunning, EndProcess };

// The title-bar close: at once when no update runs; otherwise the operator's answer to
// the question decides between ending the process and leaving the update alone.
CloseAction DecideClose(bool workerRunning, const std::function<bool()>& askOperator);

// Ends the process at once with code 0, after flushing the standard streams; no static
// object is destroyed, so a worker blocked on the GUI thread is simply ended with it.
[[noreturn]] void EndProcessNow();

class Shell {
 public:
  // Wires the dialog's Connect, Exit and close to this shell. endProcess is what a Yes to
  // the close question (or leaving while a worker runs) does; tests give a recorder.
  Shell(MainDialog& dialog, ui::DialogHost& host, Job job,
        std::function<void()> endProcess = EndProcessNow);
  // Waits for a worker still running (processing events meanwhile) and joins it. In the
  // program a worker never outlives the event loop: Finish ends the process first.
  ~Shell();
  Shell(const Shell&) = delete;
  Shell& operator=(const Shell&) = delete;

  // Starts a worker with the job, unless one is still running: a second Connect before
  // the update disables its inputs would run two updates over the same state.
  void Connect();
  // Hides the dialog and ends the event loop with code 0.
  void Exit();
  // The title-bar close.
  void Close();
  bool WorkerRunning() const;
  // How many workers have been started.
  int WorkersStarted() const { return started_; }

  // After the event loop: joins a finished worker and returns 0; a worker still running
  // (Exit pressed before the update disabled it) is ended with the process.
  int Finish();

 private:
  void JoinFinishedWorker();

  MainDialog& dialog_;
  ui::DialogHost& host_;
  Job job_;
  std::function<void()> endProcess_;
  QObject context_;  // queued "finished" calls die with the shell
  std::thread worker_;
  std::atomic<bool> finished_{true};
  int started_ = 0;
};

}  // namespace ui::qt
