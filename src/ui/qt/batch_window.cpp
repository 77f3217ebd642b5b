#include "ui/qt/qt_text.h"
#include "ui/qt/batch_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "image/image_set.h"
#include "panel/text_catalog.h"
#include "platform/clock.h"
#include "platform/process_limits.h"
#include "platform/program_folder.h"
#include "platform/state_folder.h"
#include "report/history.h"
#include "ui/qt/batch_model.h"
#include "ui/qt/main_dialog.h"
#include "ui/qt/question_dialog.h"
#include "update/outcome.h"

namespace ui::qt {
namespace {

using panel::TextId;

std::filesystem::path PathOf(const QString& path) { return platform::PathFromUtf8(path.toStdString()); }

QEvent::Type WakeType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

constexpr int kTickMs = 100;  // the view is read at most ten times a second

}  // namespace

// The engine's front end. Tick does nothing: the GUI reads the view on its own timer.
class BatchWindow::EngineFrontEnd : public batch::BatchFrontEnd {
 public:
  explicit EngineFrontEnd(BatchWindow& window) : window_(window) {}
  void Tick(batch::BatchRun&) override {}
  bool Confirm(batch::BatchRun& run, const batch::BatchQuestion& question) override {
    return window_.Confirm(run, question);
  }

 private:
  BatchWindow& window_;
};

BatchWindow::BatchWindow(OptionsSource options, std::function<void()> endProcess,
                         QWidget* parent)
    : QWidget(parent, Qt::Window),
      options_(std::move(options)),
      endProcess_(std::move(endProcess)),
      frontEnd_(std::make_unique<EngineFrontEnd>(*this)) {
  setWindowTitle(Catalog(TextId::BatchTitle));
  setWindowIcon(ProgramIcon());
  setFont(DialogFont());
  const auto button = [this](TextId id, void (BatchWindow::*slot)()) {
    auto* b = new QPushButton(Catalog(id), this);
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, [this, slot] { (this->*slot)(); });
    return b;
  };

