// The self-driving screenshot mode (developer option; see RunApplication).
#pragma once

#include <QString>

#include "ui/qt/batch_window.h"
#include "ui/qt/qt_dialog_host.h"
#include "ui/qt/shell.h"

namespace ui::qt {

// A DialogHost that passes every call to the dialog's host and photographs the dialog at
// the moments worth showing: the first bulk-write status once the bar is half full, and
// every notice and question (answered OK and Yes).
class ScreenshotHost : public ui::DialogHost {
 public:
  ScreenshotHost(MainDialog& dialog, QtDialogHost& inner, QString folder);

  void SetControlText(int id, const std::string& text) override;
  std::string GetControlText(int id, std::size_t maxChars) override {
    return inner_.GetControlText(id, maxChars);
  }
  void EnableControl(int id, bool enable) override { inner_.EnableControl(id, enable); }
  void SetProgressRange(int high) override { inner_.SetProgressRange(high); }
  void SetProgressStep(int step) override { inner_.SetProgressStep(step); }
  void SetProgressPos(int pos) override { inner_.SetProgressPos(pos); }
  void StepProgress() override { inner_.StepProgress(); }
  void ShowMessage(const std::string& text, const std::string& caption,
                   panel::NoticeStyle style) override {
    inner_.ShowMessage(text, caption, style);
  }
  bool AskQuestion(const std::string& text, const std::string& caption) override {
    return inner_.AskQuestion(text, caption);
  }

  // Writes the dialog as it stands to DIR/name.png (GUI thread).
  void GrabDialog(const QString& name);

 private:
  MainDialog& dialog_;
  QtDialogHost& inner_;
  QString folder_;
  bool bulkTaken_ = false;
  int notices_ = 0;
};

// Runs the screenshot mode on an initialised, shown dialog; returns the exit code.
int RunScreenshots(MainDialog& dialog, QtDialogHost& host, const QString& folder,
                   const QString& address, Job job);

// Runs the batch window's screenshot mode on a shown window: scans range when one is
// given, then writes batch-LANG-idle, -question (answered Yes), -writing (a row's bar past
// 40 %) and -done (the details of a failed device with notices) into folder, LANG "ja" or
// "en", and quits.
int RunBatchScreenshots(BatchWindow& window, const QString& folder, const QString& range);

}  // namespace ui::qt
