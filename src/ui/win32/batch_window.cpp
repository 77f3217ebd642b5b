#include "ui/win32/batch_window.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "batch/targets.h"
#include "image/image_set.h"
#include "panel/device_identity.h"
#include "panel/panel_texts.h"
#include "panel/text_catalog.h"
#include "platform/clock.h"
#include "platform/program_folder.h"
#include "platform/state_folder.h"
#include "platform/text_win32.h"
#include "report/device_report.h"
#include "report/history.h"
#include "ui/win32/win32_host.h"
#include "update/outcome.h"
#include "xport/discovery.h"
#include "xport/wire.h"

namespace ui::win32 {

std::filesystem::path BatchPrompts::ChooseFile(HWND owner, bool save, panel::TextId filter) {
  // "Device lists (*.txt)": the pattern is what the parentheses hold.
  const std::string label = panel::Text(filter);
  const auto open = label.rfind('(');
  const auto close = label.rfind(')');
  std::string pattern = open != std::string::npos && close > open
                            ? label.substr(open + 1, close - open - 1)
                            : std::string("*.*");
  std::wstring filterText = platform::ToWide(label) + L'\0' + platform::ToWide(pattern) + L'\0';
  filterText += L'\0';
  const std::wstring extension = platform::ToWide(pattern.substr(pattern.find('.') + 1));
  wchar_t file[MAX_PATH] = {};
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filterText.c_str();
  ofn.lpstrFile = file;
  ofn.nMaxFile = MAX_PATH;
  ofn.lpstrDefExt = extension.c_str();
  ofn.Flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR |
              (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST);
  const BOOL chosen = save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
  return chosen ? std::filesystem::path(file) : std::filesystem::path();
}

void BatchPrompts::Notice(HWND owner, const std::string& text, panel::NoticeStyle style) {
  ShowNoticeBox(owner, text, panel::kProgramName, style);
}

bool BatchPrompts::Ask(HWND owner, const std::string& text) {
  return AskYesNoBox(owner, text, panel::kProgramName);
}

void BatchPrompts::QuestionShown(HWND) {}

namespace {

using panel::Stage;
using panel::Text;
using panel::TextId;
using platform::ToUtf8;
using platform::ToWide;

// Sent by the engine thread: the one question (lParam: the BatchQuestion); the result is
// IDYES or IDNO.
constexpr UINT kMsgQuestion = WM_APP + 1;
// Posted when the engine's Run() or a scan has returned.
constexpr UINT kMsgRunEnded = WM_APP + 2;
constexpr UINT kMsgScanEnded = WM_APP + 3;
// Ten looks at the engine's view a second, and with them at most ten redraws.
constexpr UINT_PTR kViewTimer = 1;
constexpr UINT kViewTimerMs = 100;
constexpr int kColumns = static_cast<int>(BatchColumn::Count);
constexpr int kScanSteps = 1000;
constexpr int kReasonMinWidth = 120;

std::wstring Crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return ToWide(out);
}

std::string OneLine(std::string text) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  while (!text.empty() && text.front() == '\n') text.erase(text.begin());
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

std::string ItemText(HWND dialog, int id) {
  const HWND item = GetDlgItem(dialog, id);
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(item)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(item, text.data(), static_cast<int>(text.size()))));
  return ToUtf8(text);
}

void SetText(HWND dialog, int id, const std::string& text) {
  SetDlgItemTextW(dialog, id, ToWide(text).c_str());
}

struct QuestionContext {
  const batch::BatchQuestion* question;
  BatchPrompts* prompts;
};

INT_PTR CALLBACK QuestionProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    const auto* context = reinterpret_cast<const QuestionContext*>(lParam);
    const batch::BatchQuestion& q = *context->question;
    SetWindowTextW(dialog, ToWide(panel::CaptionText(panel::Caption::Confirm)).c_str());
    SetDlgItemTextW(dialog, IDC_QUESTION_TEXT, Crlf(batch::QuestionText(q)).c_str());
    SetText(dialog, IDC_QUESTION_ASK,
            panel::FormatText(TextId::BatchQuestionAsk, {std::to_string(q.toWrite.size())}));
    SetText(dialog, IDYES, Text(TextId::BatchWinYes));
    SetText(dialog, IDNO, Text(TextId::BatchWinNo));
    SetFocus(GetDlgItem(dialog, IDNO));
    context->prompts->QuestionShown(dialog);
    return FALSE;  // the focus is set: on No
  }
  if (message == WM_COMMAND) {
    const int id = LOWORD(wParam);
    if (id == IDYES || id == IDNO || id == IDCANCEL) EndDialog(dialog, id == IDYES ? IDYES : IDNO);
    return TRUE;
  }
  return FALSE;
}

void AddColumn(HWND list, int index, const std::string& title, int width) {
  const std::wstring text = ToWide(title);
  LVCOLUMNW column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
  column.pszText = const_cast<wchar_t*>(text.c_str());
  column.cx = width;
  column.iSubItem = index;
  SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index),
               reinterpret_cast<LPARAM>(&column));
}

// The widest of the texts as the list draws them, with the margin a cell keeps.
int WidestText(HWND list, std::initializer_list<std::string> texts) {
  int widest = 0;
  for (const std::string& t : texts) {
    const std::wstring w = ToWide(t);
    widest = std::max(widest, static_cast<int>(SendMessageW(list, LVM_GETSTRINGWIDTHW, 0,
                                                            reinterpret_cast<LPARAM>(w.c_str()))));
  }
  return widest + 16;
}

