#include "ui/qt/qt_text.h"
#include "ui/qt/batch_model.h"

#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QPainter>
#include <QStyle>
#include <algorithm>

#include "panel/text_catalog.h"
#include "update/outcome.h"

namespace ui::qt {
namespace {

using panel::Stage;
using panel::TextId;


QString OneLine(const std::string& text) {
  return Utf8(text).trimmed().replace(QLatin1Char('\n'), QLatin1Char(' '));
}

// The notices that are not questions, on one line: what the row's reason cell shows while
// the run has no reason of its own.
QString NoticesLine(const std::vector<report::NoticeRecord>& notices) {
  QStringList texts;
  for (const report::NoticeRecord& n : notices) {
    if (!n.question) texts << OneLine(n.text);
  }
  return texts.join(QStringLiteral(" / "));
}

template <typename T>
std::optional<T> FirstOf(std::initializer_list<std::optional<T>> values) {
  for (const auto& v : values) {
    if (v) return v;
  }
  return std::nullopt;
}

}  // namespace

QString HeaderText(TextId id) {
  // The console's column names are lower case; a header starts with a capital.
  QString head = QString::fromUtf8(panel::Text(id));
  if (!head.isEmpty()) head[0] = head[0].toUpper();
  return head;
}

QString NoticesText(const std::vector<report::NoticeRecord>& notices) {
  QStringList lines;
  for (const report::NoticeRecord& n : notices) {
    QString text = Utf8(n.text).trimmed();
    // A question (the batch's own lists every device) is named by its first line.
    if (n.question) text = text.section(QLatin1Char('\n'), 0, 0) + (n.answer ? " -> y" : " -> n");
    lines << QStringLiteral("[%1] %2").arg(Utf8(n.caption), text);
  }
  return lines.join(QLatin1Char('\n'));
}

BatchModel::BatchModel(QObject* parent) : QAbstractTableModel(parent) {}

bool BatchModel::Add(const std::vector<batch::NamedTarget>& targets, std::string* error) {
  std::vector<batch::NamedTarget> all = Targets(false);
  all.insert(all.end(), targets.begin(), targets.end());
  if (!batch::CheckDistinct(all, error)) return false;
  if (targets.empty()) return true;
  const int first = rowCount();
  beginInsertRows({}, first, first + static_cast<int>(targets.size()) - 1);
  for (const batch::NamedTarget& t : targets) rows_.push_back(Row{t});
  endInsertRows();
  return true;
}

void BatchModel::AddDiscovered(const std::vector<xport::DiscoveredXPort>& found,
                               const std::string& origin) {
  std::vector<Row> freshRows;
  for (const xport::DiscoveredXPort& x : found) {
    Row row{{{x.address, std::nullopt}, origin}};
    row.scannedMac = xport::FormatMac(x.mac);
    if (x.recordRead) row.scannedPort = x.localPort;
    const auto listed = std::find_if(rows_.begin(), rows_.end(), [&](const Row& r) {
      return r.named.target.address == row.named.target.address;
    });
    if (listed == rows_.end()) {
      freshRows.push_back(std::move(row));
      continue;
    }
    listed->scannedMac = row.scannedMac;
    listed->scannedPort = row.scannedPort;
    const int r = static_cast<int>(listed - rows_.begin());
    emit dataChanged(index(r, 0), index(r, ColumnCount - 1));
  }
  if (freshRows.empty()) return;
  const int first = rowCount();
  beginInsertRows({}, first, first + static_cast<int>(freshRows.size()) - 1);
  for (Row& row : freshRows) rows_.push_back(std::move(row));
  endInsertRows();
}

void BatchModel::RemoveRow(int row) {
  if (row < 0 || row >= rowCount()) return;
  beginRemoveRows({}, row, row);
  rows_.erase(rows_.begin() + row);
  runRows_.clear();  // the rows moved: the last run's order no longer names them
  endRemoveRows();
}

void BatchModel::SetChecked(int row, bool checked) {
  setData(index(row, Address), checked ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
}

std::vector<batch::NamedTarget> BatchModel::Targets(bool checkedOnly) const {
  std::vector<batch::NamedTarget> out;
  for (const Row& r : rows_) {
    if (!checkedOnly || r.checked) out.push_back(r.named);
  }
  return out;
}

std::vector<int> BatchModel::CheckedRows() const {
  std::vector<int> out;
  for (int r = 0; r < rowCount(); ++r) {
    if (rows_[static_cast<std::size_t>(r)].checked) out.push_back(r);
  }
  return out;
}

std::vector<int> BatchModel::FailedRows() const {
  std::vector<int> out;
  for (int r = 0; r < rowCount(); ++r) {
    const auto& report = rows_[static_cast<std::size_t>(r)].report;
    if (report && report->result != update::Result::Updated &&
        report->result != update::Result::Skipped) {
      out.push_back(r);
    }
  }
  return out;
}

void BatchModel::BeginRun(const std::vector<int>& rows) {
  runRows_ = rows;
  imageVersion_.reset();
  for (int r : rows) {
    Row& row = rows_.at(static_cast<std::size_t>(r));
    row.view.reset();
    row.notices.clear();
    row.report.reset();
  }
  if (!rows_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}

void BatchModel::SetImageVersion(int version) { imageVersion_ = version; }

std::vector<int> BatchModel::Refresh(const batch::BatchRun& run) {
  std::vector<int> noticed;
  for (std::size_t i = 0; i < run.Size() && i < runRows_.size(); ++i) {
    const int r = runRows_[i];
    Row& row = rows_.at(static_cast<std::size_t>(r));
    batch::DeviceView view = run.View(i);
    auto fresh = run.NewNotices(i, row.notices.size());
    const bool changed = !row.view || !fresh.empty() || view.stage != row.view->stage ||
                         view.percent != row.view->percent || view.done != row.view->done ||
                         view.model != row.view->model || view.port != row.view->port ||
                         view.mac != row.view->mac;
    if (view.report && !row.report) row.report = *view.report;
    view.report = nullptr;  // the row keeps its own copy
    row.view = std::move(view);
    if (!fresh.empty()) {
      row.notices.insert(row.notices.end(), fresh.begin(), fresh.end());
      noticed.push_back(r);
    }
    if (changed) emit dataChanged(index(r, 0), index(r, ColumnCount - 1));
  }
  return noticed;
}

int BatchModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int BatchModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

QString BatchModel::Text(int r, Column column) const {
  const Row& row = RowAt(r);
  const report::DeviceReport* rep = row.report ? &*row.report : nullptr;
  const batch::DeviceView* view = row.view ? &*row.view : nullptr;
  const auto number = [](const std::optional<int>& v) {
    return v ? QString::number(*v) : QString();
  };
  switch (column) {
    case Address:
      return Utf8(device::AddressText(row.named.target));
    case Port:
      return number(FirstOf<int>({view ? view->port : std::nullopt, row.named.target.port,
                                  row.scannedPort}));
    case Mac:
      return Utf8(FirstOf<std::string>({view ? view->mac : std::nullopt, row.scannedMac})
                      .value_or(""));
    case Model:
      return view ? Utf8(view->model) : QString();
    case Version: {
      if (!view || !view->versionBefore) return {};
      const std::optional<int> after = rep ? rep->versionAfter : imageVersion_;
      return QString::number(*view->versionBefore) +
             (after ? QStringLiteral(" → %1").arg(*after) : QString());
    }
    case Phase:
      return view ? QString::fromUtf8(panel::Text(panel::StageText(view->stage))) : QString();
    case Progress: {
      const int p = ProgressOf(r);
      return p < 0 ? QString() : QStringLiteral("%1%").arg(p);
    }
    case Result:
      return rep ? QString::fromUtf8(panel::Text(update::ResultText(rep->result))) : QString();
    case Reason: {
      if (rep && !rep->reason.empty()) return OneLine(rep->reason);
      return NoticesLine(row.notices);
    }
    case ColumnCount:
      break;
  }
  return {};
}

int BatchModel::ProgressOf(int r) const {
  const Row& row = RowAt(r);
  if (row.report) return row.report->result == update::Result::Updated ? 100 : -1;
  if (row.view && (row.view->stage == Stage::Writing || row.view->stage == Stage::Verifying)) {
    return std::clamp(row.view->percent, 0, 100);
  }
  return -1;
}

QVariant BatchModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const auto column = static_cast<Column>(index.column());
  const Row& row = RowAt(index.row());
  switch (role) {
    case Qt::DisplayRole:
      return Text(index.row(), column);
    case Qt::CheckStateRole:
      if (column == Address) return row.checked ? Qt::Checked : Qt::Unchecked;
      break;
    case Qt::UserRole:
      if (column == Progress) return ProgressOf(index.row());
      break;
    case Qt::ToolTipRole:
      if (column == Reason && !row.notices.empty()) return NoticesText(row.notices);
      break;
    case Qt::DecorationRole:
      if (column == Reason && !NoticesLine(row.notices).isEmpty()) {
        return QApplication::style()->standardIcon(QStyle::SP_MessageBoxInformation);
      }
      break;
    case Qt::ForegroundRole:
      if (column == Result && row.report) {
        switch (row.report->result) {
          case update::Result::Updated: return QBrush(QColor(0x1B, 0x6E, 0x20));
          case update::Result::Failed:
          case update::Result::Interrupted: return QBrush(QColor(0xB7, 0x1C, 0x1C));
          default: break;
        }
      }
      break;
    default:
      break;
  }
  return {};
}

bool BatchModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.column() != Address || role != Qt::CheckStateRole) return false;
  rows_.at(static_cast<std::size_t>(index.row())).checked =
      value.value<Qt::CheckState>() == Qt::Checked;
  emit dataChanged(index, index, {Qt::CheckStateRole});
  return true;
}

