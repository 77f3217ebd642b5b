// STAND-IN, to be deleted when the update job is linked into the core: lets the dialog
// build and run before the update exists. Connect only says so.
#include "update/update_job.h"

namespace update {

void UpdateJob(ui::DialogHost& owner) {
  ui::ShowNotice(owner, "not built yet: the update job is not linked into this program",
                 "DERURUZUD", ui::NoticeStyle::Plain);
}

}  // namespace update