void SetCell(HWND list, int row, int column, const std::string& text) {
  const std::wstring w = ToWide(text);
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = const_cast<wchar_t*>(w.c_str());
  SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

bool Checked(HWND list, int row) {
  return ((SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_STATEIMAGEMASK) >>
           12) -
          1) != 0;
}

void SetChecked(HWND list, int row, bool checked) {
  LVITEMW item{};
  item.stateMask = LVIS_STATEIMAGEMASK;
  item.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
  SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

std::string VersionText(const std::optional<int>& before, const std::optional<int>& after) {
  if (!before) return after ? "-> " + std::to_string(*after) : "";
  if (!after || *after == *before) return std::to_string(*before);
  return std::to_string(*before) + " -> " + std::to_string(*after);
}

// How a control follows the window's size: moved with the right or bottom edge, or
// stretched with it. The controls not named here keep their place at the top left.
struct Anchor {
  int id;
  bool moveX, moveY, growW, growH;
};
constexpr Anchor kAnchors[] = {{IDC_BATCH_LIST, false, false, true, true},
                               {IDC_BATCH_DETAILS_LABEL, false, true, false, false},
                               {IDC_BATCH_DETAILS, false, true, true, false},
                               {IDC_BATCH_DATA_FILE, false, true, true, false},
                               {IDC_BATCH_SUMMARY, false, true, true, false},
                               {IDC_BATCH_START, false, true, false, false},
                               {IDC_BATCH_STOP, false, true, false, false},
                               {IDC_BATCH_SAVE_REPORT, false, true, false, false},
                               {IDC_BATCH_RETRY, false, true, false, false},
                               {IDC_BATCH_HISTORY, false, true, false, false},
                               {IDCANCEL, true, true, false, false}};

// One device of the table.
struct Row {
  batch::NamedTarget named;
  std::optional<int> scannedPort;  // what a scan learnt of it
  std::optional<std::string> scannedMac;
  std::string hint;                     // shown before a run: the scan's settings note
  std::optional<std::size_t> runIndex;  // its place in the current run
  std::vector<report::NoticeRecord> notices;
  std::optional<update::Result> result;  // how the last run that had it ended
  std::string reason;                    // and why, when it did not end well
  int percent = -1;                      // the progress column's bar; -1: none
  std::array<std::string, kColumns> cells{};
};

// The engine's side of the window. Everything here runs on the engine thread; it touches
// no control, and reaches the window only through the sent question.
class WindowFrontEnd final : public batch::BatchFrontEnd {
 public:
  void Tick(batch::BatchRun&) override {}
  bool Confirm(batch::BatchRun& run, const batch::BatchQuestion& question) override {
    const bool yes =
        SendMessageW(window, kMsgQuestion, 0, reinterpret_cast<LPARAM>(&question)) == IDYES;
    return yes && !run.StopRequested();
  }
  HWND window = nullptr;
};

class BatchWindow {
 public:
  BatchWindow(const BatchWindowOptions& options, bool modal)
      : options_(options),
        modal_(modal),
        prompts_(options.prompts ? options.prompts : &ownPrompts_) {
    if (options_.engine.jobs == 0) options_.engine.jobs = kBatchWindowJobs;
  }
  ~BatchWindow();
  BatchWindow(const BatchWindow&) = delete;
  BatchWindow& operator=(const BatchWindow&) = delete;

  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void Init(HWND window);

 private:
  HWND List() const { return GetDlgItem(window_, IDC_BATCH_LIST); }
  bool Running() const { return engine_.joinable(); }
  bool Scanning() const { return scanner_.joinable(); }
  void Notice(const std::string& text) {
    prompts_->Notice(window_, text, panel::NoticeStyle::Error);
  }

  void Command(int id);
  void SetUpList();
  bool AddTargets(std::vector<batch::NamedTarget> more);
  void AddTyped();
  void AddFromFile(const std::filesystem::path& path, bool report);
  void SaveList();
  void RemoveSelected();
  void Start();
  void Stop();
  void Close();
  void RunEnded();
  void SaveReport();
  void RetryFailed();
  void StartScan();
  void ScanEnded();
  void ShowHistory();
  LRESULT AskQuestion(const batch::BatchQuestion& question);
  void Refresh();
  void ShowRow(int index);
  void ShowDetails();
  LRESULT DrawCell(NMLVCUSTOMDRAW* draw);
  void UpdateControls();
  void Layout(int width, int height);

  BatchWindowOptions options_;
  bool modal_;
  BatchPrompts ownPrompts_;
  BatchPrompts* prompts_;
  HWND window_ = nullptr;
  std::vector<Row> rows_;
  // Set while many check boxes change at once: the buttons are looked at once afterwards,
  // not once per row.
  bool settingChecks_ = false;
  // The template's sizes, which resizing starts from and never goes below.
  SIZE templateClient_{};
  SIZE templateWindow_{};
  std::array<RECT, std::size(kAnchors)> anchorRects_{};

  // The current run, its engine thread and its front end; replaced only while no engine
  // runs. The run outlives the thread: its rows show its reports.
  WindowFrontEnd frontEnd_;
  std::unique_ptr<batch::BatchRun> run_;
  std::thread engine_;
  std::atomic<bool> engineEnded_{false};
  bool closeWhenEnded_ = false;

  std::thread scanner_;
  xport::DiscoveryResult scanResult_;  // written by the scanner, read after its join
  std::int64_t scanStartMs_ = 0;
  std::int64_t scanLongestMs_ = 1;
};

BatchWindow::~BatchWindow() {
  // Only an owner that goes away under a running batch gets here with an engine: it stops,
  // and the question it may still send finds no window to answer it (No).
  if (run_ && Running()) run_->RequestStop();
  while (Running() && !engineEnded_) {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // delivers the messages sent meanwhile
    Sleep(10);
  }
  if (engine_.joinable()) engine_.join();
  if (scanner_.joinable()) scanner_.join();
}

void BatchWindow::Init(HWND window) {
  window_ = window;
  frontEnd_.window = window;
  SetWindowTextW(window, ToWide(Text(TextId::BatchTitle)).c_str());
  const std::pair<int, TextId> texts[] = {{IDC_BATCH_RANGE_LABEL, TextId::BatchRangeLabel},
                                          {IDC_BATCH_SCAN, TextId::BatchScan},
                                          {IDC_BATCH_ADD_LABEL, TextId::BatchAddLabel},
                                          {IDC_BATCH_ADD, TextId::BatchAdd},
                                          {IDC_BATCH_REMOVE, TextId::BatchRemove},
                                          {IDC_BATCH_OPEN_LIST, TextId::BatchOpenList},
                                          {IDC_BATCH_SAVE_LIST, TextId::BatchSaveList},
                                          {IDC_BATCH_FROM_REPORT, TextId::BatchFromReport},
                                          {IDC_BATCH_DETAILS_LABEL, TextId::BatchDetails},
                                          {IDC_BATCH_START, TextId::BatchStart},
                                          {IDC_BATCH_STOP, TextId::BatchStop},
                                          {IDC_BATCH_SAVE_REPORT, TextId::BatchSaveReport},
                                          {IDC_BATCH_RETRY, TextId::BatchRetryFailed},
                                          {IDC_BATCH_HISTORY, TextId::BatchHistory},
                                          {IDCANCEL, TextId::BatchClose}};
  for (const auto& [id, text] : texts) SetText(window, id, Text(text));
  const image::DataFileSearch data = image::FindDataFile(options_.engine.dataFile);
  SetText(window, IDC_BATCH_DATA_FILE,
          panel::FormatText(TextId::BatchDataFileLabel, {platform::PathToUtf8(data.path)}));
  SetText(window, IDC_BATCH_RANGE, xport::DefaultDiscoveryRange());
  SendDlgItemMessageW(window, IDC_BATCH_SCAN_PROGRESS, PBM_SETRANGE32, 0, kScanSteps);
  ShowWindow(GetDlgItem(window, IDC_BATCH_SCAN_PROGRESS), SW_HIDE);  // shown while a scan runs
  RECT rect{};
  GetWindowRect(window, &rect);
  templateWindow_ = {rect.right - rect.left, rect.bottom - rect.top};
  GetClientRect(window, &rect);
  templateClient_ = {rect.right, rect.bottom};
  for (std::size_t i = 0; i < std::size(kAnchors); ++i) {
    GetWindowRect(GetDlgItem(window, kAnchors[i].id), &anchorRects_[i]);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&anchorRects_[i]), 2);
  }
  SetUpList();
  if (!options_.devicesFile.empty()) AddFromFile(options_.devicesFile, false);
  UpdateControls();
  SetFocus(GetDlgItem(window, IDC_BATCH_ADDRESSES));
}

