#include "fleet/targets.h"

#include <map>

#include "panel/text_catalog.h"

namespace fleet {
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

bool IsDeviceAddress(const std::string& text) {
  if (text.size() > 15) return false;
  std::uint32_t value = 0;
  std::size_t start = 0;
  for (int part = 0; part < 4; ++part) {
    const std::size_t end = part < 3 ? text.find('.', start) : text.size();
    if (end == std::string::npos) return false;
    const std::string digits = text.substr(start, end - start);
    if (!IsDigits(digits) || digits.size() > 3 || (digits.size() > 1 && digits[0] == '0')) {
      return false;
    }
    const int n = std::stoi(digits);
    if (n > 255) return false;
    value = value << 8 | static_cast<std::uint32_t>(n);
    start = end + 1;
  }
  return value != 0 && value != 0xFFFFFFFFu;
}

bool AddTarget(const std::string& text, const std::string& origin,
               std::vector<DeviceTarget>* targets, std::string* error) {
  DeviceTarget target;
  target.origin = origin;
  const std::size_t colon = text.find(':');
  target.address = text.substr(0, colon);
  if (!IsDeviceAddress(target.address)) {
    *error = panel::FormatText(panel::TextId::BadAddress, {text});
    return false;
  }
  if (colon != std::string::npos) {
    const std::string port = text.substr(colon + 1);
    if (!IsDigits(port) || port.size() > 5 || std::stoi(port) < 1 || std::stoi(port) > 65535) {
      *error = panel::FormatText(panel::TextId::BadPort, {text});
      return false;
    }
    target.port = static_cast<std::uint16_t>(std::stoi(port));
  }
  targets->push_back(std::move(target));
  return true;
}

bool ParseDevicesText(const std::string& text, const std::string& fileName,
                      std::vector<DeviceTarget>* targets, std::string* error) {
  bool ok = true;
  std::size_t lineNo = 0;
  for (std::size_t at = 0; at <= text.size();) {
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
      *error += panel::FormatText(panel::TextId::BadDeviceLine,
                                  {fileName, std::to_string(lineNo), entry});
      ok = false;
    }
  }
  return ok;
}

bool CheckDistinct(const std::vector<DeviceTarget>& targets, std::string* error) {
  std::map<std::string, const DeviceTarget*> seen;
  for (const DeviceTarget& t : targets) {
    const auto [it, fresh] = seen.emplace(t.address, &t);
    if (!fresh) {
      *error = panel::FormatText(panel::TextId::DuplicateDevice,
                                 {t.address, it->second->origin, t.origin});
      return false;
    }
  }
  return true;
}

}  // namespace fleet
