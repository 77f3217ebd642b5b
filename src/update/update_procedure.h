// The update: the worker's job and the procedure that orders every exchange with the XPort
// and the device, decides the write plan, verifies and reports.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "image/image_set.h"
#include "panel/operator_panel.h"
#include "update/update_session.h"

namespace update {

// What a job came to, for front ends that report it (the console's exit status).
struct JobOutcome {
  bool dataFileRead = false;  // LoadDataFile and ParseDataFile both succeeded
  int result = 0;             // the procedure's result; 0 when it did not run
  // Every place the data file was looked for, when none of them held one.
  std::vector<std::filesystem::path> dataFileLookedIn;
};

// The worker's routine: finds the data file (image::FindDataFile: the named file, or the
// search places when none is named), loads and parses it and, when both succeed, runs the
// procedure. Every failure has been reported on the session's owner when it returns.
JobOutcome UpdateJob(UpdateSession& session, const std::filesystem::path& namedDataFile = {});

// One run, from the panel reset to the clean-up. Returns 1 when the version block was
// written after a passed verification, 0 on every other outcome. The clean-up (images
// released, link closed, XPort restored when this run overrode it, final status, inputs
// enabled) runs exactly once on every path.
int UpdateProcedure(UpdateSession& session);

// Sends a record saved before an override back to the XPort at the address in IDC_ADDRESS
// (header 00 00 00 FA, the rest as saved) and reports the outcome with a notice. Removes
// the file once the XPort has accepted it. 1 when accepted.
// beforeSending, when given, is asked once the file has been read, with the MAC it says it
// was saved from ("" for a file that does not say): false ends the restore with 0 before
// anything is sent (it has raised its own notice), and the file stays.
int RestoreSavedRecord(UpdateSession& session, const std::filesystem::path& file,
                       const std::function<bool(const std::string& savedMac)>& beforeSending = {});

// Compares image and readback over [first, end), one progress step per equal byte.
// 1 when all are equal; 0 at the first difference.
int VerifyReadback(panel::OperatorPanel& panel, int first, int end, const image::ImageBuffer& image,
                   const image::ImageBuffer& readback);

}  // namespace update