void BatchWindow::SetUpList() {
  const HWND list = List();
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
               LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER);
  auto all = [](std::initializer_list<TextId> ids) {
    std::vector<std::string> v;
    for (TextId id : ids) v.push_back(Text(id));
    return v;
  };
  auto widest = [&](TextId header, const std::vector<std::string>& values) {
    int w = WidestText(list, {Text(header)});
    for (const std::string& v : values) w = std::max(w, WidestText(list, {v}));
    return w;
  };
  using enum TextId;
  const int widths[] = {
      // The address column also holds the check box.
      widest(ColumnAddress, {"255.255.255.255"}) + GetSystemMetrics(SM_CXSMICON) + 4,
      widest(ColumnPort, {"65535"}),
      widest(ColumnMac, {"00-20-4A-0B-4C-0E"}),
      widest(ColumnModel, {"KT-40D(-W)"}),
      widest(ColumnVersion, {"888 -> 888"}),
      widest(ColumnPhase,
             all({PhaseQueued, PhasePreparing, PhaseXPort, PhaseIdentifying, PhaseAwaiting,
                  PhaseWriting, PhaseVerifying, PhaseLeaving, PhaseCleanUp, PhaseDone})),
      std::max(widest(ColumnProgress, {}), 80),
      widest(ColumnResult, all({ResultUpdated, ResultFailed, ResultDeclined, ResultInterrupted,
                                ResultSkipped, ResultRefused, ResultNotStarted})),
      kReasonMinWidth};
  const TextId headers[] = {ColumnAddress, ColumnPort,     ColumnMac,    ColumnModel, ColumnVersion,
                            ColumnPhase,   ColumnProgress, ColumnResult, ColumnReason};
  for (int c = 0; c < kColumns; ++c) AddColumn(list, c, Text(headers[c]), widths[c]);
  RECT client{};
  GetClientRect(window_, &client);
  Layout(client.right, client.bottom);
}

