#include "ui/qt/qt_dialog_host.h"

#include <QProgressBar>
#include <QThread>
#include <algorithm>

#include "ui/qt/main_dialog.h"

namespace ui::qt {

QtDialogHost::QtDialogHost(MainDialog& dialog) : dialog_(dialog) {}

template <class Fn>
void QtDialogHost::OnGui(Fn&& fn) {
  if (QThread::currentThread() == dialog_.thread()) {
    fn();
  } else {
    QMetaObject::invokeMethod(&dialog_, std::forward<Fn>(fn), Qt::BlockingQueuedConnection);
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

void QtDialogHost::ShowProgress(const ProgressState& state) {
  QProgressBar* bar = dialog_.ProgressBar();
  if (bar->maximum() != state.high) bar->setRange(0, state.high);
  bar->setValue(std::clamp(state.pos, 0, state.high));
}

template <class Change>
void QtDialogHost::ChangeProgress(Change change) {
  OnGui([&] {
    std::unique_lock lock(progressMutex_);
    change(progress_);
    const ProgressState state = progress_;
    lock.unlock();
    ShowProgress(state);
  });
}

void QtDialogHost::SetProgressRange(int high) {
  ChangeProgress([high](ProgressState& p) { p.SetRange(high); });
}

void QtDialogHost::SetProgressStep(int step) {
  ChangeProgress([step](ProgressState& p) { p.SetStep(step); });
}

void QtDialogHost::SetProgressPos(int pos) {
  ChangeProgress([pos](ProgressState& p) { p.SetPos(pos); });
}

void QtDialogHost::StepProgress() {
  std::unique_lock lock(progressMutex_);
  progress_.Step();
  if (QThread::currentThread() == dialog_.thread()) {
    const ProgressState state = progress_;
    lock.unlock();
    ShowProgress(state);
    return;
  }
  if (renderQueued_) return;
  renderQueued_ = true;
  lock.unlock();
  QMetaObject::invokeMethod(
      &dialog_,
      [this] {
        std::unique_lock l(progressMutex_);
        renderQueued_ = false;
        const ProgressState state = progress_;
        l.unlock();
        ShowProgress(state);
      },
      Qt::QueuedConnection);
}

QMessageBox::StandardButton QtDialogHost::Answer(QMessageBox& box) {
  if (answerer_) return answerer_(box);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

void QtDialogHost::ShowMessage(const std::string& text, const std::string& caption,
                               NoticeStyle style) {
  OnGui([&] {
    QMessageBox box(&dialog_);
    box.setWindowModality(Qt::WindowModal);
    box.setWindowTitle(QString::fromStdString(caption));
    box.setText(QString::fromStdString(text));
    box.setTextFormat(Qt::PlainText);
    box.setIcon(style == NoticeStyle::Warning ? QMessageBox::Warning
                : style == NoticeStyle::Error ? QMessageBox::Critical
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
