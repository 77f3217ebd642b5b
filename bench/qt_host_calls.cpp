// Cost of the dialog's panel calls from a worker: the progress steps and status texts of
// one bulk write and one verification pass, timed as a whole. Each call stores its value;
// the GUI thread shows the values meanwhile.
//   QT_QPA_PLATFORM=offscreen build/qt_host_bench
//   xvfb-run -a build/qt_host_bench            (with real painting on an X server)
#include <QApplication>
#include <QProgressBar>
#include <chrono>
#include <cstdio>
#include <thread>

#include "ui/qt/main_dialog.h"
#include "ui/qt/qt_dialog_host.h"

namespace {

double Run(ui::qt::QtDialogHost& host, bool withStatus, int* calls) {
  std::atomic<bool> done{false};
  double seconds = 0;
  *calls = 0;
  std::thread worker([&] {
    const auto start = std::chrono::steady_clock::now();
    host.SetProgressRange(14840);
    host.SetProgressStep(8);
    host.SetProgressPos(0);
    *calls += 3;
    for (int echoed = 8; echoed <= 14840; echoed += 8) {
      host.StepProgress();
      ++*calls;
      if (withStatus) {
        host.SetControlText(ui::IDC_STATUS, "書込み中... " + std::to_string(echoed));
        ++*calls;
      }
    }
    host.SetProgressRange(14840);
    host.SetProgressStep(1);
    host.SetProgressPos(0);
    *calls += 3;
    for (int i = 0; i < 14840; ++i) host.StepProgress();
    *calls += 14840;
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    done = true;
  });
  while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  worker.join();
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ui::qt::MainDialog dialog;
  ui::qt::QtDialogHost host(dialog);
  ui::qt::InitMainDialog(dialog);
  QCoreApplication::processEvents();
  for (bool withStatus : {false, true}) {
    int calls = 0;
    const double s = Run(host, withStatus, &calls);
    std::printf("%s: %d calls in %.3f s, %.1f us per call\n",
                withStatus ? "steps and status texts" : "steps only", calls, s,
                s * 1e6 / calls);
  }
  return 0;
}
