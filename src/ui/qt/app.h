// The program's entry on Qt: creates the main dialog, runs the event loop until the
// operator quits, and runs `job` on a worker for each Connect.
#pragma once

#include <functional>
#include <string>

#include "ui/qt/batch_window.h"
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
//
// batchOptions, when given, adds the batch window: an item in the dialog's context menu
// (right-click on the dialog's face) opens it. Qt offers no portable system menu, and the
// context menu leaves the dialog's controls, texts and ids as they are.
using FileDropped = std::function<void(const std::string&)>;
int RunApplication(int argc, char** argv, Job job, FileDropped onDrop = nullptr,
                   BatchWindow::OptionsSource batchOptions = nullptr);

// DERURUZUD --batch: the batch window alone, until it closes. devicesFile (UTF-8), when
// given, is opened into its list. Developer option: with DERURUZUD_SCREENSHOT=DIR the
// window drives itself (a scan of DERURUZUD_SCREENSHOT_RANGE when set, then a run over
// its list) and writes batch-LANG-*.png into DIR (see RunBatchScreenshots).
int RunBatchApplication(int argc, char** argv, BatchWindow::OptionsSource options,
                        const std::string& devicesFile);

// A scripted run with the texts and progress of a successful update, talking to no
// device; used for screenshots and to measure the dialog's cost per call.
void DemoJob(ui::DialogHost& owner);

}  // namespace ui::qt