  range_ = new QLineEdit(QString::fromStdString(xport::DefaultDiscoveryRange()), this);
  range_->setPlaceholderText(QStringLiteral("192.168.0.0/24"));
  scan_ = button(TextId::BatchScan, &BatchWindow::Scan);
  connect(range_, &QLineEdit::returnPressed, this, &BatchWindow::Scan);
  scanBar_ = new QProgressBar(this);
  scanBar_->setRange(0, 100);
  scanBar_->setTextVisible(false);
  scanBar_->setMaximumWidth(160);
  scanBar_->setVisible(false);
  addresses_ = new QLineEdit(this);
  addresses_->setPlaceholderText(QStringLiteral("192.168.0.20-35"));
  add_ = new QPushButton(Catalog(TextId::BatchAdd), this);
  add_->setAutoDefault(false);
  const auto addTyped = [this] {
    if (AddAddresses(addresses_->text())) addresses_->clear();
  };
  connect(add_, &QPushButton::clicked, this, addTyped);
  connect(addresses_, &QLineEdit::returnPressed, this, addTyped);
  // The file buttons ask for a path, then do what the path methods do.
  const auto fileButton = [this](TextId id, TextId filter, bool save,
                                 bool (BatchWindow::*act)(const QString&)) {
    auto* b = new QPushButton(Catalog(id), this);
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, [this, id, filter, save, act] {
      const QString title = Catalog(id).remove(QStringLiteral("..."));
      const QString path = save ? QFileDialog::getSaveFileName(this, title, {}, Catalog(filter))
                                : QFileDialog::getOpenFileName(this, title, {}, Catalog(filter));
      if (!path.isEmpty()) (this->*act)(path);
    });
    return b;
  };
  openList_ = fileButton(TextId::BatchOpenList, TextId::BatchListFilter, false, &BatchWindow::OpenList);
  saveList_ = fileButton(TextId::BatchSaveList, TextId::BatchListFilter, true, &BatchWindow::SaveList);
  fromReport_ = fileButton(TextId::BatchFromReport, TextId::BatchReportFilter, false,
                           &BatchWindow::AddFromReport);
  remove_ = new QPushButton(Catalog(TextId::BatchRemove), this);
  remove_->setAutoDefault(false);
  connect(remove_, &QPushButton::clicked, this, [this] {
    QModelIndexList rows = table_->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [](auto& a, auto& b) { return a.row() > b.row(); });
    for (const QModelIndex& i : rows) model_->RemoveRow(i.row());
  });

  model_ = new BatchModel(this);
  table_ = new QTableView(this);
  table_->setModel(model_);
  table_->setItemDelegateForColumn(BatchModel::Progress, new ProgressDelegate(table_));
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->setVisible(false);
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 8);
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setWordWrap(false);
  const QFontMetrics fm(font());
  // Each column as wide as its longest value (the address's with its check box), and
  // its header; the reason takes the rest.
  const std::pair<BatchModel::Column, QString> widths[] = {
      {BatchModel::Address, QStringLiteral("MMM255.255.255.255")},
      {BatchModel::Port, QStringLiteral("65535")},
      {BatchModel::Mac, QStringLiteral("00-20-4A-DB-DB-DB")},
      {BatchModel::Model, QStringLiteral("KT-40D(-W)")},
      {BatchModel::Version, QStringLiteral("16383 → 16383")},
      {BatchModel::Phase, Catalog(TextId::PhaseLeaving)},
      {BatchModel::Progress, QStringLiteral("MMMMMMMM")},
      {BatchModel::Result, Catalog(TextId::ResultSkipped)}};
  const int padding = fm.horizontalAdvance(QStringLiteral("MM"));
  for (const auto& [column, sample] : widths) {
    const QString head = model_->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    table_->setColumnWidth(column, std::max(fm.horizontalAdvance(sample), fm.horizontalAdvance(head)) +
                                       padding);
  }
  connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &BatchWindow::UpdateDetails);

  details_ = new QPlainTextEdit(this);
  details_->setReadOnly(true);
  // Room for a changed XPort's story (its caution, the write, the restore) without scrolling.
  details_->setMinimumHeight(fm.lineSpacing() * 9);
  auto* detailsBox = new QGroupBox(Catalog(TextId::BatchDetails), this);
  (new QVBoxLayout(detailsBox))->addWidget(details_);
  auto* split = new QSplitter(Qt::Vertical, this);
  split->addWidget(table_);
  split->addWidget(detailsBox);
  split->setStretchFactor(0, 4);
  split->setStretchFactor(1, 1);

  dataFile_ = new QLabel(this);
  message_ = new QLabel(this);
  message_->setWordWrap(true);
  message_->setTextFormat(Qt::PlainText);
  summary_ = new QLabel(this);
  summary_->setTextFormat(Qt::PlainText);

  start_ = button(TextId::BatchStart, &BatchWindow::Start);
  stop_ = button(TextId::BatchStop, &BatchWindow::Stop);
  saveReport_ = fileButton(TextId::BatchSaveReport, TextId::BatchReportFilter, true,
                           &BatchWindow::SaveReport);
  retry_ = button(TextId::BatchRetryFailed, &BatchWindow::RetryFailed);
  history_ = button(TextId::BatchHistory, &BatchWindow::ShowHistory);
  close_ = new QPushButton(Catalog(TextId::BatchClose), this);
  close_->setAutoDefault(false);
  connect(close_, &QPushButton::clicked, this, &QWidget::close);

  auto* rows = new QGridLayout;
  rows->addWidget(new QLabel(Catalog(TextId::BatchRangeLabel), this), 0, 0);
  rows->addWidget(range_, 0, 1);
  auto* scanRow = new QHBoxLayout;
  scanRow->addWidget(scan_);
  scanRow->addWidget(scanBar_);
  scanRow->addStretch();
  rows->addLayout(scanRow, 0, 2);
  rows->addWidget(new QLabel(Catalog(TextId::BatchAddLabel), this), 1, 0);
  rows->addWidget(addresses_, 1, 1);
  auto* listRow = new QHBoxLayout;
  for (QPushButton* b : {add_, openList_, saveList_, fromReport_, remove_}) listRow->addWidget(b);
  listRow->addStretch();
  rows->addLayout(listRow, 1, 2);
  rows->setColumnStretch(1, 1);
  rows->setColumnStretch(2, 2);
  auto* bottom = new QHBoxLayout;
  for (QPushButton* b : {start_, stop_, saveReport_, retry_, history_}) bottom->addWidget(b);
  bottom->addStretch();
  bottom->addWidget(close_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(rows);
  layout->addWidget(split, 1);
  layout->addWidget(dataFile_);
  layout->addWidget(summary_);
  layout->addWidget(message_);
  layout->addLayout(bottom);

  ticker_ = new QTimer(this);
  ticker_->setInterval(kTickMs);
  connect(ticker_, &QTimer::timeout, this, &BatchWindow::Poll);
  UpdateDataFileLabel(options_());
  UpdateControls();
  int width = 60;
  for (int c = 0; c < BatchModel::ColumnCount; ++c) width += table_->columnWidth(c);
  resize(std::max(width + fm.horizontalAdvance(QLatin1Char('M')) * 24, 900),
         fm.height() * 44);
}

