#include "report/history.h"

#include <nlohmann/json.hpp>

#include "panel/text_catalog.h"
#include "platform/program_folder.h"
#include "platform/state_folder.h"

namespace report {
namespace {

using nlohmann::json;

// A field as the table shows it: text as it is, numbers in decimal, null as empty.
std::string Field(const json& line, const char* key) {
  const auto it = line.find(key);
  if (it == line.end() || it->is_null()) return {};
  if (it->is_string()) return it->get<std::string>();
  if (it->is_number_float()) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", it->get<double>());
    return text;
  }
  if (it->is_number()) return std::to_string(it->get<long long>());
  return it->dump();
}

// The reason in the reader's language, from the stable code and its arguments.
std::string Reason(const json& line) {
  std::string reason = Field(line, "reason");
  const auto code = line.find("reason_code");
  if (code != line.end() && code->is_string()) {
    update::Failure failure{update::FailureKindNamed(code->get<std::string>()), {}};
    const auto args = line.find("reason_args");
    if (args != line.end() && args->is_array()) {
      for (const json& a : *args) {
        if (a.is_string()) failure.args.push_back(a.get<std::string>());
      }
    }
    if (failure.kind != update::FailureKind::None) reason = update::ReasonText(failure);
  }
  // A run can end "updated" and still leave its XPort changed: the history must say so, and
  // where the original waits.
  const auto flag = [&line](const char* key) {
    const auto it = line.find(key);
    return it != line.end() && it->is_boolean() && it->get<bool>();
  };
  if (flag("xport_overridden") && !flag("xport_restored")) {
    std::string left = panel::Text(panel::TextId::HistoryXPortChanged);
    const std::string saved = Field(line, "saved_record");
    if (!saved.empty())
      left += " (" + panel::FormatText(panel::TextId::HistorySavedRecord, {saved}) + ")";
    reason = reason.empty() ? left : reason + "; " + left;
  }
  return reason;
}

}  // namespace

std::filesystem::path HistoryPath(const std::filesystem::path& folder) {
  const std::filesystem::path base = folder.empty() ? platform::StateFolder() : folder;
  return base.empty() ? std::filesystem::path() : base / "history.jsonl";
}

bool AppendHistory(const DeviceReport& report, const std::filesystem::path& path,
                   std::error_code* why) {
  if (path.empty()) {
    if (why) *why = std::make_error_code(std::errc::no_such_file_or_directory);
    return false;
  }
  return platform::AppendLine(path, HistoryLine(report, UtcNow(), ProgramVersion()), why);
}

std::string HistoryUnwrittenText(const std::error_code& why, const std::filesystem::path& folder) {
  return panel::FormatText(panel::TextId::HistoryUnwritten,
                           {platform::PathToUtf8(HistoryPath(folder)), platform::ErrorText(why)});
}

bool AppendRestoreHistory(const std::string& address, const std::string& savedRecord, bool restored,
                          const std::filesystem::path& path, std::error_code* why) {
  if (path.empty()) {
    if (why) *why = std::make_error_code(std::errc::no_such_file_or_directory);
    return false;
  }
  const nlohmann::ordered_json line = {{"time", UtcNow()},
                                       {"program_version", ProgramVersion()},
                                       {"action", "restore_xport"},
                                       {"address", address},
                                       {"result", restored ? "xport_restored" : "failed"},
                                       {"saved_record", savedRecord}};
  return platform::AppendLine(path, line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                              why);
}

std::vector<HistoryEntry> ReadHistory(const std::filesystem::path& path, std::size_t last,
                                      std::vector<std::string>* warnings,
                                      std::error_code* unreadable) {
  std::vector<HistoryEntry> entries;
  std::string text;
  if (path.empty()) return entries;
  std::error_code why;
  switch (platform::ReadFile(path, &text, &why)) {
    case platform::ReadStatus::Ok:
      break;
    case platform::ReadStatus::Missing:
      return entries;
    case platform::ReadStatus::Failed:
      if (unreadable) *unreadable = why ? why : std::make_error_code(std::errc::io_error);
      return entries;
  }
  std::size_t lineNo = 0;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string raw = text.substr(at, end - at);
    at = end + 1;
    ++lineNo;
    if (raw.find_first_not_of(" \t\r") == std::string::npos) continue;
    const json line = json::parse(raw, nullptr, false);
    const bool record = !line.is_discarded() && line.is_object() && line.contains("address") &&
                        line["address"].is_string() && line.contains("result") &&
                        line["result"].is_string();
    if (!record) {
      warnings->push_back(panel::FormatText(panel::TextId::HistorySkipped,
                                            {platform::PathToUtf8(path), std::to_string(lineNo)}));
      continue;
    }
    entries.push_back({Field(line, "time"), Field(line, "address"), Field(line, "mac"),
                       Field(line, "model"), Field(line, "version_before"),
                       Field(line, "version_after"), Field(line, "result"), Field(line, "seconds"),
                       Reason(line)});
  }
  if (entries.size() > last)
    entries.erase(entries.begin(), entries.end() - static_cast<std::ptrdiff_t>(last));
  return entries;
}

}  // namespace report
