// The batch window's device list: one row per device, with its check box, what a scan or
// the operator named, and what the engine's live view last showed of it. The rows outlive
// a run: a device keeps its last result until it takes part in another.
//
// Thread notes: a Qt model; touch it only on the GUI thread. Refresh reads the run through
// BatchRun::View and NewNotices, which any thread may call while the engine runs.
#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <optional>
#include <string>
#include <vector>

#include "batch/batch_run.h"
#include "batch/targets.h"
#include "panel/text_catalog.h"
#include "report/device_report.h"
#include "xport/discovery.h"

namespace ui::qt {

class BatchModel : public QAbstractTableModel {
 public:
  enum Column { Address, Port, Mac, Model, Version, Phase, Progress, Result, Reason, ColumnCount };

  struct Row {
    batch::NamedTarget named{};
    bool checked = true;
    std::optional<int> scannedPort{};  // the XPort's LocalPort, as a scan read it
    std::optional<std::string> scannedMac{};
    // Of the device's latest run, from its start: the view, every notice, and the report
    // once the run ended.
    std::optional<batch::DeviceView> view{};
    std::vector<report::NoticeRecord> notices{};
    std::optional<report::DeviceReport> report{};
  };

  explicit BatchModel(QObject* parent = nullptr);

  // Adds rows for targets, all or none: none when one of them is listed already (or named
  // twice among them); *error then says which, as the console says it.
  bool Add(const std::vector<batch::NamedTarget>& targets, std::string* error);
  // Adds the XPorts a scan found; one already listed keeps its row and takes the scan's MAC
  // and port. origin names the scan in a later duplicate's message.
  void AddDiscovered(const std::vector<xport::DiscoveredXPort>& found, const std::string& origin);
  void RemoveRow(int row);
  void SetChecked(int row, bool checked);

  const Row& RowAt(int row) const { return rows_.at(static_cast<std::size_t>(row)); }
  std::vector<batch::NamedTarget> Targets(bool checkedOnly) const;
  std::vector<int> CheckedRows() const;
  // The rows whose last run did not end at the data file's version (neither updated nor
  // skipped).
  std::vector<int> FailedRows() const;

  // A run begins over these rows, in this order: the run's device i is rows[i]. Their
  // earlier views, notices and results are cleared.
  void BeginRun(const std::vector<int>& rows);
  // The data file's version, once the question told it: the rows' "after" until the
  // reports give theirs.
  void SetImageVersion(int version);
  // Takes the run's view of every device in it and the notices since the last call; rows
  // that changed are repainted. Returns the rows whose notices grew.
  std::vector<int> Refresh(const batch::BatchRun& run);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Cell texts as the table shows them (also for tests).
  QString Text(int row, Column column) const;
  // 0..100 for the progress column; -1 when the row shows no bar.
  int ProgressOf(int row) const;

 private:
  std::vector<Row> rows_;
  std::vector<int> runRows_;  // the run's device i -> row
  std::optional<int> imageVersion_;
};

// Draws the progress column as a progress bar.
class ProgressDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
};

// A column's name as a header shows it: the catalog's, starting with a capital.
QString HeaderText(panel::TextId id);

// The row's notices as the details pane shows them: one "[caption] text" each, a
// question's answer after it.
QString NoticesText(const std::vector<report::NoticeRecord>& notices);

}  // namespace ui::qt
