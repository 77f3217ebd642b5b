#include "batch/targets.h"

#include <map>
#include <nlohmann/json.hpp>

#include "panel/text_catalog.h"
#include "platform/socket.h"

namespace batch {
namespace {

bool IsDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

bool AddTarget(const std::string& text, const std::string& origin,
               std::vector<NamedTarget>* targets, std::string* error) {
  NamedTarget named;
  named.origin = origin;
  const std::size_t colon = text.find(':');
  const auto address = device::ParseIpv4(text.substr(0, colon));
  if (!address || !device::IsDeviceAddress(*address)) {
    *error = panel::FormatText(panel::TextId::BadAddress, {text});
    return false;
  }
  named.target.address = *address;
  if (colon != std::string::npos) {
    const std::string port = text.substr(colon + 1);
    if (!IsDigits(port) || port.size() > 5 || std::stoi(port) < 1 || std::stoi(port) > 65535) {
      *error = panel::FormatText(panel::TextId::BadPort, {text});
      return false;
    }
    named.target.port = std::stoi(port);
  }
  targets->push_back(std::move(named));
  return true;
}

bool ParseDevicesText(const std::string& text, const std::string& fileName,
                      std::vector<NamedTarget>* targets, std::string* error) {
  bool ok = true;
  std::size_t lineNo = 0;
  // Notepad used to begin every UTF-8 file with a byte-order mark.
  const std::size_t start = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
  for (std::size_t at = start; at <= text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string raw = text.substr(at, end - at);
    at = end + 1;
    ++lineNo;
    const std::string entry = Trim(raw.substr(0, raw.find('#')));
    if (entry.empty()) continue;
    std::string ignored;
    const std::string origin = fileName + ":" + std::to_string(lineNo);
    if (!AddTarget(entry, origin, targets, &ignored)) {
      if (!error->empty()) *error += "\n";
      // A NUL byte is shown, not left to end the message where it stands.
      std::string shown;
      for (char c : entry) shown += c == '\0' ? std::string("\\0") : std::string(1, c);
      *error += panel::FormatText(panel::TextId::BadDeviceLine,
                                  {fileName, std::to_string(lineNo), shown});
      ok = false;
    }
  }
  return ok;
}

bool CheckDistinct(const std::vector<NamedTarget>& targets, std::string* error) {
  std::map<std::uint32_t, const NamedTarget*> seen;
  for (const NamedTarget& t : targets) {
    const auto [it, fresh] = seen.emplace(t.target.address.value_or(0), &t);
    if (!fresh) {
      *error = panel::FormatText(panel::TextId::DuplicateDevice,
                                 {device::AddressText(t.target), it->second->origin, t.origin});
      return false;
    }
  }
  return true;
}

bool ParseAddressList(const std::string& text, const std::string& origin,
                      std::vector<NamedTarget>* targets, std::string* error) {
  bool ok = true;
  const auto bad = [&](const std::string& entry) {
    if (!error->empty()) *error += "\n";
    *error += panel::FormatText(panel::TextId::BadAddress, {entry});
    ok = false;
  };
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t start = text.find_first_not_of(" \t\r\n,", at);
    if (start == std::string::npos) break;
    std::size_t end = text.find_first_of(" \t\r\n,", start);
    if (end == std::string::npos) end = text.size();
    const std::string entry = text.substr(start, end - start);
    at = end;
    const std::size_t dash = entry.find('-');
    if (dash == std::string::npos) {
      std::string ignored;
      if (!AddTarget(entry, origin, targets, &ignored)) bad(entry);
      continue;
    }
    // 192.168.0.20-35[:PORT]: the last part runs from the first number to the second.
    const std::size_t colon = entry.find(':', dash);
    const std::string first = entry.substr(0, dash);
    const std::string last = entry.substr(dash + 1, colon == std::string::npos ? std::string::npos
                                                                             : colon - dash - 1);
    const std::string port = colon == std::string::npos ? "" : entry.substr(colon);
    const auto from = device::ParseIpv4(first);
    const auto to = device::ParseIpv4(first.substr(0, first.rfind('.') + 1) + last);
    if (!from || !to || *to < *from || last.empty() || last.find('.') != std::string::npos) {
      bad(entry);
      continue;
    }
    for (std::uint32_t a = *from; a <= *to; ++a) {
      std::string ignored;
      if (!AddTarget(platform::FormatIpv4(a) + port, origin, targets, &ignored)) {
        bad(entry);
        break;
      }
    }
  }
  return ok;
}

std::string DevicesText(const std::vector<NamedTarget>& targets) {
  std::string text;
  for (const NamedTarget& t : targets) {
    text += device::AddressText(t.target);
    if (t.target.port) text += ":" + std::to_string(*t.target.port);
    text += "\n";
  }
  return text;
}

bool TargetsFromReport(const std::string& json, const std::string& fileName,
                       std::vector<NamedTarget>* targets, std::string* error) {
  const nlohmann::json report = nlohmann::json::parse(json, nullptr, false);
  const auto notOurs = [&] {
    *error = panel::FormatText(panel::TextId::NotAReport, {fileName});
    return false;
  };
  if (report.is_discarded() || !report.is_object() || !report.contains("program_version") ||
      !report.contains("devices") || !report["devices"].is_array()) {
    return notOurs();
  }
  std::vector<NamedTarget> found;
  std::size_t n = 0;
  for (const nlohmann::json& d : report["devices"]) {
    ++n;
    if (!d.is_object() || !d.contains("address") || !d["address"].is_string() ||
        !d.contains("result") || !d["result"].is_string()) {
      return notOurs();
    }
    const std::string result = d["result"].get<std::string>();
    if (result == "updated" || result == "skipped") continue;
    std::string entry = d["address"].get<std::string>();
    if (d.contains("port") && d["port"].is_number_integer()) {
      entry += ":" + std::to_string(d["port"].get<long long>());
    }
    std::string ignored;
    if (!AddTarget(entry, fileName + ":" + std::to_string(n), &found, &ignored)) return notOurs();
  }
  targets->insert(targets->end(), found.begin(), found.end());
  return true;
}

}  // namespace batch
