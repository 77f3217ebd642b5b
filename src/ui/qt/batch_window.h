// The batch window: many devices updated on the fleet engine, from a list the operator
// builds (a scan, typed addresses, a devices file, the failed devices of a report).
//
// Start takes the checked rows into one BatchRun, which runs on the window's engine
// thread. The GUI thread never waits for it: a timer reads the engine's live view (value
// snapshots, BatchRun::View and NewNotices) at most ten times a second, and the engine's
// one question comes over as a posted event while the engine thread waits for the answer
// under the window's own lock. Stop is BatchRun::RequestStop, as the console's first
// Ctrl-C; a second Stop, confirmed, ends the process at once. A scan (xport::Discover)
// runs on a thread of its own the same way.
//
// Thread notes: a QWidget; construct, call and destroy it on the GUI thread. The engine
// and scan threads touch only the guarded question and the done flags.
#pragma once

#include <QElapsedTimer>
#include <QMessageBox>
#include <QWidget>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "batch/batch_run.h"
#include "platform/socket.h"
#include "xport/discovery.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableView;
class QTimer;

namespace ui::qt {

class BatchModel;
class QuestionDialog;

class BatchWindow : public QWidget {
 public:
  // The options of each Start (data file, jobs, history); asked anew at every Start, so
  // that a data file dropped on the main dialog meanwhile is taken.
  using OptionsSource = std::function<batch::BatchOptions()>;
  // Given a message box or the QuestionDialog ready to be shown (texts and default button
  // set), returns the button the operator pressed (Yes or No for the question). Without an
  // answerer it is shown modally on the window and the operator answers it.
  using Answerer = std::function<QMessageBox::StandardButton(QDialog&)>;

  // endProcess: what a confirmed second Stop does (tests give a recorder).
  explicit BatchWindow(OptionsSource options, std::function<void()> endProcess,
                       QWidget* parent = nullptr);
  // A run still going is stopped (its clean-up runs) and joined, a scan waited for.
  ~BatchWindow() override;
  BatchWindow(const BatchWindow&) = delete;
  BatchWindow& operator=(const BatchWindow&) = delete;

  void SetAnswerer(Answerer answerer) { answerer_ = std::move(answerer); }
  void SetDiscoveryPace(const xport::DiscoveryPace& pace) { pace_ = pace; }
  // Called once the window has closed (the --batch program quits on it).
  std::function<void()> onClosed;

  // What the buttons do. A list or report that cannot be read, an entry that is not an
  // address and a device listed twice are refused with the message line saying why; the
  // paths are UTF-8 (the buttons ask for them with a file dialog).
  bool AddAddresses(const QString& text);
  bool OpenList(const QString& path);
  bool SaveList(const QString& path);
  bool AddFromReport(const QString& path);
  bool SaveReport(const QString& path);
  void Scan();
  // The checked rows, when no run goes on; with none checked, the message line says so.
  void Start();
  // First: the run stops at its next block and cleans up. Again: asks, and ends the
  // process on Yes.
  void Stop();
  // Checks exactly the rows whose last result is neither updated nor skipped and starts.
  void RetryFailed();
  void ShowHistory();

  bool Running() const { return engine_.joinable(); }
  bool Scanning() const { return scanner_.joinable(); }
  BatchModel& Model() const { return *model_; }
  QTableView* Table() const { return table_; }
  QLineEdit* RangeEdit() const { return range_; }
  QString MessageLine() const;
  QString SummaryLine() const;
  QString DetailsText() const;
  // The run's reports, once it ended (empty before and while it runs).
  const std::vector<report::DeviceReport>& Reports() const { return reports_; }

 protected:
  bool event(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  class EngineFrontEnd;

  void Poll();
  void FinishRun();
  void FinishScan();
  // The message line: an error (in red) unless error is false.
  void ShowMessage(const std::string& text, bool error = true);
  void UpdateDetails();
  void UpdateControls();
  void UpdateDataFileLabel(const batch::BatchOptions& options);
  QMessageBox::StandardButton Answer(QDialog& box);
  bool Ask(const QString& text);
  // Engine thread: posts the question and waits for its answer.
  bool Confirm(batch::BatchRun& run, const batch::BatchQuestion& question);
  void Wake();

  OptionsSource options_;
  std::function<void()> endProcess_;
  Answerer answerer_;
  xport::DiscoveryPace pace_{};

  BatchModel* model_ = nullptr;
  QTableView* table_ = nullptr;
  QLineEdit* range_ = nullptr;
  QLineEdit* addresses_ = nullptr;
  QProgressBar* scanBar_ = nullptr;
  QPlainTextEdit* details_ = nullptr;
  QLabel* dataFile_ = nullptr;
  QLabel* message_ = nullptr;
  QLabel* summary_ = nullptr;
  QPushButton *scan_ = nullptr, *add_ = nullptr, *openList_ = nullptr, *saveList_ = nullptr,
              *fromReport_ = nullptr, *remove_ = nullptr, *start_ = nullptr, *stop_ = nullptr,
              *saveReport_ = nullptr, *retry_ = nullptr, *history_ = nullptr, *close_ = nullptr;
  QTimer* ticker_ = nullptr;  // runs while a run or a scan goes on
  QuestionDialog* asking_ = nullptr;
  bool closeWhenIdle_ = false;

  std::unique_ptr<EngineFrontEnd> frontEnd_;
  std::unique_ptr<batch::BatchRun> run_;  // the last Start's, kept until the next
  std::vector<report::DeviceReport> reports_;
  std::thread engine_;
  std::atomic<bool> engineDone_{false};

  std::thread scanner_;
  std::atomic<bool> scanDone_{false};
  xport::DiscoveryResult scanResult_;  // written by the scan thread before scanDone_
  std::string scanRange_;
  QElapsedTimer scanClock_;
  qint64 scanLongestMs_ = 0;

  // The engine's question and its answer, between the engine and GUI threads.
  std::mutex mu_;
  std::condition_variable answered_;
  std::optional<batch::BatchQuestion> question_;  // guarded by mu_
  std::optional<bool> answer_;                    // guarded by mu_
};

}  // namespace ui::qt
