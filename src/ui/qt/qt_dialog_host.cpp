#include "ui/qt/qt_dialog_host.h"

#include <QCoreApplication>
#include <QEvent>
#include <QProgressBar>
#include <QThread>
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <utility>

#include "ui/qt/main_dialog.h"

namespace ui::qt {
namespace {

QEvent::Type GuiCallType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

// The caller's side of one call handed to the GUI thread: it waits here until the call
// has run or was dropped.
struct Handover {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  void Finish() {
    std::lock_guard lock(mutex);
    done = true;
    finished.notify_all();
  }
  void Wait() {
    std::unique_lock lock(mutex);
    finished.wait(lock, [this] { return done; });
  }
};

class GuiCallEvent : public QEvent {
 public:
  // handover is null for a call that nobody waits for.
  GuiCallEvent(std::function<void()> fn, Handover* handover)
      : QEvent(GuiCallType()), fn_(std::move(fn)), handover_(handover) {}
  // Dropped unrun (the receiver went away with it queued): the caller is released all
  // the same, as a blocking queued call would release it.
  ~GuiCallEvent() override { Release(); }
  GuiCallEvent(const GuiCallEvent&) = delete;
  GuiCallEvent& operator=(const GuiCallEvent&) = delete;
  void Run() {
    fn_();
    Release();
  }

 private:
  void Release() {
    if (Handover* h = std::exchange(handover_, nullptr)) h->Finish();
  }
  std::function<void()> fn_;
  Handover* handover_;
};

}  // namespace

// Receives the calls on the GUI thread. The hand-over runs through Qt's event queue and,
// besides, through a lock of this program's own: the distribution's Qt is not built for
// ThreadSanitizer, which cannot see Qt's queue, and through this lock it sees that the GUI
// thread reads what the caller wrote before posting (the event included) and the caller
// what the GUI thread wrote in the call.
class QtDialogHost::GuiCaller : public QObject {
 public:
  void Post(const std::function<void()>& fn) {
    Handover handover;
    auto* event = new GuiCallEvent(fn, &handover);
    { std::lock_guard publish(posting_); }
    QCoreApplication::postEvent(this, event);
    handover.Wait();
  }

  // Queues fn behind every call posted before it and returns at once.
  void PostWithoutWaiting(std::function<void()> fn) {
    auto* event = new GuiCallEvent(std::move(fn), nullptr);
    { std::lock_guard publish(posting_); }
    QCoreApplication::postEvent(this, event);
  }

  bool event(QEvent* e) override {
    { std::lock_guard take(posting_); }  // before anything of the event is read
    if (e->type() != GuiCallType()) return QObject::event(e);
    static_cast<GuiCallEvent*>(e)->Run();
    return true;
  }

 private:
  std::mutex posting_;
};

QtDialogHost::QtDialogHost(MainDialog& dialog)
    : dialog_(dialog), guiCaller_(std::make_unique<GuiCaller>()) {
  guiCaller_->moveToThread(dialog_.thread());
}

QtDialogHost::~QtDialogHost() = default;

template <class Fn>
void QtDialogHost::OnGui(Fn&& fn) {
  if (QThread::currentThread() == dialog_.thread()) {
    fn();
  } else {
    guiCaller_->Post([&fn] { fn(); });
  }
}

void QtDialogHost::RunOnGui(const std::function<void()>& fn) {
  OnGui([&fn] { fn(); });
}

void QtDialogHost::SetControlText(int id, const std::string& text) {
  OnGui([&] { dialog_.SetControlText(id, QString::fromStdString(text)); });
}

std::string QtDialogHost::GetControlText(int id, std::size_t maxChars) {
  QString text;
  OnGui([&] { text = dialog_.ControlText(id); });
  // Characters, not UTF-16 units: a character outside the basic plane counts once.
  const QList<uint> chars = text.toUcs4();
  const auto n = static_cast<qsizetype>(std::min<std::size_t>(maxChars, chars.size()));
  return QString::fromUcs4(reinterpret_cast<const char32_t*>(chars.constData()), n).toStdString();
}

void QtDialogHost::EnableControl(int id, bool enable) {
  OnGui([&] {
    if (QWidget* w = dialog_.Control(id)) w->setEnabled(enable);
  });
}

void QtDialogHost::ShowProgress(const panel::ProgressState& state) {
  QProgressBar* bar = dialog_.ProgressBar();
  if (bar->maximum() != state.high) bar->setRange(0, state.high);
  bar->setValue(std::clamp(state.pos, 0, state.high));
}

template <class Change>
void QtDialogHost::ChangeProgress(Change change) {
  OnGui([&] {
    std::unique_lock lock(progressMutex_);
    change(progress_);
    const panel::ProgressState state = progress_;
    lock.unlock();
    ShowProgress(state);
  });
}

void QtDialogHost::SetProgressRange(int high) {
  ChangeProgress([high](panel::ProgressState& p) { p.SetRange(high); });
}

void QtDialogHost::SetProgressStep(int step) {
  ChangeProgress([step](panel::ProgressState& p) { p.SetStep(step); });
}

void QtDialogHost::SetProgressPos(int pos) {
  ChangeProgress([pos](panel::ProgressState& p) { p.SetPos(pos); });
}

void QtDialogHost::StepProgress() {
  std::unique_lock lock(progressMutex_);
  progress_.Step();
  if (QThread::currentThread() == dialog_.thread()) {
    const panel::ProgressState state = progress_;
    lock.unlock();
    ShowProgress(state);
    return;
  }
  if (renderQueued_) return;
  renderQueued_ = true;
  lock.unlock();
  guiCaller_->PostWithoutWaiting([this] {
    std::unique_lock l(progressMutex_);
    renderQueued_ = false;
    const panel::ProgressState state = progress_;
    l.unlock();
    ShowProgress(state);
  });
}

QMessageBox::StandardButton QtDialogHost::Answer(QMessageBox& box) {
  if (answerer_) return answerer_(box);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

void QtDialogHost::ShowMessage(const std::string& text, const std::string& caption,
                               panel::NoticeStyle style) {
  OnGui([&] {
    QMessageBox box(&dialog_);
    box.setWindowModality(Qt::WindowModal);
    box.setWindowTitle(QString::fromStdString(caption));
    box.setText(QString::fromStdString(text));
    box.setTextFormat(Qt::PlainText);
    box.setIcon(style == panel::NoticeStyle::Warning ? QMessageBox::Warning
                : style == panel::NoticeStyle::Error ? QMessageBox::Critical
                                              : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
    Answer(box);
  });
}

bool QtDialogHost::AskQuestion(const std::string& text, const std::string& caption) {
  bool yes = false;
  OnGui([&] {
    QMessageBox box(&dialog_);
    box.setWindowModality(Qt::WindowModal);
    box.setWindowTitle(QString::fromStdString(caption));
    box.setText(QString::fromStdString(text));
    box.setTextFormat(Qt::PlainText);
    box.setIcon(QMessageBox::Question);
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    yes = Answer(box) == QMessageBox::Yes;
  });
  return yes;
}

}  // namespace ui::qt
