// The worker's routine that the dialog's Connect starts.
#pragma once

#include "ui/dialog_host.h"

namespace update {

// Runs one update, reporting through `owner` (its panel and notices). Called on a worker
// thread; returns when the run is over and every failure has been reported.
void UpdateJob(ui::DialogHost& owner);

}  // namespace update