BatchWindow::~BatchWindow() {
  ticker_->stop();
  if (engine_.joinable()) {
    run_->RequestStop();
    {
      std::lock_guard lock(mu_);
      answer_ = false;
    }
    answered_.notify_all();
    engine_.join();
  }
  if (scanner_.joinable()) scanner_.join();
}

void BatchWindow::Wake() { QCoreApplication::postEvent(this, new QEvent(WakeType())); }

bool BatchWindow::event(QEvent* e) {
  if (e->type() != WakeType()) return QWidget::event(e);
  Poll();
  return true;
}

// Engine thread.
bool BatchWindow::Confirm(batch::BatchRun& run, const batch::BatchQuestion& question) {
  std::unique_lock lock(mu_);
  if (run.StopRequested()) return false;
  question_ = question;
  answer_.reset();
  lock.unlock();
  Wake();
  lock.lock();
  answered_.wait(lock, [this] { return answer_.has_value(); });
  const bool yes = *answer_;
  question_.reset();
  answer_.reset();
  // A Stop while the question was open has asked the run to stop already.
  return yes;
}

void BatchWindow::Poll() {
  if (scanner_.joinable()) {
    const qint64 elapsed = scanClock_.elapsed();
    scanBar_->setValue(static_cast<int>(std::min<qint64>(99, elapsed * 100 / scanLongestMs_)));
    if (scanDone_.load()) FinishScan();
  }
  if (engine_.joinable()) {
    const std::vector<int> noticed = model_->Refresh(*run_);
    const QModelIndex current = table_->currentIndex();
    if (current.isValid() && std::count(noticed.begin(), noticed.end(), current.row()) > 0) {
      UpdateDetails();
    }
    std::optional<batch::BatchQuestion> question;
    if (!asking_) {
      std::lock_guard lock(mu_);
      if (question_ && !answer_) question = question_;
    }
    if (question) {
      model_->SetImageVersion(question->imageVersion);
      QuestionDialog dialog(*question, this);
      asking_ = &dialog;
      const bool yes = Answer(dialog) == QMessageBox::Yes;
      asking_ = nullptr;
      {
        std::lock_guard lock(mu_);
        if (!answer_) answer_ = yes;
      }
      answered_.notify_all();
    }
    // The question's own event loop may have seen the run end already.
    if (engine_.joinable() && engineDone_.load()) FinishRun();
  }
  if (!Running() && !Scanning()) {
    ticker_->stop();
    if (closeWhenIdle_) close();
  }
}

void BatchWindow::FinishRun() {
  engine_.join();
  model_->Refresh(*run_);
  reports_ = run_->Reports();
  summary_->setText(Utf8(report::SummaryText(reports_)));
  std::string text;
  if (!run_->DataFileLookedIn().empty()) {
    text = panel::Text(TextId::DataFileLookedIn);
    for (const auto& place : run_->DataFileLookedIn()) text += "\n  " + platform::PathToUtf8(place);
  }
  std::error_code why;
  if (run_->HistoryFailures(&why) > 0) {
    if (!text.empty()) text += "\n";
    text += report::HistoryUnwrittenText(why, options_().stateFolder);
  }
  ShowMessage(text);
  UpdateDetails();
  UpdateControls();
}

void BatchWindow::ShowMessage(const std::string& text, bool error) {
  message_->setStyleSheet(error ? QStringLiteral("color: #b71c1c") : QString());
  message_->setText(Utf8(text));
}

QString BatchWindow::MessageLine() const { return message_->text(); }
QString BatchWindow::SummaryLine() const { return summary_->text(); }
QString BatchWindow::DetailsText() const { return details_->toPlainText(); }

