// The Qt dialog, its host and the shell, headless. Notices and questions are answered by
// the host's answerer; nothing waits on a timer for a box to appear.
#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <future>
#include <thread>

#include "panel/panel_texts.h"
#include "ui/qt/main_dialog.h"
#include "ui/qt/qt_dialog_host.h"
#include "ui/qt/shell.h"

using ui::qt::MainDialog;
using ui::qt::QtDialogHost;
using ui::qt::Shell;

namespace {

const int kInputs[] = {ui::IDC_ADDRESS, ui::IDC_PORT, ui::ID_CONNECT, ui::ID_EXIT};

// An answered box as text: title, text, icon, buttons and, for a question, its default.
QString Box(const QString& title, const QString& text, QMessageBox::Icon icon,
            QMessageBox::StandardButtons buttons,
            QMessageBox::StandardButton defaultButton = QMessageBox::NoButton) {
  return QStringLiteral("%1|%2|%3|%4|%5")
      .arg(title, text)
      .arg(icon)
      .arg(buttons.toInt())
      .arg(defaultButton);
}

// Answers boxes from a script (Yes/No for questions in order, then No; OK for notices) and
// keeps what it saw; stray counts boxes shown off the GUI thread or not owned by dialog.
struct ScriptedAnswers {
  QStringList seen;
  std::vector<bool> yes;
  QWidget* dialog = nullptr;
  int stray = 0;

  QtDialogHost::Answerer Answerer() {
    return [this](QMessageBox& box) {
      const bool question = box.button(QMessageBox::Yes) != nullptr;
      seen << Box(box.windowTitle(), box.text(), box.icon(), box.standardButtons(),
                  question && box.defaultButton() ? box.standardButton(box.defaultButton())
                                                  : QMessageBox::NoButton);
      stray += QThread::currentThread() != qApp->thread() || box.parentWidget() != dialog;
      if (!question) return QMessageBox::Ok;
      const bool answer = !yes.empty() && yes.front();
      if (!yes.empty()) yes.erase(yes.begin());
      return answer ? QMessageBox::Yes : QMessageBox::No;
    };
  }
};

// A job that runs until released, so that a test can act while it runs; after 10 s it
// ends anyway, so that a GUI thread wrongly waiting for it fails the test, not hangs it.
struct HeldJob {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> runs{0};

  ui::qt::Job Job() {
    return [this](ui::DialogHost&) {
      ++runs;
      released.wait_for(std::chrono::seconds(10));
    };
  }
};

// Runs fn on a worker thread while the GUI thread handles events; a worker still busy
// after 10 s is stuck for good and aborts the test program.
void OnWorker(const std::function<void()>& fn) {
  std::atomic<bool> done{false};
  std::thread worker([&] {
    fn();
    done = true;
  });
  QDeadlineTimer deadline(10000);
  while (!done.load() && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  if (!done) std::abort();
  worker.join();
}

// A dialog set up as the program sets it up, with its host.
struct Dialog {
  Dialog() { ui::qt::InitMainDialog(d); }
  MainDialog d;
  QtDialogHost host{d};
};

}  // namespace

class QtDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void initialStateAndLayout();
  void hostDrivesControlsAndProgressBarFromTheWorker();
  void workerUpdatesTakeEffectInOrderBeforeReturning();
  void noticesAndQuestionsFromTheWorker();
  void connectIsIgnoredWhileAWorkerRuns();
  void enterConnectsEscapeExitsOnlyWhileExitIsUsable();
  void closeGuardAsksOnlyWhileAWorkerRuns();
  void exitPathsEndTheProcessWithZero();
};

void QtDialogTest::initialStateAndLayout() {
  MainDialog d;
  QCOMPARE(ui::qt::InitMainDialog(d), 0);
  QCOMPARE(d.windowTitle(), QStringLiteral("DERURUZUD Ver1.02"));
  QVERIFY(d.isVisible());
  const std::pair<int, const char*> texts[] = {
      {ui::IDC_ADDRESS, ""}, {ui::IDC_PORT, "10003"}, {ui::IDC_MODEL, ""}, {ui::IDC_VERSION, ""},
      {ui::IDC_STATUS, "QUIVOの電源を入れ直してから接続して下さい。"},
      {ui::IDC_CAUTION, "<注意>書込み中はLANケーブルを抜いたり電源を切らないで下さい。"},
      {ui::IDC_ADDRESS_LABEL, "IP Address"}, {ui::IDC_PORT_LABEL, "Port"},
      {ui::ID_CONNECT, "接続"}, {ui::ID_EXIT, "終了"}};
  for (const auto& [id, text] : texts) QCOMPARE(d.ControlText(id), QString::fromUtf8(text));
  QCOMPARE(d.ProgressBar()->maximum(), 100);
  QVERIFY(d.ConnectButton()->isDefault());
  QCOMPARE(d.minimumSize(), d.maximumSize());  // fixed size
  // The address box takes no 16th character.
  QTest::keyClicks(d.AddressEdit(), QStringLiteral("255.255.255.2551"));
  QCOMPARE(d.AddressEdit()->text(), QStringLiteral("255.255.255.255"));
}

