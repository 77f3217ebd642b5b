// The update: the worker's job and the procedure that orders every exchange with the XPort
// and the device, decides the write plan, verifies and reports.
#pragma once

#include <filesystem>
#include <string>

#include "image/image_set.h"
#include "panel/events.h"
#include "panel/target.h"
#include "update/outcome.h"
#include "update/update_session.h"

namespace update {

// The worker's routine: finds the data file (image::FindDataFile: the named file, or the
// search places when none is named), loads and parses it and, when both succeed, runs the
// procedure. Every failure has been reported through the session's events when it returns.
Outcome UpdateJob(UpdateSession& session, const device::Target& target,
                  const std::filesystem::path& namedDataFile = {});

// One run as a single device's front end makes it: the identify half, the confirmation
// question through the session's events, the write half. The result is Updated when the
// version block was written after a passed verification. The clean-up (images released,
// link closed, XPort restored when this run overrode it, final status, inputs enabled)
// runs exactly once on every path.
Outcome UpdateProcedure(UpdateSession& session, const device::Target& target);

// Sends a record saved before an override back to the XPort at the target's address
// (header 00 00 00 FA, the rest as saved), but only to the XPort it was saved from: it asks
// that XPort for its MAC first and refuses, with a notice naming both, when they differ. A
// file of the earlier form (no MAC line) belongs to the MAC its name begins with; without
// one it is refused. A refusal sends nothing and keeps the file. 1 when the XPort took the
// record (the file is then removed); 0 otherwise, after a notice.
int RestoreSavedRecord(UpdateSession& session, const device::Target& target,
                       const std::filesystem::path& file);

// Compares image and readback over [first, end), one progress step per equal byte.
// 1 when all are equal; 0 at the first difference.
int VerifyReadback(panel::RunObserver& events, int first, int end, const image::ImageBuffer& image,
                   const image::ImageBuffer& readback);

}  // namespace update
