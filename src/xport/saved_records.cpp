#include "xport/saved_records.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <string_view>

#include "platform/clock.h"
#include "platform/state_folder.h"

namespace xport {
namespace {
constexpr const char* kSuffix = ".setup";
constexpr const char* kMacLine = "DERURUZUD-XPORT-RECORD MAC=";
constexpr std::size_t kMacKeyChars = 17;

// "00-20-4A-0B-4C-0E": six upper-case hex pairs joined by '-'.
bool IsMacKey(std::string_view text) {
  if (text.size() != kMacKeyChars) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
    if (i % 3 == 2 ? c != '-' : !hex) return false;
  }
  return true;
}
}  // namespace

std::string MacKey(const XPortInfoBytes& info) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%02X-%02X-%02X-%02X-%02X-%02X", info[24], info[25], info[26],
                info[27], info[28], info[29]);
  return buf;
}

SavedRecords::SavedRecords(std::string folder)
    : folder_(folder.empty() ? platform::StateFolder() : std::move(folder)) {}

std::string SavedRecords::Save(const XPortInfoBytes& info, const SetupRecordBytes& record) {
  if (folder_.empty()) return {};
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  platform::LocalTime(now, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
  // Two saves within one second (a quick second run) must not overwrite each other.
  for (int n = 0; n < 100; ++n) {
    std::string path = folder_ + "/" + MacKey(info) + "-" + stamp;
    if (n > 0) path += "-" + std::to_string(n);
    path += kSuffix;
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) continue;
    std::string bytes = kMacLine + MacKey(info) + "\n";
    bytes.append(reinterpret_cast<const char*>(record.data()), record.size());
    // Two runs that picked the same name (the same MAC within one second) must not
    // overwrite each other: a taken name is skipped.
    if (platform::CreateFileAtomically(path, bytes.data(), bytes.size())) return path;
    if (!std::filesystem::exists(path, ec)) return {};
  }
  return {};
}

bool SavedRecords::Remove(const std::string& path) {
  std::error_code ec;
  return std::filesystem::remove(path, ec) && !ec;
}

std::vector<std::string> SavedRecords::FindFor(const XPortInfoBytes& info) const {
  std::vector<std::string> found;
  std::error_code ec;
  if (folder_.empty() || !std::filesystem::is_directory(folder_, ec)) return found;
  const std::string prefix = MacKey(info) + "-";
  for (const auto& entry : std::filesystem::directory_iterator(folder_, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) == 0 && name.size() > std::string(kSuffix).size() &&
        name.compare(name.size() - std::string(kSuffix).size(), std::string::npos, kSuffix) == 0) {
      // Spelled as Save spells it, so that one file has one name on every platform.
      found.push_back(folder_ + "/" + name);
    }
  }
  // The time stamp in the name sorts oldest first.
  std::sort(found.begin(), found.end());
  return found;
}

bool SavedRecords::Load(const std::string& path, SetupRecordBytes* record, std::string* mac) {
  std::string text;
  if (!platform::ReadWholeFile(path, &text)) return false;
  std::string from;
  const std::size_t line = std::string(kMacLine).size() + kMacKeyChars + 1;
  if (text.size() == line + record->size() && text.rfind(kMacLine, 0) == 0 &&
      text[line - 1] == '\n') {
    from = text.substr(line - 1 - kMacKeyChars, kMacKeyChars);
    if (!IsMacKey(from)) return false;
    text.erase(0, line);
  } else if (text.size() != record->size()) {
    return false;  // neither form: not exactly one record
  }
  std::copy(text.begin(), text.end(), record->begin());
  if (mac) *mac = from;
  return true;
}

std::string MacKeyOfFileName(const std::string& path) {
  const std::string name = std::filesystem::path(path).filename().string();
  const std::string key = name.substr(0, kMacKeyChars);
  // Save's names go on with '-' and the time stamp.
  return IsMacKey(key) && name.size() > kMacKeyChars && name[kMacKeyChars] == '-' ? key : "";
}

}  // namespace xport
