#include "ui/qt/screenshot.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

#include "panel/text_catalog.h"
#include "ui/qt/app.h"
#include "ui/qt/batch_model.h"
#include "ui/qt/main_dialog.h"

namespace ui::qt {

ScreenshotHost::ScreenshotHost(MainDialog& dialog, QtDialogHost& inner, QString folder)
    : dialog_(dialog), inner_(inner), folder_(std::move(folder)) {
  inner_.SetAnswerer([this](QMessageBox& box) {
    const bool question = box.button(QMessageBox::Yes) != nullptr;
    box.show();
    box.activateWindow();
    QApplication::processEvents();
    const QString name =
        question &&
                box.windowTitle() == QString::fromUtf8(panel::Text(panel::TextId::CaptionConfirm))
            ? QStringLiteral("confirm")
            : QStringLiteral("notice-%1").arg(++notices_);
    box.grab().save(QDir(folder_).filePath(name + QStringLiteral(".png")));
    box.hide();
    return question ? QMessageBox::Yes : QMessageBox::Ok;
  });
}

void ScreenshotHost::SetControlText(int id, const std::string& text) {
  inner_.SetControlText(id, text);
  const std::string writing = std::string(panel::Text(panel::TextId::Writing)) + " ";
  if (bulkTaken_ || id != ui::IDC_STATUS || text.rfind(writing, 0) != 0) return;
  inner_.RunOnGui([this] {
    const QProgressBar* bar = dialog_.ProgressBar();
    if (bar->value() * 2 < bar->maximum()) return;
    bulkTaken_ = true;
    GrabDialog(QStringLiteral("writing"));
  });
}

void ScreenshotHost::GrabDialog(const QString& name) {
  QApplication::processEvents();
  dialog_.grab().save(QDir(folder_).filePath(name + QStringLiteral(".png")));
}

int RunScreenshots(MainDialog& dialog, QtDialogHost& host, const QString& folder,
                   const QString& address, Job job) {
  QDir().mkpath(folder);
  ScreenshotHost shots(dialog, host, folder);
  const bool real = !address.isEmpty();
  Shell shell(dialog, shots, [&](ui::DialogHost& owner) {
    if (real) {
      job(owner);
    } else {
      DemoJob(owner);
    }
    // The end of the run (the version line's verdict), then quit.
    QMetaObject::invokeMethod(
        qApp,
        [&shots] {
          shots.GrabDialog(QStringLiteral("done"));
          QCoreApplication::exit(0);
        },
        Qt::QueuedConnection);
  });
  QTimer::singleShot(300, &dialog, [&] {
    shots.GrabDialog(QStringLiteral("idle"));
    dialog.AddressEdit()->setText(real ? address : QStringLiteral("127.0.0.1"));
    dialog.ConnectButton()->click();
  });
  // The shell waits for the worker, which has posted the exit, when it goes.
  return QApplication::exec();
}

int RunBatchScreenshots(BatchWindow& window, const QString& folder, const QString& range) {
  QDir().mkpath(folder);
  const QString lang =
      panel::CurrentLanguage() == panel::Language::Japanese ? QStringLiteral("ja") : QStringLiteral("en");
  const auto save = [&](QWidget& w, const QString& name) {
    QApplication::processEvents();
    w.grab().save(QDir(folder).filePath(QStringLiteral("batch-%1-%2.png").arg(lang, name)));
  };
  window.SetAnswerer([&](QDialog& box) {
    box.show();
    box.activateWindow();
    save(box, QStringLiteral("question"));
    box.hide();
    return QMessageBox::Yes;
  });
  BatchModel& model = window.Model();
  enum class Step { Scan, Idle, Running } step = range.isEmpty() ? Step::Idle : Step::Scan;
  bool writingTaken = false;
  QTimer watch;
  watch.setInterval(50);
  QObject::connect(&watch, &QTimer::timeout, &window, [&] {
    if (window.Scanning()) return;
    switch (step) {
      case Step::Scan:
        window.RangeEdit()->setText(range);
        window.Scan();
        step = Step::Idle;
        return;
      case Step::Idle:
        save(window, QStringLiteral("idle"));
        window.Start();
        step = Step::Running;
        return;
      case Step::Running:
        break;
    }
    for (int r = 0; r < model.rowCount() && !writingTaken; ++r) {
      if (model.ProgressOf(r) >= 40 && !model.RowAt(r).report) {
        writingTaken = true;
        save(window, QStringLiteral("writing"));
      }
    }
    if (window.Running()) return;
    watch.stop();
    // The details of the device with the most notices (the XPort whose settings changed).
    int shown = -1;
    for (int r = 0; r < model.rowCount(); ++r) {
      if (shown < 0 || model.RowAt(r).notices.size() > model.RowAt(shown).notices.size()) shown = r;
    }
    if (shown >= 0) window.Table()->selectRow(shown);
    save(window, QStringLiteral("done"));
    window.ShowHistory();
    for (QDialog* history : window.findChildren<QDialog*>()) {
      if (history->isVisible()) save(*history, QStringLiteral("history"));
    }
    QCoreApplication::exit(0);
  });
  QTimer::singleShot(500, &window, [&] { watch.start(); });
  return QApplication::exec();
}

}  // namespace ui::qt