void BatchWindow::Layout(int width, int height) {
  const int dx = std::max<int>(0, width - templateClient_.cx);
  const int dy = std::max<int>(0, height - templateClient_.cy);
  for (std::size_t i = 0; i < std::size(kAnchors); ++i) {
    const Anchor& a = kAnchors[i];
    const RECT& r = anchorRects_[i];
    SetWindowPos(GetDlgItem(window_, a.id), nullptr, r.left + (a.moveX ? dx : 0),
                 r.top + (a.moveY ? dy : 0), r.right - r.left + (a.growW ? dx : 0),
                 r.bottom - r.top + (a.growH ? dy : 0), SWP_NOZORDER | SWP_NOACTIVATE);
  }
  // The reason, the last column, takes what the others leave.
  const HWND list = List();
  RECT client{};
  GetClientRect(list, &client);
  int others = 0;
  for (int c = 0; c < kColumns - 1; ++c)
    others += static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, c, 0));
  SendMessageW(
      list, LVM_SETCOLUMNWIDTH, kColumns - 1,
      std::max<int>(client.right - others - GetSystemMetrics(SM_CXVSCROLL), kReasonMinWidth));
  InvalidateRect(window_, nullptr, TRUE);
}

INT_PTR BatchWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      Command(LOWORD(wParam));
      return TRUE;
    case WM_CLOSE:
      Close();
      return TRUE;
    case WM_SIZE:
      if (wParam != SIZE_MINIMIZED) Layout(LOWORD(lParam), HIWORD(lParam));
      return TRUE;
    case WM_GETMINMAXINFO:
      reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {templateWindow_.cx,
                                                               templateWindow_.cy};
      return TRUE;
    case WM_TIMER:
      if (wParam == kViewTimer) {
        Refresh();
        if (Scanning()) {
          const std::int64_t elapsed = platform::MonotonicMs() - scanStartMs_;
          SendDlgItemMessageW(window_, IDC_BATCH_SCAN_PROGRESS, PBM_SETPOS,
                              static_cast<WPARAM>(std::min<std::int64_t>(
                                  kScanSteps, elapsed * kScanSteps / scanLongestMs_)),
                              0);
        }
      }
      return TRUE;
    case kMsgQuestion:
      SetWindowLongPtrW(window_, DWLP_MSGRESULT,
                        AskQuestion(*reinterpret_cast<const batch::BatchQuestion*>(lParam)));
      return TRUE;
    case kMsgRunEnded:
      RunEnded();
      return TRUE;
    case kMsgScanEnded:
      ScanEnded();
      return TRUE;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->idFrom != IDC_BATCH_LIST) return FALSE;
      LRESULT result = 0;
      if (header->code == NM_CUSTOMDRAW) {
        result = DrawCell(reinterpret_cast<NMLVCUSTOMDRAW*>(lParam));
      } else if (header->code == LVN_ITEMCHANGING) {
        // The rows of a running batch keep their check boxes as Start found them.
        const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
        result = Running() && (change->uChanged & LVIF_STATE) &&
                 ((change->uNewState ^ change->uOldState) & LVIS_STATEIMAGEMASK);
      } else if (header->code == LVN_ITEMCHANGED) {
        const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
        if ((change->uNewState ^ change->uOldState) & LVIS_SELECTED) ShowDetails();
        if (((change->uNewState ^ change->uOldState) & LVIS_STATEIMAGEMASK) && !settingChecks_) {
          UpdateControls();
        }
      }
      SetWindowLongPtrW(window_, DWLP_MSGRESULT, result);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

void BatchWindow::Command(int id) {
  switch (id) {
    case IDC_BATCH_ADD:
      // The default button: Enter in the range box means Scan.
      if (GetFocus() == GetDlgItem(window_, IDC_BATCH_RANGE)) {
        StartScan();
      } else {
        AddTyped();
      }
      break;
    case IDC_BATCH_SCAN:
      StartScan();
      break;
    case IDC_BATCH_REMOVE:
      RemoveSelected();
      break;
    case IDC_BATCH_OPEN_LIST:
    case IDC_BATCH_FROM_REPORT: {
      const bool report = id == IDC_BATCH_FROM_REPORT;
      const std::filesystem::path path = prompts_->ChooseFile(
          window_, false, report ? TextId::BatchReportFilter : TextId::BatchListFilter);
      if (!path.empty()) AddFromFile(path, report);
      break;
    }
    case IDC_BATCH_SAVE_LIST:
      SaveList();
      break;
    case IDC_BATCH_START:
      Start();
      break;
    case IDC_BATCH_STOP:
      Stop();
      break;
    case IDC_BATCH_SAVE_REPORT:
      SaveReport();
      break;
    case IDC_BATCH_RETRY:
      RetryFailed();
      break;
    case IDC_BATCH_HISTORY:
      ShowHistory();
      break;
    case IDCANCEL:
      Close();
      break;
    default:
      break;
  }
}

