// The program's entry on Qt: creates the main dialog, runs the event loop until the
// operator quits, and runs `job` on a worker for each Connect.
#pragma once

#include <functional>
#include <string>

#include "ui/qt/shell.h"

namespace ui::qt {

// Returns the process's exit code (0 after a normal close).
//
// Developer option: with DERURUZUD_SCREENSHOT=DIR in the environment the program drives
// itself and writes PNGs of the idle dialog, the confirmation question, the dialog during
// the bulk write, every notice and the end of the run into DIR, then quits. It types
// DERURUZUD_SCREENSHOT_ADDRESS into the address box and runs `job` when that is set; otherwise it
// runs DemoJob.
//
// onDrop, when given, takes the path (UTF-8) of a file dropped on the window; without it
// the window takes no drops.
using FileDropped = std::function<void(const std::string&)>;
int RunApplication(int argc, char** argv, Job job, FileDropped onDrop = nullptr);

// A scripted run with the texts and progress of a successful update, talking to no
// device; used for screenshots and to measure the dialog's cost per call.
void DemoJob(ui::DialogHost& owner);

}  // namespace ui::qt