void BatchWindow::UpdateDetails() {
  const QModelIndex current = table_->currentIndex();
  if (!current.isValid()) return details_->clear();
  const BatchModel::Row& row = model_->RowAt(current.row());
  QStringList head = {model_->Text(current.row(), BatchModel::Address),
                      model_->Text(current.row(), BatchModel::Result)};
  if (row.report) head << Utf8(row.report->reason);
  head.removeAll(QString());
  QString text = head.join(QStringLiteral("  "));
  const QString notices = NoticesText(row.notices);
  if (!notices.isEmpty()) text += QStringLiteral("\n") + notices;
  if (details_->toPlainText() != text) details_->setPlainText(text);
}

void BatchWindow::UpdateControls() {
  const bool busy = Running() || Scanning();
  for (QPushButton* b : {scan_, add_, openList_, fromReport_, remove_, start_}) {
    b->setEnabled(!busy);
  }
  range_->setEnabled(!busy);
  addresses_->setEnabled(!busy);
  stop_->setEnabled(Running());
  saveReport_->setEnabled(!Running() && !reports_.empty());
  retry_->setEnabled(!busy && !model_->FailedRows().empty());
}

void BatchWindow::UpdateDataFileLabel(const batch::BatchOptions& options) {
  const image::DataFileSearch search = image::FindDataFile(options.dataFile);
  dataFile_->setText(Utf8(panel::FormatText(
      TextId::BatchDataFileLabel,
      {search.found || !options.dataFile.empty() ? platform::PathToUtf8(search.path) : "-"})));
}

QMessageBox::StandardButton BatchWindow::Answer(QDialog& box) {
  if (answerer_) return answerer_(box);
  if (auto* message = qobject_cast<QMessageBox*>(&box)) {
    return static_cast<QMessageBox::StandardButton>(message->exec());
  }
  return box.exec() == QDialog::Accepted ? QMessageBox::Yes : QMessageBox::No;
}

bool BatchWindow::Ask(const QString& text) {
  QMessageBox box(this);
  box.setWindowModality(Qt::WindowModal);
  box.setWindowTitle(QString::fromUtf8(panel::CaptionText(panel::Caption::Confirm)));
  box.setText(text);
  box.setTextFormat(Qt::PlainText);
  box.setIcon(QMessageBox::Question);
  box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  return Answer(box) == QMessageBox::Yes;
}

bool BatchWindow::AddAddresses(const QString& text) {
  std::vector<batch::NamedTarget> targets;
  std::string error;
  const bool ok = batch::ParseAddressList(text.toStdString(), panel::Text(TextId::BatchAddLabel),
                                          &targets, &error) &&
                  model_->Add(targets, &error);
  ShowMessage(ok ? "" : error);
  return ok;
}

bool BatchWindow::OpenList(const QString& path) {
  std::string text, error;
  const std::string name = path.toStdString();
  std::vector<batch::NamedTarget> targets;
  if (!platform::ReadWholeFile(PathOf(path), &text)) {
    error = panel::FormatText(TextId::DevicesUnreadable, {name});
  } else if (batch::ParseDevicesText(text, name, &targets, &error) && targets.empty()) {
    error = panel::FormatText(TextId::NoDevices, {name});
  }
  const bool ok = error.empty() && model_->Add(targets, &error);
  ShowMessage(ok ? "" : error);
  return ok;
}

bool BatchWindow::SaveList(const QString& path) {
  const std::string text = batch::DevicesText(model_->Targets(false));
  const bool ok = platform::WriteFileAtomically(PathOf(path), text.data(), text.size());
  ShowMessage(ok ? "" : panel::FormatText(TextId::CannotWriteFile, {path.toStdString()}));
  return ok;
}

bool BatchWindow::AddFromReport(const QString& path) {
  std::string json, error;
  const std::string name = path.toStdString();
  std::vector<batch::NamedTarget> targets;
  if (!platform::ReadWholeFile(PathOf(path), &json)) json.clear();
  const bool ok = batch::TargetsFromReport(json, name, &targets, &error) &&
                  model_->Add(targets, &error);
  ShowMessage(ok ? "" : error);
  return ok;
}

