// DERURUZUD: the operator's dialog.
#include <memory>

#include "platform/clock.h"
#include "ui/qt/app.h"
#include "update/update_procedure.h"

int main(int argc, char** argv) {
  // One session for the window's lifetime: the XPort records, the device identity and
  // OverrideFlag outlast a run, and only one worker runs at a time.
  std::unique_ptr<update::UpdateSession> session;
  return ui::qt::RunApplication(argc, argv, [&session](panel::DialogHost& owner) {
    platform::LowerTimerSlack();
    if (!session) session = std::make_unique<update::UpdateSession>(owner, platform::RealSleeper());
    update::UpdateJob(*session);
  });
}