// Adds rows for more devices, or none: a device already listed, or named twice, is refused
// with the console's message.
bool BatchWindow::AddTargets(std::vector<batch::NamedTarget> more) {
  std::vector<batch::NamedTarget> all;
  for (const Row& r : rows_) all.push_back(r.named);
  all.insert(all.end(), more.begin(), more.end());
  std::string error;
  if (!batch::CheckDistinct(all, &error)) {
    Notice(error);
    return false;
  }
  settingChecks_ = true;
  for (batch::NamedTarget& t : more) {
    Row row;
    row.named = std::move(t);
    rows_.push_back(std::move(row));
    const int index = static_cast<int>(rows_.size()) - 1;
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = index;
    item.pszText = const_cast<wchar_t*>(L"");
    SendMessageW(List(), LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    SetChecked(List(), index, true);
    ShowRow(index);
  }
  settingChecks_ = false;
  UpdateControls();
  return true;
}

void BatchWindow::AddTyped() {
  const std::string text = ItemText(window_, IDC_BATCH_ADDRESSES);
  std::vector<batch::NamedTarget> targets;
  std::string error;
  if (!batch::ParseAddressList(text, Text(TextId::BatchAddLabel), &targets, &error)) {
    Notice(error);
    return;
  }
  if (!targets.empty() && AddTargets(std::move(targets))) SetText(window_, IDC_BATCH_ADDRESSES, "");
}

void BatchWindow::AddFromFile(const std::filesystem::path& path, bool report) {
  const std::string name = platform::PathToUtf8(path);
  std::string text;
  std::vector<batch::NamedTarget> targets;
  std::string error;
  if (!platform::ReadWholeFile(path, &text)) {
    Notice(panel::FormatText(report ? TextId::NotAReport : TextId::DevicesUnreadable, {name}));
  } else if (report ? !batch::TargetsFromReport(text, name, &targets, &error)
                    : !batch::ParseDevicesText(text, name, &targets, &error)) {
    Notice(error);
  } else if (targets.empty() && !report) {
    Notice(panel::FormatText(TextId::NoDevices, {name}));
  } else {
    AddTargets(std::move(targets));
  }
}

void BatchWindow::SaveList() {
  const std::filesystem::path path = prompts_->ChooseFile(window_, true, TextId::BatchListFilter);
  if (path.empty()) return;
  std::vector<batch::NamedTarget> targets;
  for (const Row& r : rows_) targets.push_back(r.named);
  const std::string text = batch::DevicesText(targets);
  if (!platform::WriteFileAtomically(path, text.data(), text.size())) {
    Notice(panel::FormatText(TextId::CannotWriteFile, {platform::PathToUtf8(path)}));
  }
}

void BatchWindow::RemoveSelected() {
  for (int i = static_cast<int>(rows_.size()) - 1; i >= 0; --i) {
    if (SendMessageW(List(), LVM_GETITEMSTATE, static_cast<WPARAM>(i), LVIS_SELECTED) &
        LVIS_SELECTED) {
      SendMessageW(List(), LVM_DELETEITEM, static_cast<WPARAM>(i), 0);
      rows_.erase(rows_.begin() + i);
    }
  }
  ShowDetails();
  UpdateControls();
}

void BatchWindow::Start() {
  if (Running() || Scanning()) return;
  std::vector<batch::NamedTarget> targets;
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (Checked(List(), static_cast<int>(i))) targets.push_back(rows_[i].named);
  }
  if (targets.empty() || targets.size() > batch::kMaxDevices) {
    Notice(targets.empty()
               ? std::string(Text(TextId::BatchNoDevices))
               : panel::FormatText(TextId::BatchWinTooMany, {std::to_string(batch::kMaxDevices)}));
    return;
  }
  run_.reset();  // the previous run's reports are no longer shown
  std::size_t next = 0;
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    Row& row = rows_[i];
    row.runIndex.reset();
    if (Checked(List(), static_cast<int>(i))) row.runIndex = next++;
    row.notices.clear();
    row.result.reset();
    row.reason.clear();
    ShowRow(static_cast<int>(i));
  }
  run_ = std::make_unique<batch::BatchRun>(std::move(targets), options_.engine);
  engineEnded_ = false;
  engine_ = std::thread([this, run = run_.get()] {
    run->Run(frontEnd_);
    engineEnded_ = true;
    PostMessageW(window_, kMsgRunEnded, 0, 0);
  });
  SetText(window_, IDC_BATCH_SUMMARY, "");
  SetTimer(window_, kViewTimer, kViewTimerMs, nullptr);
  UpdateControls();
  ShowDetails();
  SetFocus(List());  // Start is greyed now; the operator browses the rows meanwhile
}

void BatchWindow::Stop() {
  if (!Running()) return;
  if (!run_->StopRequested()) {
    run_->RequestStop();
    SetText(window_, IDC_BATCH_SUMMARY, Text(TextId::BatchWinStopping));
    return;
  }
  if (prompts_->Ask(window_, Text(TextId::BatchStopAgain))) {
    // At once, wherever the devices stand; their saved XPort records stay on disk.
    std::fflush(nullptr);
    ExitProcess(0);
  }
}

void BatchWindow::Close() {
  if (Scanning()) {
    closeWhenEnded_ = true;  // the scan cannot be broken off; it ends within seconds
    return;
  }
  if (Running()) {
    if (!prompts_->Ask(window_, Text(TextId::CloseWhileRunning))) return;
    if (run_->StopRequested()) {
      std::fflush(nullptr);
      ExitProcess(0);
    }
    closeWhenEnded_ = true;
    Stop();
    return;
  }
  if (modal_) {
    EndDialog(window_, IDCANCEL);
  } else {
    DestroyWindow(window_);
  }
}

void BatchWindow::RunEnded() {
  if (!engine_.joinable()) return;
  engine_.join();
  Refresh();
  if (!Scanning()) KillTimer(window_, kViewTimer);
  const std::vector<report::DeviceReport> reports = run_->Reports();
  std::string summary = report::SummaryText(reports);
  if (!run_->DataFileLookedIn().empty()) {
    summary += "  " + std::string(Text(TextId::DataFileLookedIn));
    for (const auto& p : run_->DataFileLookedIn()) summary += " " + platform::PathToUtf8(p);
  }
  std::error_code why;
  if (run_->HistoryFailures(&why) > 0) {
    summary += "  " + report::HistoryUnwrittenText(why, options_.engine.stateFolder);
  }
  SetText(window_, IDC_BATCH_SUMMARY, summary);
  UpdateControls();
  ShowDetails();
  if (closeWhenEnded_) Close();
}