bool BatchWindow::SaveReport(const QString& path) {
  const std::string json = report::ReportJson(reports_);
  const bool ok = !reports_.empty() &&
                  platform::WriteFileAtomically(PathOf(path), json.data(), json.size());
  ShowMessage(ok ? "" : panel::FormatText(TextId::ReportUnwritten, {path.toStdString()}));
  return ok;
}

void BatchWindow::Scan() {
  if (Scanning() || Running()) return;
  const std::string text = range_->text().trimmed().toStdString();
  xport::DiscoveryRange range;
  switch (xport::ParseDiscoveryRange(text, &range)) {
    case xport::RangeError::None: break;
    case xport::RangeError::Unparseable:
      return ShowMessage(panel::FormatText(TextId::BatchRangeUnparseable, {text}));
    case xport::RangeError::TooLarge:
      return ShowMessage(panel::FormatText(TextId::BatchRangeTooLarge, {text}));
    case xport::RangeError::NotUnicast:
      return ShowMessage(panel::FormatText(TextId::BatchRangeNotUnicast, {text}));
  }
  // The longest the scan can take: every burst and gap, then the wait for late replies.
  const std::size_t queries = std::max<std::size_t>(1, range.addresses.size());
  const std::size_t burst = static_cast<std::size_t>(std::max(1, pace_.burst));
  scanLongestMs_ = std::max<qint64>(
      1, static_cast<qint64>((queries + burst - 1) / burst) * pace_.gapMs + pace_.replyWaitMs);
  scanRange_ = text;
  scanDone_ = false;
  scanClock_.start();
  scanBar_->setValue(0);
  scanBar_->setVisible(true);
  ShowMessage(panel::FormatText(TextId::BatchScanning, {text}), false);
  scanner_ = std::thread([this, range, pace = pace_] {
    scanResult_ = xport::Discover(range, pace);
    scanDone_ = true;
    Wake();
  });
  ticker_->start();
  UpdateControls();
}

void BatchWindow::FinishScan() {
  scanner_.join();
  scanBar_->setVisible(false);
  const auto trimmed = [](TextId id) { return QString::fromUtf8(panel::Text(id)).trimmed().toStdString(); };
  switch (scanResult_.failure) {
    case xport::DiscoveryFailure::None: break;
    case xport::DiscoveryFailure::Socket: ShowMessage(trimmed(TextId::UdpOpenFailed)); break;
    case xport::DiscoveryFailure::Broadcast: ShowMessage(trimmed(TextId::BatchScanBroadcast)); break;
    case xport::DiscoveryFailure::Bind: ShowMessage(trimmed(TextId::UdpBindFailed)); break;
  }
  if (scanResult_.failure == xport::DiscoveryFailure::None) {
    model_->AddDiscovered(scanResult_.xports, panel::Text(TextId::BatchScan));
    const std::size_t n = scanResult_.xports.size();
    ShowMessage(n == 0 ? panel::FormatText(TextId::DiscoverNoneAnswered, {scanRange_})
                       : panel::FormatText(TextId::DiscoverAnswered, {std::to_string(n)}),
                false);
  }
  UpdateControls();
}

void BatchWindow::Start() {
  if (Running()) return;
  const std::vector<int> rows = model_->CheckedRows();
  if (rows.empty()) return ShowMessage(panel::Text(TextId::BatchNoDevices));
  // Every identified device holds its TCP connection until its leave command.
  const std::size_t openFiles = platform::RaiseOpenFileLimit();
  const std::size_t largest = std::min(batch::kMaxDevices, openFiles > 64 ? openFiles - 64 : 0);
  if (rows.size() > largest) {
    return ShowMessage(panel::FormatText(
        TextId::TooManyDevices, {std::to_string(rows.size()), std::to_string(largest)}));
  }
  const batch::BatchOptions options = options_();
  UpdateDataFileLabel(options);
  reports_.clear();
  summary_->clear();
  ShowMessage("");
  model_->BeginRun(rows);
  run_.reset();
  run_ = std::make_unique<batch::BatchRun>(model_->Targets(true), options);
  {
    std::lock_guard lock(mu_);
    question_.reset();
    answer_.reset();
  }
  engineDone_ = false;
  engine_ = std::thread([this] {
    platform::LowerTimerSlack();
    run_->Run(*frontEnd_);
    engineDone_ = true;
    Wake();
  });
  ticker_->start();
  UpdateControls();
  UpdateDetails();
}

