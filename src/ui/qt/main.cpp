// DERURUZUD: the operator's dialog.
#include "ui/qt/app.h"
#include "update/update_job.h"

int main(int argc, char** argv) {
  return ui::qt::RunApplication(argc, argv, [](ui::DialogHost& owner) { update::UpdateJob(owner); });
}