void BatchWindow::SaveReport() {
  if (!run_ || Running()) return;
  const std::filesystem::path path = prompts_->ChooseFile(window_, true, TextId::BatchReportFilter);
  if (path.empty()) return;
  const std::string json = report::ReportJson(run_->Reports());
  if (!platform::WriteFileAtomically(path, json.data(), json.size())) {
    Notice(panel::FormatText(TextId::CannotWriteFile, {platform::PathToUtf8(path)}));
  }
}

// The devices that did not end at the data file's version, as a report's retry takes them.
bool NeedsRetry(const Row& row) {
  return row.result && *row.result != update::Result::Updated &&
         *row.result != update::Result::Skipped;
}

void BatchWindow::RetryFailed() {
  if (Running() || Scanning()) return;
  settingChecks_ = true;
  for (std::size_t i = 0; i < rows_.size(); ++i)
    SetChecked(List(), static_cast<int>(i), NeedsRetry(rows_[i]));
  settingChecks_ = false;
  Start();
}

void BatchWindow::StartScan() {
  if (Running() || Scanning()) return;
  const std::string text = ItemText(window_, IDC_BATCH_RANGE);
  xport::DiscoveryRange range;
  switch (xport::ParseDiscoveryRange(text, &range)) {
    case xport::RangeError::None:
      break;
    case xport::RangeError::Unparseable:
      return Notice(panel::FormatText(TextId::DiscoverUnparseable, {text}));
    case xport::RangeError::TooLarge:
      return Notice(panel::FormatText(TextId::DiscoverTooLarge, {text}));
    case xport::RangeError::NotUnicast:
      return Notice(panel::FormatText(TextId::DiscoverNotUnicast, {text}));
  }
  // The scan's longest time: every query paced out, then the wait for the last replies.
  const xport::DiscoveryPace pace;
  const std::int64_t queries =
      range.broadcast ? 1 : static_cast<std::int64_t>(range.addresses.size());
  scanLongestMs_ = (queries + pace.burst - 1) / pace.burst * pace.gapMs * 2 + pace.replyWaitMs;
  scanStartMs_ = platform::MonotonicMs();
  scanner_ = std::thread([this, range] {
    scanResult_ = xport::Discover(range);
    PostMessageW(window_, kMsgScanEnded, 0, 0);
  });
  SendDlgItemMessageW(window_, IDC_BATCH_SCAN_PROGRESS, PBM_SETPOS, 0, 0);
  ShowWindow(GetDlgItem(window_, IDC_BATCH_SCAN_PROGRESS), SW_SHOW);
  SetText(window_, IDC_BATCH_SUMMARY, panel::FormatText(TextId::BatchScanning, {text}));
  SetTimer(window_, kViewTimer, kViewTimerMs, nullptr);
  UpdateControls();
}

void BatchWindow::ScanEnded() {
  if (!scanner_.joinable()) return;
  scanner_.join();
  if (!Running()) KillTimer(window_, kViewTimer);
  ShowWindow(GetDlgItem(window_, IDC_BATCH_SCAN_PROGRESS), SW_HIDE);
  const xport::DiscoveryResult& result = scanResult_;
  const TextId failures[] = {TextId::Count, TextId::DiscoverSocket, TextId::DiscoverBroadcast,
                             TextId::DiscoverBind};
  std::string summary;
  if (result.failure != xport::DiscoveryFailure::None) {
    summary = Text(failures[static_cast<int>(result.failure)]);
  } else if (result.xports.empty()) {
    summary = panel::FormatText(TextId::DiscoverNoneAnswered, {ItemText(window_, IDC_BATCH_RANGE)});
  } else {
    summary = panel::FormatText(TextId::DiscoverAnswered, {std::to_string(result.xports.size())});
  }
  // A device the list holds already takes what the scan learnt; the others become rows.
  std::vector<batch::NamedTarget> more;
  std::vector<const xport::DiscoveredXPort*> found;
  for (const xport::DiscoveredXPort& x : result.xports) {
    const device::Target target{x.address, std::nullopt};
    auto same = std::find_if(rows_.begin(), rows_.end(),
                             [&](const Row& r) { return r.named.target.address == x.address; });
    if (same == rows_.end()) {
      more.push_back({target, Text(TextId::BatchScan)});
      found.push_back(&x);
    }
  }
  AddTargets(std::move(more));
  for (const xport::DiscoveredXPort& x : result.xports) {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
      Row& row = rows_[i];
      if (row.named.target.address != x.address) continue;
      row.scannedMac = xport::FormatMac(x.mac);
      if (x.recordRead) row.scannedPort = x.localPort;
      row.hint = x.recordRead && x.needsOverride
                     ? "XPort: " + std::string(Text(TextId::DiscoverMustChange))
                     : std::string();
      ShowRow(static_cast<int>(i));
    }
  }
  SetText(window_, IDC_BATCH_SUMMARY, summary);
  UpdateControls();
  SetFocus(List());  // the range box had it, and was greyed while the scan ran
  if (closeWhenEnded_) Close();
}

