// The history of runs: history.jsonl in the state folder, one JSON line per device's run,
// appended by every front end and read back by DERURUZUD-cli --history.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "report/device_report.h"

namespace report {

// folder/history.jsonl; empty folder: the state folder. Empty when there is none.
std::filesystem::path HistoryPath(const std::filesystem::path& folder = {});

// Appends the report's line (with the time and the program's version). False when the
// file cannot be written, *why then saying why; a run's outcome never depends on it, but
// the operator is told.
bool AppendHistory(const DeviceReport& report, const std::filesystem::path& path,
                   std::error_code* why = nullptr);
// Appends the line of a restore of saved XPort settings (DERURUZUD-cli --restore-xport).
// What the operator reads when a history line could not be written (why) to the history
// in folder (empty: the state folder).
std::string HistoryUnwrittenText(const std::error_code& why,
                                 const std::filesystem::path& folder = {});

bool AppendRestoreHistory(const std::string& address, const std::string& savedRecord, bool restored,
                          const std::filesystem::path& path, std::error_code* why = nullptr);

// One run as the history table shows it; absent values are empty. The reason is rendered
// in the reader's language from the line's reason_code and reason_args (lines written
// before those existed keep the text they were written with).
struct HistoryEntry {
  std::string time, address, mac, model, versionBefore, versionAfter, result, seconds, reason;
};

// The last `last` runs of the file, oldest first. A line that is not a run record (cut
// short by a crash, edited by hand) is skipped with a warning naming its line. A missing
// file is an empty history; one that cannot be read sets *unreadable (with why).
std::vector<HistoryEntry> ReadHistory(const std::filesystem::path& path, std::size_t last,
                                      std::vector<std::string>* warnings,
                                      std::error_code* unreadable = nullptr);

}  // namespace report
