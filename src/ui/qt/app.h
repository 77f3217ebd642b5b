// The program's entry on Qt: creates the main dialog, runs the event loop until the
// operator quits, and runs `job` on a worker for each Connect.
#pragma once

#include "ui/qt/shell.h"

namespace ui::qt {

// Returns the process's exit code (0 after a normal close).
//
// Developer option: with DERURUZUD_SCREENSHOT=DIR in the environment the program drives
// itself and writes PNGs of the idle dialog, the confirmation question and the dialog
// during the bulk write into DIR, then quits. It types DERURUZUD_SCREENSHOT_ADDRESS into
// the address box and runs `job` when that is set; otherwise it runs DemoJob.
int RunApplication(int argc, char** argv, Job job);

// A scripted run with the texts and progress of a successful update, talking to no
// device; used for screenshots and to measure the dialog's cost per call.
void DemoJob(panel::DialogHost& owner);

}  // namespace ui::qt
