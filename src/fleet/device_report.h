// What one device's run came to, in the shape the machine-readable report and the history
// keep: one report for one device and for many.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "fleet/run_host.h"
#include "panel/text_catalog.h"
#include "update/update_procedure.h"

namespace fleet {

enum class Result { Updated, Failed, Declined };

struct DeviceReport {
  std::string address{};
  std::optional<int> port{};           // the TCP port the run used (or would have used)
  std::optional<std::string> mac{};    // "00-20-4A-0B-4C-0E", when the XPort told it
  std::optional<std::string> model{};  // "KT-21", "KT-40D(-W)" or "KT-52-W", if identified
  std::optional<int> versionBefore{};  // the version word the device reported
  // The version word the device holds now, as far as the run knows it: the new one when
  // updated; 0 once the writing began and did not complete (the version block is cleared
  // first); the old one when it was not written; none when it was never identified.
  std::optional<int> versionAfter{};
  Result result = Result::Failed;
  std::vector<NoticeRecord> notices{};
  bool xportOverridden = false;
  bool xportRestored = false;
  std::optional<std::string> savedRecord{};  // the XPort's original record, still on disk
  double seconds = 0;
  bool identified = false;
  bool interrupted = false;
  std::string reason{};  // why it failed; empty unless failed
};

// The report of a run that has ended: from its session's facts, the host's record and
// the job's outcome.
DeviceReport MakeReport(update::UpdateSession& session, RunHost& host,
                        const update::JobOutcome& outcome, double seconds);

// "updated", "failed" or "declined".
const char* ResultName(Result result);
// The result as the operator reads it ("interrupted" for an interrupted run).
panel::TextId ResultText(const DeviceReport& report);

// {"devices": [...]} as indented JSON text.
std::string ReportJson(const std::vector<DeviceReport>& reports);

// One line of the history: the device's report object with "time" (UTC, ISO 8601) and
// "program_version" added.
std::string HistoryLine(const DeviceReport& report, const std::string& time,
                        const std::string& programVersion);

// The program's version as the build carries it, "1.0.2.0".
std::string ProgramVersion();
// Now, in UTC: "2026-12-07T02:22:51Z".
std::string UtcNow();

}  // namespace fleet
