// The batch window, headless, against a cabinet of in-process simulators on 127.0.0.x:
// the list, a scan, the one question, the live rows and their results, the saved report
// and list, Stop, the second Stop and closing under a run. Boxes and the question are
// answered by the window's answerer; nothing waits on a timer for a window to appear.
#include <QApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <memory>

#include "batch/batch_run.h"
#include "panel/text_catalog.h"
#include "report/device_report.h"
#include "sim/simulator.h"
#include "support/temp_dir.h"
#include "ui/qt/batch_model.h"
#include "ui/qt/batch_window.h"
#include "ui/qt/question_dialog.h"
#include "update/outcome.h"

using ui::qt::BatchModel;
using ui::qt::BatchWindow;

namespace {

struct NoSleep : platform::Sleeper {
  void SleepMs(int) override {}
};

QString Catalog(panel::TextId id) { return QString::fromUtf8(panel::Text(id)); }
QString Result(update::Result r) { return Catalog(update::ResultText(r)); }

// Simulators on 127.0.0.2, .3, ... holding version 12, a data file of version 13, and a
// window whose runs use them with short waits, no pauses and a state folder of its own.
// The answerer keeps every box's text and the question's, and answers from `yes` in turn.
struct Cabinet {
  explicit Cabinet(std::vector<sim::Config> configs) {
    for (std::size_t i = 0; i < configs.size(); ++i) {
      sim::Config& c = configs[i];
      c.address = "127.0.0." + std::to_string(2 + i);
      c.tcpPort = c.settleMs = 0;
      c.mac[5] = static_cast<std::uint8_t>(2 + i);
      if (!c.memory) c.memory = Memory(12);
      sims.push_back(std::make_unique<sim::Simulator>(c));
      std::string error;
      if (!sims.back()->Start(&error)) qFatal("%s", error.c_str());
    }
    window.SetAnswerer([this](QDialog& box) {
      auto* q = dynamic_cast<ui::qt::QuestionDialog*>(&box);
      seen << (q ? q->Text() : static_cast<QMessageBox&>(box).text());
      const bool answer = !yes.empty() && yes.front();
      if (!yes.empty()) yes.erase(yes.begin());
      return answer ? QMessageBox::Yes : QMessageBox::No;
    });
    window.onClosed = [this] { ++closed; };
  }
  static sim::Memory Memory(std::uint16_t version) {
    sim::Memory m;
    m.fill(0x3FFF);
    return m[sim::kVersionWord] = version, m;
  }
  QString Cell(int row, BatchModel::Column c) const { return window.Model().Text(row, c); }

  testing_support::TempDir dir;
  std::string hex = dir.Write("quivo.HEX", sim::SampleHex(13));
  NoSleep noSleep;
  std::vector<std::unique_ptr<sim::Simulator>> sims;
  QStringList seen;
  std::vector<bool> yes{true};
  int ended = 0, closed = 0;
  BatchWindow window{[this] {
                       batch::BatchOptions o{
                           .dataFile = hex, .stateFolder = dir.path() + "/state",
                           .sleeper = &noSleep, .session = {.receiveWaitMs = 300, .replyWaitMs = 300}};
                       o.integrity.check = true;
                       return o;
                     },
                     [this] { ++ended; }};
};

}  // namespace

class QtBatchTest : public QObject {
  Q_OBJECT
 private slots:
  void mixedCabinetFromListToReport();
  void stopSecondStopAndCloseWhileRunning();
  void defaultRangeIsTheNetworkOrTheSlash24AroundThePc();
};

void QtBatchTest::defaultRangeIsTheNetworkOrTheSlash24AroundThePc() {
  const std::pair<platform::Ipv4Network, const char*> cases[] = {
      {{platform::InetAddr("192.168.1.37"), 24}, "192.168.1.0/24"},
      {{platform::InetAddr("172.16.5.9"), 20}, "172.16.0.0/20"},
      {{platform::InetAddr("10.1.2.3"), 8}, "10.1.2.0/24"},
      {{platform::InetAddr("10.1.2.3"), 32}, "10.1.2.3/32"}};
  for (const auto& [network, range] : cases) QCOMPARE(xport::DiscoveryRangeFor(network), std::string(range));
}

