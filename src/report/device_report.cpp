#include "report/device_report.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

#include "panel/panel_texts.h"
#include "platform/clock.h"
#include "platform/program_folder.h"
#include "xport/wire.h"

namespace report {
namespace {

using nlohmann::ordered_json;

template <typename T>
ordered_json OrNull(const std::optional<T>& value) {
  return value ? ordered_json(*value) : ordered_json(nullptr);
}

ordered_json DataFileJson(const std::optional<image::DataFileFacts>& f) {
  if (!f) return nullptr;
  ordered_json signature = nullptr;
  if (f->signature.state == image::SignatureState::Good) {
    signature = {{"key_id", f->signature.keyId}, {"trusted_comment", f->signature.trustedComment}};
  }
  return {{"path", platform::PathToUtf8(f->path)},
          {"sha256", f->sha256},
          {"version", f->version},
          {"checksum_errors", f->checksumErrors},
          {"signature", std::move(signature)}};
}

ordered_json ToJson(const DeviceReport& r) {
  ordered_json notices = ordered_json::array();
  for (const NoticeRecord& n : r.notices) {
    ordered_json one = {{"caption", n.caption}, {"text", n.text}};
    if (n.question) one["answer"] = n.answer ? "yes" : "no";
    notices.push_back(std::move(one));
  }
  const bool hasReason = r.failure.kind != update::FailureKind::None;
  return {{"address", r.address},
          {"port", OrNull(r.port)},
          {"mac", OrNull(r.mac)},
          {"model", OrNull(r.model)},
          {"version_before", OrNull(r.versionBefore)},
          {"version_after", OrNull(r.versionAfter)},
          {"result", update::ResultName(r.result)},
          {"reason", hasReason ? ordered_json(r.reason) : ordered_json(nullptr)},
          {"reason_code",
           hasReason ? ordered_json(update::ReasonCode(r.failure.kind)) : ordered_json(nullptr)},
          {"reason_args", hasReason ? ordered_json(r.failure.args) : ordered_json(nullptr)},
          {"interrupted", r.interrupted},
          {"notices", std::move(notices)},
          {"xport_overridden", r.xportOverridden},
          {"xport_restored", r.xportRestored},
          {"saved_record", OrNull(r.savedRecord)},
          {"seconds", static_cast<double>(static_cast<long long>(r.seconds * 100 + 0.5)) / 100}};
}

}  // namespace

DeviceReport MakeReport(const device::Target& target, const update::Outcome& o,
                        std::vector<NoticeRecord> notices, double seconds) {
  DeviceReport r;
  r.address = device::AddressText(target);
  if (o.port && *o.port != 0) r.port = *o.port & 0xFFFF;
  if (o.mac) r.mac = xport::FormatMac(*o.mac);
  if (o.identity) {
    const device::ModelInfo* model = device::FindModel(o.identity->ModelCode);
    if (model) r.model = model->name;
    r.versionBefore = o.identity->ReportedVersion;
  }
  r.versionAfter = o.VersionAfter();
  r.result = o.result;
  r.failure = o.failure;
  r.reason = update::ReasonText(o.failure);
  r.notices = std::move(notices);
  r.interrupted = o.interrupted;
  r.xportOverridden = o.xportOverridden;
  r.xportRestored = o.xportRestored;
  if (o.savedRecord) r.savedRecord = platform::PathToUtf8(*o.savedRecord);
  r.seconds = seconds;
  r.dataFile = o.dataFile;
  return r;
}

std::string SummaryText(const std::vector<DeviceReport>& reports) {
  std::string parts;
  for (update::Result r : {update::Result::Updated, update::Result::Failed, update::Result::Declined,
                           update::Result::Interrupted, update::Result::Skipped,
                           update::Result::Refused, update::Result::NotStarted,
                           update::Result::WouldUpdate}) {
    const auto n = std::count_if(reports.begin(), reports.end(),
                                 [r](const DeviceReport& d) { return d.result == r; });
    if (n == 0) continue;
    if (!parts.empty()) parts += ", ";
    parts += std::string(panel::Text(update::ResultText(r))) + " " + std::to_string(n);
  }
  return panel::FormatText(panel::TextId::SummaryLine, {parts});
}

std::string ReportJson(const std::vector<DeviceReport>& reports) {
  ordered_json devices = ordered_json::array();
  std::optional<image::DataFileFacts> dataFile;
  for (const DeviceReport& r : reports) {
    devices.push_back(ToJson(r));
    if (!dataFile) dataFile = r.dataFile;
  }
  const ordered_json report = {{"program_version", ProgramVersion()},
                               {"data_file", DataFileJson(dataFile)},
                               {"devices", std::move(devices)}};
  // Invalid UTF-8 in a notice (it cannot come from our texts) is replaced, never thrown.
  return report.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

std::string HistoryLine(const DeviceReport& report, const std::string& time,
                        const std::string& programVersion) {
  ordered_json line = {{"time", time}, {"program_version", programVersion}};
  line.update(ToJson(report));
  line["data_file"] = DataFileJson(report.dataFile);
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

}  // namespace report
