// The Qt host stores a worker's change and returns without waiting for the GUI thread; the
// controls take the values in the order made; a notice shows the panel as the worker left it.
#include <QApplication>
#include <QProgressBar>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <array>
#include <atomic>
#include <thread>
#include <vector>

#include "ui/qt/main_dialog.h"
#include "ui/qt/qt_dialog_host.h"

constexpr int kBlocks = 1855;

// The status counter, the version line and the bar as the dialog shows them.
static std::array<int, 3> Shown(const ui::qt::MainDialog& d) {
  return {d.ControlText(ui::IDC_STATUS).section(' ', 1).toInt(),
          d.ControlText(ui::IDC_VERSION).toInt(), d.ProgressBar()->value()};
}

class QtHostStoreTest : public QObject {
  Q_OBJECT

 private slots:
  void storesNeitherWaitNorReorder() {
    for (const bool guiBusy : {true, false}) {
      ui::qt::MainDialog d;
      ui::qt::QtDialogHost host(d);
      std::array<int, 3> underNotice{};
      host.SetAnswerer([&](QMessageBox&) {
        underNotice = Shown(d);
        return QMessageBox::Ok;
      });
      std::vector<std::array<int, 3>> shown;  // sampled between the GUI thread's events
      QTimer sample;
      connect(&sample, &QTimer::timeout, [&] { shown.push_back(Shown(d)); });
      sample.start(0);
      std::atomic<bool> stored{false}, done{false};
      std::thread worker([&] {
        host.SetProgressRange(kBlocks);
        host.SetProgressStep(1);
        for (int i = 1; i <= kBlocks; ++i) {  // a bulk write's block, and a second control
          host.StepProgress();
          host.SetControlText(ui::IDC_STATUS, "書込み中... " + std::to_string(i));
          host.SetControlText(ui::IDC_VERSION, std::to_string(i));
          if (!guiBusy && i % 64 == 0) QThread::msleep(1);  // let the GUI thread sample
        }
        stored = true;
        host.ShowMessage("Error: 書込み失敗しました。\n", "Error", panel::NoticeStyle::Plain);
        done = true;
      });
      // Busy with something else (a slow paint, say), the GUI thread handles no event.
      for (int ms = 0; guiBusy && !stored && ms < 10000; ++ms) QThread::msleep(1);
      const bool storedWhileBusy = stored;
      while (!done) QCoreApplication::processEvents();
      worker.join();
      QVERIFY2(storedWhileBusy || !guiBusy, "a store waited for the GUI thread");
      QVERIFY(underNotice == (std::array<int, 3>{kBlocks, kBlocks, kBlocks}));
      QVERIFY(guiBusy || shown.size() > 10);
      // Each sample is a state the worker passed through, none older than the one before.
      for (std::size_t k = 0; k < shown.size(); ++k) {
        const auto [counter, line, bar] = shown[k];
        QVERIFY2(line <= counter && counter <= bar && bar <= line + 1 &&
                     (k == 0 || shown[k - 1][2] <= bar),
                 qPrintable(QStringLiteral("%1 %2 %3").arg(counter).arg(line).arg(bar)));
      }
    }
  }
};

QTEST_MAIN(QtHostStoreTest)
#include "qt_host_store_test.moc"
