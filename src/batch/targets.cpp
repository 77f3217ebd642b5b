#include "batch/targets.h"

#include <map>

#include "panel/text_catalog.h"

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

}  // namespace batch
