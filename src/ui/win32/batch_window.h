// The batch window of the native Windows dialog: many devices updated side by side by the
// batch engine, with one question for all of them. Rows come from a discovery scan, typed
// addresses or ranges, a devices file or an earlier report; each row shows its device's
// phase and progress live, its notices, and its result once the run has ended.
//
// Thread notes: the window and everything it owns belong to the thread that created it
// (the GUI thread). Each Start runs one batch::BatchRun on an engine thread of its own;
// the GUI thread reads the run's views on a 100 ms timer and never waits for a device.
// The one question comes from the engine thread as a sent message, whose handler runs a
// modal dialog on the GUI thread. A scan runs on a worker of its own and posts its end.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>

#include "batch/batch_run.h"
#include "panel/events.h"

namespace ui::win32 {

// Templates in main_dialog.rc.
inline constexpr int kBatchWindowTemplate = 201;
inline constexpr int kBatchQuestionTemplate = 202;
inline constexpr int kBatchHistoryTemplate = 203;

// Control ids of the batch window (main_dialog.rc spells the same numbers). Close is
// IDCANCEL, so that Escape and the title bar's close do what it does.
inline constexpr int IDC_BATCH_RANGE_LABEL = 2001;
inline constexpr int IDC_BATCH_RANGE = 2002;
inline constexpr int IDC_BATCH_SCAN = 2003;
inline constexpr int IDC_BATCH_SCAN_PROGRESS = 2004;
inline constexpr int IDC_BATCH_ADD_LABEL = 2005;
inline constexpr int IDC_BATCH_ADDRESSES = 2006;
inline constexpr int IDC_BATCH_ADD = 2007;
inline constexpr int IDC_BATCH_REMOVE = 2008;
inline constexpr int IDC_BATCH_OPEN_LIST = 2009;
inline constexpr int IDC_BATCH_SAVE_LIST = 2010;
inline constexpr int IDC_BATCH_FROM_REPORT = 2011;
inline constexpr int IDC_BATCH_LIST = 2012;
inline constexpr int IDC_BATCH_DETAILS_LABEL = 2013;
inline constexpr int IDC_BATCH_DETAILS = 2014;
inline constexpr int IDC_BATCH_DATA_FILE = 2015;
inline constexpr int IDC_BATCH_SUMMARY = 2016;
inline constexpr int IDC_BATCH_START = 2017;
inline constexpr int IDC_BATCH_STOP = 2018;
inline constexpr int IDC_BATCH_SAVE_REPORT = 2019;
inline constexpr int IDC_BATCH_RETRY = 2020;
inline constexpr int IDC_BATCH_HISTORY = 2021;
// The question's dialog: its text (the lists) and the question line; Yes is IDYES, No IDNO.
inline constexpr int IDC_QUESTION_TEXT = 2101;
inline constexpr int IDC_QUESTION_ASK = 2102;
// The history's table.
inline constexpr int IDC_HISTORY_LIST = 2201;
inline constexpr int IDC_HISTORY_NOTE = 2202;

// The columns of the device table, in order.
enum class BatchColumn {
  Address,
  Port,
  Mac,
  Model,
  Version,
  Phase,
  Progress,
  Result,
  Reason,
  Count
};

// The jobs of a Start when the options name none.
inline constexpr std::size_t kBatchWindowJobs = 16;

// What the window asks of its operator outside its own controls: the system's file
// dialogs and message boxes by default; tests answer them in advance.
class BatchPrompts {
 public:
  virtual ~BatchPrompts() = default;
  // A file to read (save false) or to write, of the kind the filter text names
  // (BatchListFilter, BatchReportFilter); empty when the operator cancelled.
  virtual std::filesystem::path ChooseFile(HWND owner, bool save, panel::TextId filter);
  virtual void Notice(HWND owner, const std::string& text, panel::NoticeStyle style);
  // Yes and No, No preselected; true only for Yes.
  virtual bool Ask(HWND owner, const std::string& text);
  // The one question's dialog is up (IDC_QUESTION_TEXT holds the lists); it ends with
  // WM_COMMAND IDYES or IDNO. Nothing by default.
  virtual void QuestionShown(HWND question);
};

struct BatchWindowOptions {
  // Every Start's engine options; jobs 0 becomes kBatchWindowJobs.
  batch::BatchOptions engine{};
  // Read into the rows when the window opens (--devices); empty: none.
  std::filesystem::path devicesFile{};
  // Null: the system's dialogs. Must outlive the window.
  BatchPrompts* prompts = nullptr;
};

// The window as a modal dialog over owner (null: on its own, as --batch opens it);
// returns once it is closed.
void RunBatchWindow(HWND owner, const BatchWindowOptions& options);

// The window without a loop of its own, for a caller that pumps the messages itself; it
// destroys itself when closed. Null when it could not be made.
HWND CreateBatchWindow(HWND owner, const BatchWindowOptions& options);

}  // namespace ui::win32
