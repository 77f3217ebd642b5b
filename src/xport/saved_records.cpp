#include "xport/saved_records.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "platform/clock.h"
#include "platform/state_folder.h"

namespace xport {
namespace {
constexpr const char* kSuffix = ".setup";
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
    if (!platform::WriteFileAtomically(path, record.data(), record.size())) return {};
    return path;
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

bool SavedRecords::Load(const std::string& path, SetupRecordBytes* record) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  SetupRecordBytes bytes{};
  f.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (f.gcount() != static_cast<std::streamsize>(bytes.size())) return false;
  if (f.peek() != std::char_traits<char>::eof()) return false;  // longer than one record
  *record = bytes;
  return true;
}

}  // namespace xport