void QtDialogTest::hostDrivesControlsAndProgressBarFromTheWorker() {
  Dialog t;
  QProgressBar* bar = t.d.ProgressBar();
  std::vector<int> seen;  // the bar after a few calls, read on the GUI thread meanwhile
  const auto read = [&](int (QProgressBar::*get)() const) {
    t.host.RunOnGui([&] { seen.push_back((bar->*get)()); });
  };
  OnWorker([&] {
    for (int id : kInputs) t.host.EnableControl(id, false);
    t.host.SetProgressRange(14840);
    t.host.SetProgressStep(8);
    t.host.SetProgressPos(0);
    for (int i = 0; i < 1855; ++i) t.host.StepProgress();
    read(&QProgressBar::value);
    t.host.StepProgress();  // past the high end: from the low end again
    read(&QProgressBar::value);
    t.host.SetProgressPos(20000);  // clamped to the range
    read(&QProgressBar::value);
    t.host.SetProgressRange(70000);  // a 16-bit range
    read(&QProgressBar::maximum);
  });
  QCOMPARE(seen, (std::vector<int>{14840, 0, 14840, 70000 & 0xFFFF}));
  for (int id : kInputs) QVERIFY(!t.d.Control(id)->isEnabled());
  QVERIFY(t.d.Control(ui::IDC_STATUS)->isEnabled());  // only the four

  // Texts are read back cut to at most maxChars characters (not bytes, not UTF-16 units).
  t.host.SetControlText(ui::IDC_STATUS, "書込み中... 8");
  QCOMPARE(t.host.GetControlText(ui::IDC_STATUS, 3), std::string("書込み"));
  t.host.SetControlText(ui::IDC_MODEL,
                        "\xF0\x9F\x94\x8C"
                        "ab");  // a character outside the BMP
  QCOMPARE(t.host.GetControlText(ui::IDC_MODEL, 2), std::string("\xF0\x9F\x94\x8C"
                                                                "a"));
}

void QtDialogTest::workerUpdatesTakeEffectInOrderBeforeReturning() {
  Dialog t;
  auto* status = static_cast<QLabel*>(t.d.Control(ui::IDC_STATUS));
  constexpr int kCalls = 2000;
  std::vector<int> mismatches;
  OnWorker([&] {
    for (int i = 0; i < kCalls; ++i) {
      const std::string text = "書込み中... " + std::to_string(i);
      t.host.SetControlText(ui::IDC_STATUS, text);  // stored; the label takes it later
      if (t.host.GetControlText(ui::IDC_STATUS, 20) != text) mismatches.push_back(i);
    }
  });
  QVERIFY(mismatches.empty());
  QTRY_COMPARE(status->text(), QStringLiteral("書込み中... %1").arg(kCalls - 1));
}

void QtDialogTest::noticesAndQuestionsFromTheWorker() {
  Dialog t;
  ScriptedAnswers answers;
  answers.dialog = &t.d;
  answers.yes = {true};
  t.host.SetAnswerer(answers.Answerer());
  std::vector<bool> replies;
  OnWorker([&] {
    ui::ShowNotice(t.host, "plain", "", panel::NoticeStyle::Plain);
    ui::ShowNotice(t.host, "warn", "注意", panel::NoticeStyle::Warning);
    ui::ShowNotice(t.host, "Error: 書込み失敗しました。\n", "Error", panel::NoticeStyle::Error);
    replies.push_back(ui::AskYesNo(t.host, "開始しますか？", "確認"));
    replies.push_back(ui::AskYesNo(t.host, "again", ""));
  });
  QCOMPARE(replies, (std::vector<bool>{true, false}));
  const auto ok = QMessageBox::Ok, no = QMessageBox::No;
  const auto yesNo = QMessageBox::Yes | QMessageBox::No;
  QCOMPARE(answers.seen,
           QStringList({Box("", "plain", QMessageBox::NoIcon, ok),
                        Box("注意", "warn", QMessageBox::Warning, ok),
                        Box("Error", "Error: 書込み失敗しました。\n", QMessageBox::Critical, ok),
                        Box("確認", "開始しますか？", QMessageBox::Question, yesNo, no),
                        Box("", "again", QMessageBox::Question, yesNo, no)}));
  QCOMPARE(answers.stray, 0);
}

void QtDialogTest::connectIsIgnoredWhileAWorkerRuns() {
  Dialog t;
  HeldJob held;
  {
    Shell shell(t.d, t.host, held.Job(), [] { QFAIL("the process must not end"); });
    t.d.ConnectButton()->click();
    t.d.ConnectButton()->click();  // before the update could disable Connect
    QTRY_COMPARE(held.runs.load(), 1);
    QVERIFY(shell.WorkerRunning());
    t.d.ConnectButton()->click();
    QCOMPARE(shell.WorkersStarted(), 1);
    held.release.set_value();
    QTRY_VERIFY(!shell.WorkerRunning());
    t.d.ConnectButton()->click();  // after the end, Connect starts the next run
    QTRY_COMPARE(held.runs.load(), 2);
    QCOMPARE(shell.WorkersStarted(), 2);
  }  // the shell joins the finished worker
}