void QtBatchTest::mixedCabinetFromListToReport() {
  Cabinet cab({{.modelCode = 0x60},
               {.needsOverride = true},
               {.faults = {.xport = sim::XPortFault::Silent}},
               {.faults = {.blocks = {{"bulk:928", sim::BlockFault::Silent}}}},
               {.memory = Cabinet::Memory(13)}});
  BatchWindow& w = cab.window;
  BatchModel& m = w.Model();
  // The list: a run of addresses; a device named twice and a bad entry are refused whole.
  QVERIFY(w.AddAddresses(QStringLiteral("127.0.0.2-5")));
  QVERIFY(!w.AddAddresses(QStringLiteral("127.0.0.6 127.0.0.3")));
  QVERIFY(w.MessageLine().contains(QStringLiteral("127.0.0.3")));
  QVERIFY(!w.AddAddresses(QStringLiteral("127.0.0.300")));
  QCOMPARE(m.rowCount(), 4);
  // A scan adds the XPort not listed yet and tells the listed ones' MACs; the silent one
  // stays as it was.
  w.SetDiscoveryPace({.replyWaitMs = 300});
  w.RangeEdit()->setText(QStringLiteral("127.0.0.0/29"));
  w.Scan();
  QTRY_VERIFY_WITH_TIMEOUT(!w.Scanning(), 5000);
  QCOMPARE(m.rowCount(), 5);
  QCOMPARE(cab.Cell(4, BatchModel::Address), QStringLiteral("127.0.0.6"));
  QCOMPARE(cab.Cell(1, BatchModel::Mac), QStringLiteral("00-20-4A-0B-4C-03"));
  QCOMPARE(cab.Cell(2, BatchModel::Mac), QString());

  w.Start();
  QVERIFY(w.Running());
  QTRY_VERIFY_WITH_TIMEOUT(!w.Running(), 30000);

  // One question: three to write, one skipped, the silent XPort failed with its reason.
  QCOMPARE(cab.seen.size(), 1);
  const QString question = cab.seen[0];
  for (int i : {0, 1, 3, 4}) {
    const QString line = QStringLiteral("127.0.0.%1  %2").arg(2 + i).arg(cab.sims[i]->TcpPort());
    QVERIFY2(question.contains(line), qPrintable(question));
  }
  QVERIFY(question.contains(Catalog(panel::TextId::BatchQuestionSkippedHead) + " 1"));
  QVERIFY(question.contains(Catalog(panel::TextId::BatchQuestionFailedHead) + " 1"));
  QVERIFY(question.contains(QStringLiteral("127.0.0.4    ") +
                            QString::fromStdString(update::ReasonText(
                                {update::FailureKind::XPortNoReply, {}}))));
  const QByteArray sha = QCryptographicHash::hash(QByteArray::fromStdString(sim::SampleHex(13)),
                                                  QCryptographicHash::Sha256);
  QVERIFY(question.contains(QString::fromStdString(panel::FormatText(
      panel::TextId::DataFileFacts, {"13", sha.toHex().left(16).toStdString()}))));
  QVERIFY(question.contains(Catalog(panel::TextId::DataFileUnsigned)));
  QVERIFY(question.endsWith(
      QString::fromStdString(panel::FormatText(panel::TextId::BatchQuestionAsk, {"3"}))));

  const update::Result results[] = {update::Result::Updated, update::Result::Updated,
                                    update::Result::Failed, update::Result::Failed,
                                    update::Result::Skipped};
  for (int r = 0; r < 5; ++r) QCOMPARE(cab.Cell(r, BatchModel::Result), Result(results[r]));
  QCOMPARE(cab.Cell(0, BatchModel::Version), QStringLiteral("12 → 13"));
  QCOMPARE(m.ProgressOf(0), 100);
  QCOMPARE(m.ProgressOf(3), -1);
  QCOMPARE(cab.sims[3]->VersionWord(), 0);
  QVERIFY(cab.Cell(3, BatchModel::Reason).contains(
      QString::fromStdString(update::ReasonText({update::FailureKind::DeviceTimedOut, {}}))));
  // The changed XPort's notices: in its row, and in the details pane once selected.
  QVERIFY(!m.RowAt(1).notices.empty());
  const QString notice = QString::fromStdString(m.RowAt(1).notices.front().text).trimmed();
  QVERIFY(cab.Cell(1, BatchModel::Reason).startsWith(notice.section(QLatin1Char('\n'), 0, 0)));
  w.Table()->selectRow(1);
  QVERIFY(w.DetailsText().contains(notice));
  QCOMPARE(w.SummaryLine(), QString::fromStdString(report::SummaryText(w.Reports())));

  // The report is --json's, and the list goes back to a devices file.
  const QString saved = QString::fromStdString(cab.dir.path() + "/report.json");
  QVERIFY(w.SaveReport(saved));
  QFile file(saved);
  QVERIFY(file.open(QIODevice::ReadOnly));
  const QByteArray json = file.readAll();
  QCOMPARE(json.toStdString(), report::ReportJson(w.Reports()));
  const QJsonArray devices = QJsonDocument::fromJson(json).object()["devices"].toArray();
  QCOMPARE(devices.size(), 5);
  QCOMPARE(devices[1].toObject()["xport_restored"].toBool(), true);
  QCOMPARE(devices[3].toObject()["result"].toString(), QStringLiteral("failed"));
  QCOMPARE(m.FailedRows(), (std::vector<int>{2, 3}));
  QVERIFY(w.SaveList(QString::fromStdString(cab.dir.path() + "/list.txt")));
  QVERIFY(!w.OpenList(QString::fromStdString(cab.dir.path() + "/list.txt")));  // all listed
  QCOMPARE(m.rowCount(), 5);
}

