#include "ui/qt/qt_dialog_host.h"

#include <QCoreApplication>
#include <QEvent>
#include <QProgressBar>
#include <QThread>
#include <QTimer>
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
    ApplyStored();
    fn();
  } else {
    guiCaller_->Post([this, &fn] {
      ApplyStored();
      fn();
    });
  }
}

void QtDialogHost::RunOnGui(const std::function<void()>& fn) {
  OnGui([&fn] { fn(); });
}

template <class Change>
void QtDialogHost::Store(Change change) {
  const bool onGui = QThread::currentThread() == dialog_.thread();
  std::unique_lock lock(storeMutex_);
  change(pending_, progress_);
  if (onGui) {
    lock.unlock();
    ApplyStored();
    return;
  }
  if (applyQueued_) return;
  applyQueued_ = true;
  lock.unlock();
  guiCaller_->PostWithoutWaiting([this] { ApplyWhenDue(); });
}

void QtDialogHost::ApplyWhenDue() {
  const qint64 wait = lastApplied_.isValid() ? kApplyPeriodMs - lastApplied_.elapsed() : 0;
  if (wait > 0) {
    QTimer::singleShot(wait, Qt::PreciseTimer, guiCaller_.get(), [this] { ApplyStored(); });
  } else {
    ApplyStored();
  }
}

void QtDialogHost::ApplyStored() {
  std::unique_lock lock(storeMutex_);
  if (pending_.Empty()) return;
  Pending taken = std::exchange(pending_, Pending{});
  const panel::ProgressState bar = progress_;
  applyQueued_ = false;
  lock.unlock();
  lastApplied_.start();
  for (const auto& [id, text] : taken.texts) dialog_.SetControlText(id, text);
  for (const auto& [id, enable] : taken.enabled) {
    if (QWidget* w = dialog_.Control(id)) w->setEnabled(enable);
  }
  if (taken.progress) {
    QProgressBar* progress = dialog_.ProgressBar();
    if (progress->maximum() != bar.high) progress->setRange(0, bar.high);
    progress->setValue(std::clamp(bar.pos, 0, bar.high));
  }
}

namespace {

// The latest value for a control replaces one stored before it.
template <class Value>
void Keep(std::vector<std::pair<int, Value>>& values, int id, Value value) {
  for (auto& [storedId, stored] : values) {
    if (storedId == id) {
      stored = std::move(value);
      return;
    }
  }
  values.emplace_back(id, std::move(value));
}

}  // namespace

void QtDialogHost::SetControlText(int id, const std::string& text) {
  QString value = QString::fromStdString(text);
  Store([&](Pending& p, panel::ProgressState&) { Keep(p.texts, id, std::move(value)); });
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
  Store([&](Pending& p, panel::ProgressState&) { Keep(p.enabled, id, enable); });
}

void QtDialogHost::SetProgressRange(int high) {
  Store([high](Pending& p, panel::ProgressState& bar) {
    bar.SetRange(high);
    p.progress = true;
  });
}

void QtDialogHost::SetProgressStep(int step) {
  Store([step](Pending& p, panel::ProgressState& bar) {
    bar.SetStep(step);
    p.progress = true;
  });
}

void QtDialogHost::SetProgressPos(int pos) {
  Store([pos](Pending& p, panel::ProgressState& bar) {
    bar.SetPos(pos);
    p.progress = true;
  });
}

void QtDialogHost::StepProgress() {
  Store([](Pending& p, panel::ProgressState& bar) {
    bar.Step();
    p.progress = true;
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
