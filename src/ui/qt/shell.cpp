#include "ui/qt/shell.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

#include "panel/text_catalog.h"
#include "ui/qt/main_dialog.h"

namespace ui::qt {

CloseAction DecideClose(bool workerRunning, const std::function<bool()>& askOperator) {
  if (!workerRunning) return CloseAction::CloseNow;
  return askOperator() ? CloseAction::EndProcess : CloseAction::KeepRunning;
}

void EndProcessNow() {
  std::fflush(nullptr);
  std::_Exit(0);
}

Shell::Shell(MainDialog& dialog, ui::DialogHost& host, Job job,
             std::function<void()> endProcess)
    : dialog_(dialog), host_(host), job_(std::move(job)), endProcess_(std::move(endProcess)) {
  dialog_.onConnect = [this] { Connect(); };
  dialog_.onExit = [this] { Exit(); };
  dialog_.onClose = [this] { Close(); };
}

Shell::~Shell() {
  dialog_.onConnect = nullptr;
  dialog_.onExit = nullptr;
  dialog_.onClose = nullptr;
  while (!finished_.load()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  if (worker_.joinable()) worker_.join();
}

bool Shell::WorkerRunning() const { return !finished_.load(); }

void Shell::Connect() {
  if (WorkerRunning()) return;
  if (worker_.joinable()) worker_.join();  // finished, its message not yet handled
  finished_ = false;
  ++started_;
  worker_ = std::thread([this] {
    job_(host_);
    finished_ = true;
    QMetaObject::invokeMethod(&context_, [this] { JoinFinishedWorker(); }, Qt::QueuedConnection);
  });
}

void Shell::JoinFinishedWorker() {
  if (finished_.load() && worker_.joinable()) worker_.join();
}

void Shell::Exit() {
  dialog_.hide();
  QCoreApplication::exit(0);
}

void Shell::Close() {
  const CloseAction action = DecideClose(WorkerRunning(), [this] {
    return ui::AskYesNo(host_, panel::Text(panel::TextId::CloseWhileRunning), "");
  });
  switch (action) {
    case CloseAction::CloseNow:
      // Through the Exit path, as if the Exit button had been pressed.
      QMetaObject::invokeMethod(&context_, [this] { Exit(); }, Qt::QueuedConnection);
      break;
    case CloseAction::EndProcess:
      endProcess_();
      break;
    case CloseAction::KeepRunning:
      break;
  }
}

int Shell::Finish() {
  if (WorkerRunning()) endProcess_();
  JoinFinishedWorker();
  return 0;
}

}  // namespace ui::qt