void BatchWindow::Stop() {
  if (!Running()) return;
  if (!run_->StopRequested()) {
    run_->RequestStop();
    {
      std::lock_guard lock(mu_);
      if (question_ && !answer_) answer_ = false;
    }
    answered_.notify_all();
    if (asking_) asking_->reject();
    ShowMessage(panel::Text(TextId::BatchStopRequested), false);
    return;
  }
  if (Ask(Catalog(TextId::BatchStopAgain))) endProcess_();
}

void BatchWindow::RetryFailed() {
  if (Running()) return;
  const std::vector<int> failed = model_->FailedRows();
  if (failed.empty()) return;
  for (int r = 0; r < model_->rowCount(); ++r) {
    model_->SetChecked(r, std::count(failed.begin(), failed.end(), r) > 0);
  }
  Start();
}

void BatchWindow::ShowHistory() {
  std::vector<std::string> warnings;
  const std::filesystem::path path = report::HistoryPath(options_().stateFolder);
  std::vector<report::HistoryEntry> entries = report::ReadHistory(path, 200, &warnings);
  std::reverse(entries.begin(), entries.end());  // newest first

  auto* dialog = new QDialog(this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setFont(font());
  dialog->setWindowTitle(Catalog(TextId::BatchTitle) + QStringLiteral(" - ") +
                         Catalog(TextId::BatchHistory));
  auto* table = new QTableWidget(static_cast<int>(entries.size()), 8, dialog);
  QStringList heads;
  for (TextId id : {TextId::ColumnTime, TextId::ColumnAddress, TextId::ColumnMac,
                    TextId::ColumnModel, TextId::ColumnVersion, TextId::ColumnResult,
                    TextId::ColumnSeconds, TextId::ColumnReason}) {
    heads << HeaderText(id);
  }
  table->setHorizontalHeaderLabels(heads);
  // A line keeps the result's stable name; the table shows the operator's word for it.
  const auto resultText = [](const std::string& name) {
    for (int r = 0; r <= static_cast<int>(update::Result::WouldUpdate); ++r) {
      const auto result = static_cast<update::Result>(r);
      if (name == update::ResultName(result)) return Catalog(update::ResultText(result));
    }
    return Utf8(name);
  };
  for (int r = 0; r < table->rowCount(); ++r) {
    const report::HistoryEntry& e = entries[static_cast<std::size_t>(r)];
    const QString version = e.versionBefore.empty() && e.versionAfter.empty()
                                ? QString()
                                : Utf8(e.versionBefore) + QStringLiteral(" → ") + Utf8(e.versionAfter);
    const QString cells[] = {Utf8(e.time),      Utf8(e.address),   Utf8(e.mac),
                             Utf8(e.model),     version,           resultText(e.result),
                             Utf8(e.seconds),   Utf8(e.reason)};
    for (int c = 0; c < table->columnCount(); ++c) table->setItem(r, c, new QTableWidgetItem(cells[c]));
  }
  table->verticalHeader()->setDefaultSectionSize(table_->verticalHeader()->defaultSectionSize());
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->verticalHeader()->setVisible(false);
  table->resizeColumnsToContents();
  table->horizontalHeader()->setStretchLastSection(true);
  auto* layout = new QVBoxLayout(dialog);
  if (entries.empty()) {
    layout->addWidget(new QLabel(
        path.empty() ? Catalog(TextId::HistoryNoFolder)
                     : Utf8(panel::FormatText(TextId::HistoryEmpty, {platform::PathToUtf8(path)})),
        dialog));
  }
  for (const std::string& w : warnings) layout->addWidget(new QLabel(Utf8(w), dialog));
  layout->addWidget(table);
  dialog->resize(std::min(1100, width()), height() * 2 / 3);
  dialog->show();
}

void BatchWindow::closeEvent(QCloseEvent* e) {
  if (Running()) {
    e->ignore();
    if (run_->StopRequested()) return Stop();  // the second Stop: asks, may end at once
    if (Ask(Catalog(TextId::CloseWhileRunning))) {
      closeWhenIdle_ = true;
      Stop();
    }
    return;
  }
  if (Scanning()) {
    // A scan cannot be cut short; the window goes once it has ended.
    e->ignore();
    closeWhenIdle_ = true;
    hide();
    return;
  }
  e->accept();
  if (onClosed) onClosed();
}

}  // namespace ui::qt
