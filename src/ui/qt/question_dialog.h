// The batch's one question as a dialog: the devices to write, those the version policy
// skips or refuses and those that failed before it, each group with its count; each
// model's caution line once; the data file's version, SHA-256 (its first 16 digits) and
// signature, and its records with wrong checksums; the canary and the failure limit.
// Yes and No, No the default (Enter and Escape answer No until the operator moves on).
//
// Thread notes: a QWidget; GUI thread only.
#pragma once

#include <QDialog>

#include "batch/batch_run.h"

class QTreeWidget;

namespace ui::qt {

class QuestionDialog : public QDialog {
 public:
  explicit QuestionDialog(batch::BatchQuestion question, QWidget* parent = nullptr);

  const batch::BatchQuestion& Question() const { return question_; }
  QTreeWidget* List() const { return list_; }
  // Every text the dialog shows, top to bottom, one per line (the list's rows with their
  // cells joined by two blanks).
  QString Text() const;

 private:
  batch::BatchQuestion question_;
  QTreeWidget* list_ = nullptr;
  QStringList lines_;
};

}  // namespace ui::qt
