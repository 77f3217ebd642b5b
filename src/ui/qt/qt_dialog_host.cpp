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

void QtDialogHost::ShowProgress() {
  QProgressBar* bar = dialog_.ProgressBar();
  if (bar->maximum() != progress_.high) bar->setRange(0, progress_.high);
  bar->setValue(std::clamp(progress_.pos, 0, progress_.high));
}

void QtDialogHost::SetProgressRange(int high) {
  OnGui([&] {
    progress_.SetRange(high);
    ShowProgress();
  });
}

void QtDialogHost::SetProgressStep(int step) {
  OnGui([&] { progress_.SetStep(step); });
}

void QtDialogHost::SetProgressPos(int pos) {
  OnGui([&] {
    progress_.SetPos(pos);
    ShowProgress();
  });
}

void QtDialogHost::StepProgress() {
  OnGui([&] {
    progress_.Step();
    ShowProgress();
  });
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
