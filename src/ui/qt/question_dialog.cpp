#include "ui/qt/qt_text.h"
#include "ui/qt/question_dialog.h"

#include <algorithm>

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <set>

#include "panel/events.h"
#include "panel/text_catalog.h"
#include "ui/qt/batch_model.h"
#include "ui/qt/main_dialog.h"
#include "update/outcome.h"

namespace ui::qt {
namespace {

using panel::TextId;


}  // namespace

QuestionDialog::QuestionDialog(batch::BatchQuestion question, QWidget* parent)
    : QDialog(parent), question_(std::move(question)) {
  setWindowTitle(QString::fromUtf8(panel::CaptionText(panel::Caption::Confirm)));
  setWindowModality(Qt::WindowModal);
  setFont(DialogFont());
  auto* layout = new QVBoxLayout(this);

  list_ = new QTreeWidget(this);
  list_->setColumnCount(5);
  list_->setHeaderLabels({HeaderText(TextId::ColumnAddress), HeaderText(TextId::ColumnPort),
                          HeaderText(TextId::ColumnMac), HeaderText(TextId::ColumnModel),
                          HeaderText(TextId::ColumnVersion)});
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::NoSelection);
  list_->setFocusPolicy(Qt::NoFocus);
  const auto group = [&](TextId head, std::size_t count) {
    auto* item = new QTreeWidgetItem(list_, {Utf8(batch::GroupHead(head, count))});
    item->setFirstColumnSpanned(true);
    QFont bold = item->font(0);
    bold.setBold(true);
    item->setFont(0, bold);
    lines_ << item->text(0);
    return item;
  };
  const auto entries = [&](TextId head, const std::vector<batch::QuestionEntry>& list) {
    if (list.empty()) return;
    group(head, list.size());
    for (const batch::QuestionEntry& e : list) {
      const device::ModelInfo* model = device::FindModel(e.modelCode);
      const QStringList cells = {
          Utf8(e.address), QString::number(e.port), Utf8(e.mac),
          model ? QString::fromUtf8(model->name) : QString(),
          QStringLiteral("%1 → %2").arg(e.versionBefore).arg(question_.imageVersion)};
      new QTreeWidgetItem(list_, cells);
      lines_ << cells.join(QStringLiteral("  "));
    }
  };
  entries(TextId::BatchQuestionHead, question_.toWrite);
  entries(TextId::BatchQuestionSkippedHead, question_.skipped);
  entries(TextId::BatchQuestionRefusedHead, question_.refused);
  if (!question_.failed.empty()) {
    group(TextId::BatchQuestionFailedHead, question_.failed.size());
    for (const batch::FailedEntry& f : question_.failed) {
      auto* item = new QTreeWidgetItem(
          list_, {Utf8(f.address) + QStringLiteral("    ") + Utf8(update::ReasonText(f.failure))});
      item->setFirstColumnSpanned(true);
      lines_ << item->text(0);
    }
  }
  // The group heads span the row: the columns fit the devices' cells, with room between.
  const QFontMetrics fm(list_->font());
  for (int c = 0; c < list_->columnCount(); ++c) {
    int width = fm.horizontalAdvance(list_->headerItem()->text(c));
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
      const QTreeWidgetItem* item = list_->topLevelItem(i);
      if (!item->isFirstColumnSpanned()) width = std::max(width, fm.horizontalAdvance(item->text(c)));
    }
    list_->setColumnWidth(c, width + fm.horizontalAdvance(QStringLiteral("MM")));
  }
  list_->header()->setStretchLastSection(true);
  layout->addWidget(list_, 1);

  // Below the list: each model's caution once, then the run's values and the question.
  QStringList below;
  std::set<TextId> cautions;
  for (const batch::QuestionEntry& e : question_.toWrite) {
    const device::ModelInfo* model = device::FindModel(e.modelCode);
    if (model && cautions.insert(model->caution).second) below << Catalog(model->caution).trimmed();
  }
  for (const std::string& line : update::DataFileLines(question_.dataFile)) below << Utf8(line);
  const std::size_t writes = question_.toWrite.size();
  if (question_.canary > 0 && question_.canary < writes) {
    below << Utf8(panel::FormatText(TextId::BatchQuestionCanary,
                                    {std::to_string(question_.canary),
                                     std::to_string(writes - question_.canary)}));
  }
  if (question_.maxFailures > 0) {
    below << Utf8(panel::FormatText(TextId::BatchQuestionFailureLimit,
                                    {std::to_string(question_.maxFailures)}));
  }
  below << Utf8(panel::FormatText(TextId::BatchQuestionAsk, {std::to_string(writes)}));
  for (const QString& text : below) {
    auto* label = new QLabel(text, this);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    layout->addWidget(label);
    lines_ << text;
  }

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Yes | QDialogButtonBox::No, this);
  QPushButton* no = buttons->button(QDialogButtonBox::No);
  no->setDefault(true);
  no->setFocus();
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);

  // Wide enough for the list's columns, high enough for some twenty rows.
  int width = 40;
  for (int c = 0; c < list_->columnCount(); ++c) width += list_->columnWidth(c);
  const int rowHeight = list_->sizeHintForRow(0) > 0 ? list_->sizeHintForRow(0) : 20;
  const int rows = std::min(list_->topLevelItemCount(), 20) + 2;
  list_->setMinimumSize(std::clamp(width, fm.horizontalAdvance(QLatin1Char('M')) * 40, 900),
                        rows * rowHeight);
}

QString QuestionDialog::Text() const { return lines_.join(QLatin1Char('\n')); }

}  // namespace ui::qt