void QtBatchTest::stopSecondStopAndCloseWhileRunning() {
  const sim::Faults slow{.replyDelayMs = 2};
  Cabinet cab({{.needsOverride = true, .faults = slow}, {.faults = slow}});
  BatchWindow& w = cab.window;
  QVERIFY(w.AddAddresses(QStringLiteral("127.0.0.2-3")));
  w.show();
  // Yes to the question and to closing; No, then Yes, to ending at once.
  cab.yes = {true, true, false, true};
  w.Start();
  QTRY_VERIFY_WITH_TIMEOUT(w.Model().ProgressOf(0) > 5, 10000);
  w.close();
  QVERIFY(w.Running() && w.isVisible());
  QCOMPARE(w.MessageLine(), Catalog(panel::TextId::BatchStopRequested));
  w.Stop();
  QCOMPARE(cab.ended, 0);
  w.Stop();
  QCOMPARE(cab.ended, 1);
  QTRY_VERIFY_WITH_TIMEOUT(!w.Running(), 10000);
  QTRY_COMPARE(cab.closed, 1);
  QCOMPARE(cab.seen.mid(1), (QStringList{Catalog(panel::TextId::CloseWhileRunning),
                                         Catalog(panel::TextId::BatchStopAgain),
                                         Catalog(panel::TextId::BatchStopAgain)}));
  for (int r = 0; r < 2; ++r) {
    QCOMPARE(cab.Cell(r, BatchModel::Result), Result(update::Result::Interrupted));
    QVERIFY(cab.sims[r]->VersionWord() != 13);
  }
  QCOMPARE(w.Reports()[0].xportRestored, true);
}

QTEST_MAIN(QtBatchTest)
#include "qt_batch_test.moc"
