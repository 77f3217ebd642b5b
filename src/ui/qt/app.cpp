#include "ui/qt/app.h"

#include <QAction>
#include <QApplication>
#include <cstdio>
#include <memory>

#include "panel/panel_texts.h"
#include "panel/text_catalog.h"
#include "ui/qt/main_dialog.h"
#include "ui/qt/qt_dialog_host.h"
#include "ui/qt/screenshot.h"

namespace ui::qt {
namespace {

using panel::Text;
using panel::TextId;

void SetStatus(ui::DialogHost& owner, const std::string& text) {
  owner.SetControlText(ui::IDC_STATUS, text);
}

void EnableInputs(ui::DialogHost& owner, bool enable) {
  for (int id : {ui::IDC_ADDRESS, ui::IDC_PORT, ui::ID_CONNECT, ui::ID_EXIT}) {
    owner.EnableControl(id, enable);
  }
}

void ResetProgress(ui::DialogHost& owner, int range, int step) {
  owner.SetProgressRange(range);
  owner.SetProgressStep(step);
  owner.SetProgressPos(0);
}

}  // namespace

void DemoJob(ui::DialogHost& owner) {
  constexpr int kBytes = 14840;
  constexpr int kBlockBytes = 8;
  SetStatus(owner, Text(TextId::InitialStatus));
  EnableInputs(owner, false);
  owner.SetControlText(ui::IDC_MODEL, "");
  owner.SetControlText(ui::IDC_VERSION, "");
  SetStatus(owner, Text(TextId::Linked));
  owner.SetControlText(ui::IDC_MODEL, "Model:KT-21");
  const std::string versions = "Ver:  12 ->   13";
  owner.SetControlText(ui::IDC_VERSION, versions);
  const std::string question = "MAC:00-20-4A-12-34-56\nModel:KT-21\n" + versions + "\n\n" +
                               Text(TextId::Caution) + "\n\n\n" + Text(TextId::ConfirmStart);
  const std::string writing = Text(TextId::Writing);
  if (ui::AskYesNo(owner, question, Text(TextId::CaptionConfirm))) {
    SetStatus(owner, writing);
    ResetProgress(owner, kBytes, kBlockBytes);
    for (int echoed = kBlockBytes; echoed <= kBytes; echoed += kBlockBytes) {
      owner.StepProgress();
      SetStatus(owner, writing + " " + std::to_string(echoed));
    }
    ResetProgress(owner, kBytes, 1);
    for (int i = 0; i < kBytes; ++i) owner.StepProgress();
    SetStatus(owner, Text(TextId::WriteComplete));
    owner.SetControlText(ui::IDC_VERSION, versions + " " + Text(TextId::VersionWritten));
  } else {
    SetStatus(owner, Text(TextId::Processing));
  }
  SetStatus(owner, Text(TextId::InitialStatus));
  EnableInputs(owner, true);
}

int RunApplication(int argc, char** argv, Job job, FileDropped onDrop,
                   BatchWindow::OptionsSource batchOptions) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(panel::kProgramName));
  QApplication::setWindowIcon(ProgramIcon());
  // The window closes only through the shell: on Exit, or on a close it has allowed.
  QApplication::setQuitOnLastWindowClosed(false);

  MainDialog dialog;
  dialog.onFileDropped = std::move(onDrop);
  QtDialogHost host(dialog);
  InitMainDialog(dialog);

  std::unique_ptr<BatchWindow> batchWindow;  // made when first opened
  if (batchOptions) {
    auto* open = new QAction(QString::fromUtf8(Text(TextId::BatchMenuItem)), &dialog);
    dialog.addAction(open);
    dialog.setContextMenuPolicy(Qt::ActionsContextMenu);
    QObject::connect(open, &QAction::triggered, &dialog, [&] {
      if (!batchWindow) {
        batchWindow = std::make_unique<BatchWindow>(batchOptions, EndProcessNow);
        CentreWindow(*batchWindow);
      }
      batchWindow->show();
      batchWindow->raise();
      batchWindow->activateWindow();
    });
  }

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

int RunBatchApplication(int argc, char** argv, BatchWindow::OptionsSource options,
                        const std::string& devicesFile) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(panel::kProgramName));
  QApplication::setWindowIcon(ProgramIcon());
  QApplication::setQuitOnLastWindowClosed(false);
  BatchWindow window(std::move(options), EndProcessNow);
  window.onClosed = [] { QCoreApplication::exit(0); };
  if (!devicesFile.empty()) window.OpenList(QString::fromStdString(devicesFile));
  CentreWindow(window);

  const QByteArray shots = qgetenv("DERURUZUD_SCREENSHOT");
  if (!shots.isEmpty()) {
    return RunBatchScreenshots(window, QString::fromLocal8Bit(shots),
                               QString::fromLocal8Bit(qgetenv("DERURUZUD_SCREENSHOT_RANGE")));
  }
  const int code = QApplication::exec();
  std::fflush(nullptr);
  return code;
}

}  // namespace ui::qt
