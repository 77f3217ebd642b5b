#include "ui/qt/app.h"

#include <QApplication>
#include <cstdio>

#include "panel/panel_texts.h"
#include "ui/qt/main_dialog.h"
#include "ui/qt/qt_dialog_host.h"
#include "ui/qt/screenshot.h"

namespace ui::qt {
namespace {

void SetStatus(panel::DialogHost& owner, const std::string& text) {
  owner.SetControlText(panel::IDC_STATUS, text);
}

void EnableInputs(panel::DialogHost& owner, bool enable) {
  for (int id : {panel::IDC_ADDRESS, panel::IDC_PORT, panel::ID_CONNECT, panel::ID_EXIT}) {
    owner.EnableControl(id, enable);
  }
}

void ResetProgress(panel::DialogHost& owner, int range, int step) {
  owner.SetProgressRange(range);
  owner.SetProgressStep(step);
  owner.SetProgressPos(0);
}

}  // namespace

void DemoJob(panel::DialogHost& owner) {
  constexpr int kBytes = 14840;
  constexpr int kBlockBytes = 8;
  SetStatus(owner, panel::kInitialStatusText);
  EnableInputs(owner, false);
  owner.SetControlText(panel::IDC_MODEL, "");
  owner.SetControlText(panel::IDC_VERSION, "");
  SetStatus(owner, "接続完了!確認中...");
  owner.SetControlText(panel::IDC_MODEL, "Model:KT-21");
  const std::string versions = "Ver:  12 ->   13";
  owner.SetControlText(panel::IDC_VERSION, versions);
  const std::string question = "MAC:00-20-4A-12-34-56\nModel:KT-21\n" + versions + "\n\n" +
                               panel::kCautionText + "\n\n\nファームの書換えを開始しますか？";
  if (panel::AskYesNo(owner, question, "確認")) {
    SetStatus(owner, "書込み中...");
    ResetProgress(owner, kBytes, kBlockBytes);
    for (int echoed = kBlockBytes; echoed <= kBytes; echoed += kBlockBytes) {
      owner.StepProgress();
      SetStatus(owner, "書込み中... " + std::to_string(echoed));
    }
    ResetProgress(owner, kBytes, 1);
    for (int i = 0; i < kBytes; ++i) owner.StepProgress();
    SetStatus(owner, "書込み完了\n");
    owner.SetControlText(panel::IDC_VERSION, versions + " 書込み成功");
  } else {
    SetStatus(owner, "処理中...");
  }
  SetStatus(owner, panel::kInitialStatusText);
  EnableInputs(owner, true);
}

int RunApplication(int argc, char** argv, Job job) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(panel::kProgramName));
  QApplication::setWindowIcon(ProgramIcon());
  // The window closes only through the shell: on Exit, or on a close it has allowed.
  QApplication::setQuitOnLastWindowClosed(false);

  MainDialog dialog;
  QtDialogHost host(dialog);
  InitMainDialog(dialog);

  const QByteArray shots = qgetenv("DERURUZUD_SCREENSHOT");
  if (!shots.isEmpty()) {
    return RunScreenshots(dialog, host, QString::fromLocal8Bit(shots),
                          QString::fromLocal8Bit(qgetenv("DERURUZUD_SCREENSHOT_ADDRESS")),
                          std::move(job));
  }

  Shell shell(dialog, host, std::move(job));
  const int code = QApplication::exec();
  std::fflush(nullptr);
  return code == 0 ? shell.Finish() : code;
}

}  // namespace ui::qt