void QtDialogTest::enterConnectsEscapeExitsOnlyWhileExitIsUsable() {
  Dialog t;
  int exits = 0;
  std::atomic<int> runs{0};
  Shell shell(
      t.d, t.host, [&](ui::DialogHost&) { ++runs; }, [] {});
  t.d.onExit = [&] { ++exits; };  // count instead of leaving

  t.d.AddressEdit()->setFocus();
  QTest::keyClick(t.d.AddressEdit(), Qt::Key_Return);
  QTRY_COMPARE(runs.load(), 1);
  QTRY_VERIFY(!shell.WorkerRunning());

  t.host.EnableControl(ui::ID_EXIT, false);
  QTest::keyClick(&t.d, Qt::Key_Escape);
  QCOMPARE(exits, 0);
  t.host.EnableControl(ui::ID_EXIT, true);
  QTest::keyClick(&t.d, Qt::Key_Escape);
  QCOMPARE(exits, 1);
  t.d.ExitButton()->click();
  QCOMPARE(exits, 2);
}

void QtDialogTest::closeGuardAsksOnlyWhileAWorkerRuns() {
  Dialog t;
  ScriptedAnswers answers;
  answers.dialog = &t.d;
  t.host.SetAnswerer(answers.Answerer());
  HeldJob held;
  int ended = 0;
  Shell shell(t.d, t.host, held.Job(), [&] { ++ended; });

  t.d.ConnectButton()->click();
  QTRY_COMPARE(held.runs.load(), 1);
  answers.yes = {false};
  t.d.close();
  QCOMPARE(
      answers.seen,
      QStringList(Box("",
                      "ファーム書換え処理中に終了すると正常に動作しなくなる可能性があります\n終了"
                      "しますか?",
                      QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No)));
  QCOMPARE(ended, 0);
  QVERIFY(shell.WorkerRunning());
  QVERIFY(t.d.isVisible());

  answers.yes = {true};
  t.d.close();
  QCOMPARE(ended, 1);

  held.release.set_value();
  QTRY_VERIFY(!shell.WorkerRunning());
  t.d.close();  // after the run: closes at once, without a question
  QCOMPARE(answers.seen.size(), 2);
  QTRY_VERIFY(!t.d.isVisible());
  QCOMPARE(ended, 1);
}

// The exit paths need a process of their own; see ChildMain.
namespace {

int RunChild(const QString& mode, QByteArray* out) {
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DERURUZUD_QT_TEST_CHILD"), mode);
  child.setProcessEnvironment(env);
  child.start(QCoreApplication::applicationFilePath(), {});
  if (!child.waitForFinished(20000)) {
    child.kill();
    child.waitForFinished();
    return -1;
  }
  *out = child.readAllStandardOutput();
  return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -2;
}

}  // namespace

// Close with Yes and Exit, both while the worker is blocked for good, end the process at
// once with 0. Each output is written without a flush just before the end, which must
// flush it.
void QtDialogTest::exitPathsEndTheProcessWithZero() {
  for (const auto& [mode, last] : {std::pair{"close-yes", "worker busy; closing"},
                                   std::pair{"exit-while-running", "exit pressed"}}) {
    QByteArray out;
    QCOMPARE(RunChild(QString::fromLatin1(mode), &out), 0);
    QVERIFY2(out.endsWith(last), out.constData());
  }
}

namespace {

// Child processes for the exit paths: the program's own wiring with a scripted operator.
int ChildMain(int argc, char** argv, const QByteArray& mode) {
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  MainDialog d;
  QtDialogHost host(d);
  host.SetAnswerer([](QMessageBox&) { return QMessageBox::Yes; });
  ui::qt::InitMainDialog(d);
  std::atomic<bool> busy{false};
  std::promise<void> never;
  const std::shared_future<void> neverReady = never.get_future().share();
  Shell shell(d, host, [&](ui::DialogHost& owner) {
    busy = true;
    // A few stored texts, then blocked for good on nothing at all.
    for (int i = 0; i < 100; ++i) owner.SetControlText(ui::IDC_STATUS, std::to_string(i));
    neverReady.wait();
  });
  d.ConnectButton()->click();
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (busy) {
      poll.stop();
      if (mode == "close-yes") {
        std::fputs("worker busy; closing", stdout);
        d.close();
      } else {
        std::fputs("exit pressed", stdout);
        d.ExitButton()->click();
      }
    }
  });
  poll.start(5);
  const int code = QApplication::exec();
  if (code != 0) return 10 + code;
  return shell.Finish();
}

}  // namespace

int main(int argc, char** argv) {
  const QByteArray mode = qgetenv("DERURUZUD_QT_TEST_CHILD");
  if (!mode.isEmpty()) return ChildMain(argc, argv, mode);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QtDialogTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "qt_dialog_test.moc"