INT_PTR CALLBACK HistoryProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    const auto* path = reinterpret_cast<const std::filesystem::path*>(lParam);
    SetWindowTextW(dialog, ToWide(Text(TextId::BatchHistory)).c_str());
    SetText(dialog, IDCANCEL, Text(TextId::BatchClose));
    const HWND list = GetDlgItem(dialog, IDC_HISTORY_LIST);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    using enum TextId;
    const std::pair<TextId, const char*> columns[] = {{ColumnTime, "2026-12-07T02:22:51Z"},
                                                      {ColumnAddress, "255.255.255.255"},
                                                      {ColumnMac, "00-20-4A-0B-4C-0E"},
                                                      {ColumnModel, "KT-40D(-W)"},
                                                      {ColumnVersion, "888 -> 888"},
                                                      {ColumnResult, Text(ResultInterrupted)},
                                                      {ColumnSeconds, "999.9"},
                                                      {ColumnReason, ""}};
    int c = 0;
    for (const auto& [title, sample] : columns) {
      AddColumn(list, c++, Text(title),
                title == ColumnReason ? 300 : WidestText(list, {Text(title), sample}));
    }
    std::vector<std::string> warnings;
    std::vector<report::HistoryEntry> entries = path->empty()
                                                    ? std::vector<report::HistoryEntry>{}
                                                    : report::ReadHistory(*path, 200, &warnings);
    std::reverse(entries.begin(), entries.end());  // newest first
    int row = 0;
    for (const report::HistoryEntry& e : entries) {
      LVITEMW item{};
      item.mask = LVIF_TEXT;
      item.iItem = row;
      const std::wstring time = ToWide(e.time);
      item.pszText = const_cast<wchar_t*>(time.c_str());
      SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
      const std::string version = e.versionBefore.empty() && e.versionAfter.empty()
                                      ? std::string()
                                      : e.versionBefore + " -> " + e.versionAfter;
      const std::string cells[] = {e.address, e.mac,     e.model,          version,
                                   e.result,  e.seconds, OneLine(e.reason)};
      for (int k = 0; k < 7; ++k) SetCell(list, row, k + 1, cells[k]);
      ++row;
    }
    std::string note;
    if (path->empty()) {
      note = Text(HistoryNoFolder);
    } else if (entries.empty()) {
      note = panel::FormatText(HistoryEmpty, {platform::PathToUtf8(*path)});
    }
    for (const std::string& w : warnings) note += (note.empty() ? "" : "  ") + w;
    SetText(dialog, IDC_HISTORY_NOTE, note);
    return TRUE;
  }
  if (message == WM_COMMAND && (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK)) {
    EndDialog(dialog, IDCANCEL);
    return TRUE;
  }
  return FALSE;
}

void BatchWindow::ShowHistory() {
  const std::filesystem::path path = report::HistoryPath(options_.engine.stateFolder);
  DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kBatchHistoryTemplate), window_,
                  HistoryProc, reinterpret_cast<LPARAM>(&path));
}

LRESULT BatchWindow::AskQuestion(const batch::BatchQuestion& question) {
  Refresh();  // the table behind the question shows every device as it stands
  QuestionContext context{&question, prompts_};
  const INT_PTR answer =
      DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kBatchQuestionTemplate), window_,
                      QuestionProc, reinterpret_cast<LPARAM>(&context));
  return answer == IDYES ? IDYES : IDNO;
}