Qt::ItemFlags BatchModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (index.column() == Address) f |= Qt::ItemIsUserCheckable;
  return f;
}

QVariant BatchModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static constexpr TextId kHeads[] = {TextId::ColumnAddress, TextId::ColumnPort, TextId::ColumnMac,
                                      TextId::ColumnModel,   TextId::ColumnVersion,
                                      TextId::ColumnPhase,   TextId::ColumnProgress,
                                      TextId::ColumnResult,  TextId::ColumnReason};
  if (section < 0 || section >= ColumnCount) return {};
  return HeaderText(kHeads[section]);
}

void ProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
  const int percent = index.data(Qt::UserRole).toInt();
  if (percent < 0) return QStyledItemDelegate::paint(painter, option, index);
  QStyleOptionViewItem background = option;
  initStyleOption(&background, index);
  background.text.clear();
  QApplication::style()->drawControl(QStyle::CE_ItemViewItem, &background, painter);
  QStyleOptionProgressBar bar;
  bar.rect = option.rect.adjusted(2, 2, -2, -2);
  bar.minimum = 0;
  bar.maximum = 100;
  bar.progress = percent;
  bar.text = QStringLiteral("%1%").arg(percent);
  bar.textVisible = true;
  bar.textAlignment = Qt::AlignCenter;
  bar.state = option.state | QStyle::State_Horizontal;
  bar.palette = option.palette;
  bar.fontMetrics = option.fontMetrics;
  QApplication::style()->drawControl(QStyle::CE_ProgressBar, &bar, painter);
}

}  // namespace ui::qt
