// What one device's run came to, in the shape the machine-readable report and the history
// keep: one report for one device and for many, made from the run's outcome and its record.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "panel/target.h"
#include "report/run_record.h"
#include "update/outcome.h"

namespace report {

struct DeviceReport {
  std::string address{};
  std::optional<int> port{};           // the TCP port the run used (or would have used)
  std::optional<std::string> mac{};    // "00-20-4A-0B-4C-0E", when the XPort told it
  std::optional<std::string> model{};  // "KT-21", "KT-40D(-W)" or "KT-52-W", if identified
  std::optional<int> versionBefore{};  // the version word the device reported
  // The version word the device holds now, as far as the run knows it (Outcome).
  std::optional<int> versionAfter{};
  update::Result result = update::Result::Failed;
  update::Failure failure{};  // why, when not updated, declined, skipped or would_update
  std::string reason{};       // the failure as a reason reads, in the run's language
  std::vector<NoticeRecord> notices{};
  bool xportOverridden = false;
  bool xportRestored = false;
  std::optional<std::string> savedRecord{};  // the XPort's original record, still on disk
  double seconds = 0;
  bool interrupted = false;
  std::optional<image::DataFileFacts> dataFile{};  // what was known of the data file

  bool identified() const { return model.has_value(); }
  // True when the XPort's settings are still changed: it took the change and not its
  // own record back.
  bool XPortLeftChanged() const { return xportOverridden && !xportRestored; }
};

// The report of a run that has ended.
DeviceReport MakeReport(const device::Target& target, const update::Outcome& outcome,
                        std::vector<NoticeRecord> notices, double seconds);

// "Results: updated 3, failed 1, skipped 2": every result that occurs, with its count, in
// the current language.
std::string SummaryText(const std::vector<DeviceReport>& reports);

// {"program_version": ..., "data_file": {...} or null, "devices": [...]} as indented JSON
// text; the data file is the one the devices were written from.
std::string ReportJson(const std::vector<DeviceReport>& reports);

// One line of the history: the device's report object with "time" (UTC, ISO 8601) and
// "program_version" added.
std::string HistoryLine(const DeviceReport& report, const std::string& time,
                        const std::string& programVersion);

// The program's version as the build carries it, "1.0.2.0".
std::string ProgramVersion();
// Now, in UTC: "2026-12-07T02:22:51Z".
std::string UtcNow();

}  // namespace report