// Reads the engine's view of every device of the run and redraws what changed.
void BatchWindow::Refresh() {
  if (!run_) return;
  const int selected = static_cast<int>(
      SendMessageW(List(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    Row& row = rows_[i];
    if (!row.runIndex) continue;
    const std::vector<report::NoticeRecord> notices =
        run_->NewNotices(*row.runIndex, row.notices.size());
    row.notices.insert(row.notices.end(), notices.begin(), notices.end());
    ShowRow(static_cast<int>(i));
    if (!notices.empty() && static_cast<int>(i) == selected) ShowDetails();
  }
}

// Brings row index's cells up to date: from the run's view when the run has it, else from
// what the row itself knows. Only changed cells are set, so an idle row draws nothing.
void BatchWindow::ShowRow(int index) {
  Row& row = rows_[static_cast<std::size_t>(index)];
  std::array<std::string, kColumns> cells{};
  auto cell = [&](BatchColumn c) -> std::string& { return cells[static_cast<std::size_t>(c)]; };
  cell(BatchColumn::Address) = device::AddressText(row.named.target);
  std::optional<int> port = row.named.target.port ? row.named.target.port : row.scannedPort;
  std::optional<std::string> mac = row.scannedMac;
  row.percent = -1;
  std::string lastNotice;
  for (const report::NoticeRecord& n : row.notices) {
    if (!n.question) lastNotice = OneLine(n.text);
  }
  cell(BatchColumn::Reason) = row.runIndex ? lastNotice : row.hint;
  if (row.runIndex && run_) {
    const batch::DeviceView v = run_->View(*row.runIndex);
    if (v.port) port = v.port;
    if (v.mac) mac = v.mac;
    cell(BatchColumn::Model) = v.model;
    cell(BatchColumn::Version) = VersionText(v.versionBefore, std::nullopt);
    cell(BatchColumn::Phase) = Text(panel::StageText(v.stage));
    if (v.stage == Stage::Writing || v.stage == Stage::Verifying) row.percent = v.percent;
    if (v.report) {
      const report::DeviceReport& r = *v.report;
      row.result = r.result;
      row.reason = OneLine(r.reason);
      cell(BatchColumn::Version) = VersionText(r.versionBefore, r.versionAfter);
      cell(BatchColumn::Result) = Text(update::ResultText(r.result));
      if (r.result == update::Result::Updated) row.percent = 100;
      if (!r.reason.empty()) cell(BatchColumn::Reason) = OneLine(r.reason);
    }
  }
  if (port) cell(BatchColumn::Port) = std::to_string(*port);
  if (mac) cell(BatchColumn::Mac) = *mac;
  if (row.percent >= 0) cell(BatchColumn::Progress) = std::to_string(row.percent) + "%";
  for (int c = 0; c < kColumns; ++c) {
    if (cells[static_cast<std::size_t>(c)] != row.cells[static_cast<std::size_t>(c)]) {
      SetCell(List(), index, c, cells[static_cast<std::size_t>(c)]);
    }
  }
  row.cells = cells;
}

// The details pane: every notice of the selected device, caption and text.
void BatchWindow::ShowDetails() {
  const int selected = static_cast<int>(
      SendMessageW(List(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  std::string text;
  if (selected >= 0 && static_cast<std::size_t>(selected) < rows_.size()) {
    const Row& row = rows_[static_cast<std::size_t>(selected)];
    for (const report::NoticeRecord& n : row.notices) {
      if (n.question) continue;  // the one question, the same for every device
      text += "[" + n.caption + "] " + OneLine(n.text) + "\n";
    }
    // The reason, unless a notice said it in the same words already.
    const bool told =
        std::any_of(row.notices.begin(), row.notices.end(),
                    [&](const report::NoticeRecord& n) { return OneLine(n.text) == row.reason; });
    if (!row.reason.empty() && !told)
      text += std::string(Text(TextId::ColumnReason)) + ": " + row.reason + "\n";
  }
  SetDlgItemTextW(window_, IDC_BATCH_DETAILS, Crlf(text).c_str());
}

// The progress column: a bar along the current pass, the percentage over it.
LRESULT BatchWindow::DrawCell(NMLVCUSTOMDRAW* draw) {
  switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
      return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
      return CDRF_NOTIFYSUBITEMDRAW;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM:
      break;
    default:
      return CDRF_DODEFAULT;
  }
  const auto index = static_cast<std::size_t>(draw->nmcd.dwItemSpec);
  if (draw->iSubItem != static_cast<int>(BatchColumn::Progress) || index >= rows_.size() ||
      rows_[index].percent < 0) {
    return CDRF_DODEFAULT;
  }
  RECT cell{};
  cell.top = draw->iSubItem;
  cell.left = LVIR_BOUNDS;
  SendMessageW(List(), LVM_GETSUBITEMRECT, index, reinterpret_cast<LPARAM>(&cell));
  const HDC dc = draw->nmcd.hdc;
  FillRect(dc, &cell, GetSysColorBrush(COLOR_WINDOW));
  RECT bar = cell;
  InflateRect(&bar, -3, -2);
  RECT filled = bar;
  filled.right = bar.left + (bar.right - bar.left) * rows_[index].percent / 100;
  const HBRUSH green = CreateSolidBrush(RGB(6, 176, 37));
  FillRect(dc, &filled, green);
  DeleteObject(green);
  FrameRect(dc, &bar, GetSysColorBrush(COLOR_BTNSHADOW));
  const std::wstring text =
      ToWide(rows_[index].cells[static_cast<std::size_t>(BatchColumn::Progress)]);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &bar,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  return CDRF_SKIPDEFAULT;
}

void BatchWindow::UpdateControls() {
  const bool running = Running();
  const bool busy = running || Scanning();
  bool anyChecked = false;
  bool anyRetry = false;
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    anyChecked = anyChecked || Checked(List(), static_cast<int>(i));
    anyRetry = anyRetry || NeedsRetry(rows_[i]);
  }
  const std::pair<int, bool> states[] = {{IDC_BATCH_RANGE, !busy},
                                         {IDC_BATCH_SCAN, !busy},
                                         {IDC_BATCH_ADDRESSES, !busy},
                                         {IDC_BATCH_ADD, !busy},
                                         {IDC_BATCH_REMOVE, !busy},
                                         {IDC_BATCH_OPEN_LIST, !busy},
                                         {IDC_BATCH_SAVE_LIST, !busy && !rows_.empty()},
                                         {IDC_BATCH_FROM_REPORT, !busy},
                                         {IDC_BATCH_START, !busy && anyChecked},
                                         {IDC_BATCH_STOP, running},
                                         {IDC_BATCH_SAVE_REPORT, !running && run_ != nullptr},
                                         {IDC_BATCH_RETRY, !busy && anyRetry}};
  for (const auto& [id, enable] : states)
    EnableWindow(GetDlgItem(window_, id), enable ? TRUE : FALSE);
}

INT_PTR CALLBACK BatchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<BatchWindow*>(lParam);
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    self->Init(window);
    return FALSE;  // the focus is set: on the addresses box
  }
  auto* self = reinterpret_cast<BatchWindow*>(GetWindowLongPtrW(window, DWLP_USER));
  if (!self) return FALSE;
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, DWLP_USER, 0);
    delete self;
    return FALSE;
  }
  return self->Handle(message, wParam, lParam);
}

}  // namespace

void RunBatchWindow(HWND owner, const BatchWindowOptions& options) {
  InitCommonControls();
  auto* self = new BatchWindow(options, true);
  const INT_PTR shown =
      DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kBatchWindowTemplate), owner,
                      BatchWindowProc, reinterpret_cast<LPARAM>(self));
  // The window took the object at WM_INITDIALOG and deleted it when it was destroyed.
  if (shown == -1) {
    delete self;
    ShowNoticeBox(owner, Text(TextId::CreateWindowFailed), panel::kProgramName,
                  panel::NoticeStyle::Error);
  }
}

HWND CreateBatchWindow(HWND owner, const BatchWindowOptions& options) {
  InitCommonControls();
  auto self = std::make_unique<BatchWindow>(options, false);
  const HWND window =
      CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kBatchWindowTemplate), owner,
                         BatchWindowProc, reinterpret_cast<LPARAM>(self.get()));
  if (window) {
    self.release();
    ShowWindow(window, SW_SHOW);
  }
  return window;
}

}  // namespace ui::win32
