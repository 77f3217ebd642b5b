#include "fleet/device_report.h"

#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

#include "link/device_link.h"
#include "panel/panel_texts.h"
#include "platform/clock.h"
#include "platform/program_folder.h"

namespace fleet {
namespace {

using nlohmann::ordered_json;

std::optional<std::string> ModelName(int code) {
  switch (code) {
    case device::kModelKT21:
      return "KT-21";
    case device::kModelKT40D:
      return "KT-40D(-W)";
    case device::kModelKT52W:
      return "KT-52-W";
    default:
      return std::nullopt;
  }
}

std::string WithoutTrailingLineEnds(std::string text) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// The notice that says first what went wrong: the run's first error.
std::string FailureReason(const update::UpdateSession& s,
                          const std::vector<NoticeRecord>& notices) {
  if (s.facts.stopped) return panel::Text(panel::TextId::ReasonInterrupted);
  for (const NoticeRecord& n : notices) {
    if (!n.question && (n.caption == "Error" || n.text.rfind("Error", 0) == 0)) {
      return WithoutTrailingLineEnds(n.text);
    }
  }
  const int code = s.protocol.Identity().ModelCode;
  if (s.facts.macRead && !s.facts.identified && code != 0 && !ModelName(code)) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(code) & 0xFFu);
    return panel::FormatText(panel::TextId::ReasonUnlistedModel, {hex});
  }
  if (!notices.empty()) return WithoutTrailingLineEnds(notices.back().text);
  return panel::Text(panel::TextId::ReasonUnknown);
}

template <typename T>
ordered_json OrNull(const std::optional<T>& value) {
  return value ? ordered_json(*value) : ordered_json(nullptr);
}

ordered_json ToJson(const DeviceReport& r) {
  ordered_json notices = ordered_json::array();
  for (const NoticeRecord& n : r.notices) {
    ordered_json one = {{"caption", n.caption}, {"text", n.text}};
    if (n.question) one["answer"] = n.answer ? "yes" : "no";
    notices.push_back(std::move(one));
  }
  return {{"address", r.address},
          {"port", OrNull(r.port)},
          {"mac", OrNull(r.mac)},
          {"model", OrNull(r.model)},
          {"version_before", OrNull(r.versionBefore)},
          {"version_after", OrNull(r.versionAfter)},
          {"result", ResultName(r.result)},
          {"reason", r.reason.empty() ? ordered_json(nullptr) : ordered_json(r.reason)},
          {"interrupted", r.interrupted},
          {"notices", std::move(notices)},
          {"xport_overridden", r.xportOverridden},
          {"xport_restored", r.xportRestored},
          {"saved_record", OrNull(r.savedRecord)},
          {"seconds", static_cast<double>(static_cast<long long>(r.seconds * 100 + 0.5)) / 100}};
}

}  // namespace

DeviceReport MakeReport(update::UpdateSession& s, RunHost& host, const update::JobOutcome& outcome,
                        double seconds) {
  const update::RunFacts& f = s.facts;
  DeviceReport r;
  r.address = host.Text(panel::IDC_ADDRESS);
  const int port = device::ParsePortText(host.Text(panel::IDC_PORT));
  if (port != 0) r.port = port & 0xFFFF;
  if (f.macRead) r.mac = xport::MacKey(s.xport.XPortInfo());
  r.identified = f.identified;
  if (f.identified) {
    r.model = ModelName(s.protocol.Identity().ModelCode);
    r.versionBefore = s.protocol.Identity().ReportedVersion;
  }
  const bool updated = outcome.dataFileRead && outcome.result == 1;
  if (updated) {
    r.versionAfter = s.images.ImageVersion();
  } else if (f.writeStarted) {
    r.versionAfter = 0;
  } else {
    r.versionAfter = r.versionBefore;
  }
  r.notices = host.Notices();
  r.interrupted = f.stopped;
  if (updated) {
    r.result = Result::Updated;
  } else if (f.identified && !f.confirmed && !f.stopped) {
    r.result = Result::Declined;
  } else {
    r.result = Result::Failed;
    r.reason = FailureReason(s, r.notices);
  }
  r.xportOverridden = f.overridden;
  r.xportRestored = f.xportRestored;
  if (outcome.dataFileRead && !s.savedRecordPath.empty())
    r.savedRecord = platform::PathToUtf8(s.savedRecordPath);
  r.seconds = seconds;
  return r;
}

const char* ResultName(Result result) {
  switch (result) {
    case Result::Updated:
      return "updated";
    case Result::Declined:
      return "declined";
    case Result::Failed:
      break;
  }
  return "failed";
}

panel::TextId ResultText(const DeviceReport& report) {
  if (report.interrupted) return panel::TextId::ResultInterrupted;
  switch (report.result) {
    case Result::Updated:
      return panel::TextId::ResultUpdated;
    case Result::Declined:
      return panel::TextId::ResultDeclined;
    case Result::Failed:
      break;
  }
  return panel::TextId::ResultFailed;
}

std::string ReportJson(const std::vector<DeviceReport>& reports) {
  ordered_json devices = ordered_json::array();
  for (const DeviceReport& r : reports) devices.push_back(ToJson(r));
  const ordered_json report = {{"program_version", ProgramVersion()},
                               {"devices", std::move(devices)}};
  // Invalid UTF-8 in a notice (it cannot come from our texts) is replaced, never thrown.
  return report.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

std::string HistoryLine(const DeviceReport& report, const std::string& time,
                        const std::string& programVersion) {
  ordered_json line = {{"time", time}, {"program_version", programVersion}};
  line.update(ToJson(report));
  return line.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

std::string ProgramVersion() {
  panel::FileVersion v;
  panel::ReadOwnFileVersion(v);
  return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.build) +
         "." + std::to_string(v.revision);
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  platform::UtcTime(now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

}  // namespace fleet
