// The Qt host's storing rule: a change from the worker is stored and the call returns
// without waiting for the GUI thread; the controls take the stored values in the order the
// worker made them; a notice shows the panel as the worker left it.
#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ui/qt/main_dialog.h"
#include "ui/qt/qt_dialog_host.h"

namespace {

constexpr int kBlocks = 1855;

std::string Counter(int i) {
  return "書込み中... " + std::to_string(i);
}

// One block of a bulk write as the update reports it, with the version line as a second
// control whose value moves with the counter.
void Block(ui::qt::QtDialogHost& host, int i) {
  host.StepProgress();
  host.SetControlText(panel::IDC_STATUS, Counter(i));
  host.SetControlText(panel::IDC_VERSION, std::to_string(i));
}

}  // namespace

class QtHostStoreTest : public QObject {
  Q_OBJECT

 private slots:
  void storesNeverWaitForTheGuiThread() {
    ui::qt::MainDialog d;
    ui::qt::QtDialogHost host(d);
    std::atomic<int> stored{0};
    std::atomic<bool> done{false};
    std::thread worker([&] {
      host.SetProgressRange(kBlocks);
      host.SetProgressStep(1);
      for (int i = 1; i <= kBlocks; ++i, ++stored) Block(host, i);
      host.EnableControl(panel::ID_EXIT, false);
      done = true;
    });
    // The GUI thread handles no event meanwhile, as if busy with a slow paint.
    QDeadlineTimer deadline(10000);
    while (!done && !deadline.hasExpired())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const int storedWhileBusy = stored;
    while (!done) QCoreApplication::processEvents();
    worker.join();
    QCOMPARE(storedWhileBusy, kBlocks);
    QTRY_COMPARE(d.ControlText(panel::IDC_STATUS), QString::fromStdString(Counter(kBlocks)));
    QCOMPARE(d.ProgressBar()->value(), kBlocks);
    QVERIFY(!d.Control(panel::ID_EXIT)->isEnabled());
  }

  void controlsShowTheWorkersStatesInOrder() {
    ui::qt::MainDialog d;
    ui::qt::QtDialogHost host(d);
    // Sampled between the GUI thread's events: the counter never goes back, and the
    // version line is the counter's or, between the two calls, one behind it.
    std::vector<std::pair<int, int>> shown;
    QTimer sample;
    connect(&sample, &QTimer::timeout, [&] {
      shown.emplace_back(d.ControlText(panel::IDC_STATUS).section(' ', 1).toInt(),
                         d.ControlText(panel::IDC_VERSION).toInt());
    });
    sample.start(0);
    std::atomic<bool> done{false};
    std::thread worker([&] {
      for (int i = 1; i <= kBlocks; ++i) {
        Block(host, i);
        if (i % 64 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      done = true;
    });
    while (!done) QCoreApplication::processEvents();
    worker.join();
    QTRY_COMPARE(d.ControlText(panel::IDC_VERSION), QString::number(kBlocks));
    QVERIFY(shown.size() > 10);
    for (std::size_t k = 1; k < shown.size(); ++k) {
      const auto [counter, line] = shown[k];
      QVERIFY2((line == counter || line + 1 == counter) && shown[k - 1].first <= counter,
               qPrintable(QStringLiteral("sample %1: %2 / %3").arg(k).arg(counter).arg(line)));
    }
  }

  void aNoticeShowsTheLastValuesStoredBeforeIt() {
    ui::qt::MainDialog d;
    ui::qt::QtDialogHost host(d);
    QString underBox;
    host.SetAnswerer([&](QMessageBox&) {
      underBox = d.ControlText(panel::IDC_STATUS) + '|' + QString::number(d.ProgressBar()->value());
      return QMessageBox::Ok;
    });
    std::atomic<bool> done{false};
    std::thread worker([&] {
      host.SetProgressRange(kBlocks);
      host.SetProgressStep(1);
      for (int i = 1; i <= 500; ++i) Block(host, i);
      host.ShowMessage("Error: 書込み失敗しました。\n", "Error", panel::NoticeStyle::Plain);
      done = true;
    });
    while (!done) QCoreApplication::processEvents();
    worker.join();
    QCOMPARE(underBox, QString::fromStdString(Counter(500)) + QStringLiteral("|500"));
  }
};

QTEST_MAIN(QtHostStoreTest)
#include "qt_host_store_test.moc"
