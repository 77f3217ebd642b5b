// bench/panel_overhead: the same update driven through the Qt dialog (offscreen) and
// through the console panel, alternately in one process against one in-process quivo-sim,
// and the ratio of the two. The dialog's host stores 16,695 panel updates per run for the
// GUI thread to show at its own pace; this shows what that costs the update.
//
//   panel_overhead [--runs N] [--address 127.0.0.x]
#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "bench/bench_support.h"
#include "ui/dialog/dialog_panel.h"
#include "platform/clock.h"
#include "sim/simulator.h"
#include "ui/console/console_host.h"
#include "ui/qt/main_dialog.h"
#include "ui/qt/qt_dialog_host.h"
#include "ui/dialog/dialog_panel.h"
#include "update/update_procedure.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// One update through the dialog: the worker runs the job while the GUI thread runs the
// event loop, as in the program.
double RunDialog(QApplication& app, const std::string& address, std::uint16_t port,
                 const std::string& hex, int* result) {
  ui::qt::MainDialog dialog;
  ui::qt::QtDialogHost host(dialog);
  host.SetAnswerer([](QMessageBox& box) {
    return box.standardButtons() & QMessageBox::Yes ? QMessageBox::Yes : QMessageBox::Ok;
  });
  dialog.show();
  ui::DialogPanel panel(host);
  update::UpdateSession session(panel, platform::RealSleeper());
  const device::Target target{platform::InetAddr(address.c_str()), port};
  const auto start = std::chrono::steady_clock::now();
  std::thread worker([&] {
    platform::LowerTimerSlack();
    *result = update::UpdateJob(session, target, hex).result == update::Result::Updated;
    // exit, not quit: quit asks the dialog to close first, and its close guard may refuse.
    QMetaObject::invokeMethod(
        &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
  });
  app.exec();
  worker.join();
  return Seconds(start);
}

double RunConsole(const std::string& address, std::uint16_t port, const std::string& hex,
                  int* result) {
  std::FILE* sink = std::fopen("/dev/null", "w");
  ui::ConsoleHost host(nullptr, sink, ui::ConsoleOptions{true, false, false});
  ui::DialogPanel panel(host);
  update::UpdateSession session(panel, platform::RealSleeper());
  const device::Target target{platform::InetAddr(address.c_str()), port};
  const auto start = std::chrono::steady_clock::now();
  platform::LowerTimerSlack();
  *result = update::UpdateJob(session, target, hex).result == update::Result::Updated;
  const double s = Seconds(start);
  std::fclose(sink);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  bench::Options options;
  options.runs = 3;
  options.address = "127.0.0.22";
  if (!bench::ParseOptions(argc, argv, "panel_overhead [--runs N] [--address A]", &options))
    return 2;
  const int runs = options.runs;
  const std::string address = options.address;
  qputenv("QT_QPA_PLATFORM",
          qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);

  const std::string dir = std::filesystem::temp_directory_path() /
                          ("panel_overhead-" + std::to_string(QCoreApplication::applicationPid()));
  std::filesystem::create_directories(dir);
  const std::string hex = dir + "/quivo.HEX";
  std::ofstream(hex) << sim::SampleHex(102);

  sim::Config config;
  config.address = address;
  config.tcpPort = 0;
  sim::Simulator device(config);
  std::string error;
  if (!device.Start(&error)) {
    std::fprintf(stderr, "panel_overhead: %s\n", error.c_str());
    return 1;
  }

  bench::Figure dialog{"dialog run (s)", {}}, console{"console run (s)", {}},
      ratio{"dialog / console", {}};
  for (int i = 0; i < runs; ++i) {
    int r1 = 0, r2 = 0;
    const double c = RunConsole(address, device.TcpPort(), hex, &r1);
    device.WaitForNoConnection(2000);
    const double d = RunDialog(app, address, device.TcpPort(), hex, &r2);
    device.WaitForNoConnection(2000);
    if (r1 != 1 || r2 != 1) {
      std::fprintf(stderr, "panel_overhead: run %d failed (console %d, dialog %d)\n", i + 1, r1,
                   r2);
      return 1;
    }
    console.Add(c);
    dialog.Add(d);
    ratio.Add(d / c);
    std::printf("run %d: console %.3f s, dialog %.3f s\n", i + 1, c, d);
  }
  std::filesystem::remove_all(dir);
  std::printf("panel_overhead: %d runs each against quivo-sim on %s (%s)\n", runs, address.c_str(),
              qgetenv("QT_QPA_PLATFORM").constData());
  console.Print("s");
  dialog.Print("s");
  ratio.Print("x");
  return 0;
}
