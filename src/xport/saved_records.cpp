#include "xport/saved_records.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "platform/clock.h"
#include "platform/program_folder.h"
#include "platform/state_folder.h"

namespace xport {
namespace {
constexpr const char* kSuffix = ".setup";

// folder/name, with a slash on every platform (Windows takes it as well as a backslash), so
// that Save and FindFor spell one file alike.
std::filesystem::path InFolder(const std::filesystem::path& folder,
                               const std::filesystem::path& name) {
  std::filesystem::path joined = folder;
  joined += "/";
  joined += name;
  return joined;
}
}  // namespace

std::string MacKey(const XPortInfoBytes& info) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%02X-%02X-%02X-%02X-%02X-%02X", info[24], info[25], info[26],
                info[27], info[28], info[29]);
  return buf;
}

SavedRecords::SavedRecords(std::filesystem::path folder)
    : folder_(folder.empty() ? platform::StateFolder() : std::move(folder)) {}

std::filesystem::path SavedRecords::Save(const XPortInfoBytes& info,
                                         const SetupRecordBytes& record) {
  if (folder_.empty()) return {};
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  platform::LocalTime(now, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
  // Two saves within one second (a quick second run) must not overwrite each other.
  for (int n = 0; n < 100; ++n) {
    std::string name = MacKey(info) + "-" + stamp;
    if (n > 0) name += "-" + std::to_string(n);
    const std::filesystem::path path = InFolder(folder_, name + kSuffix);
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) continue;
    if (!platform::WriteFileAtomically(path, record.data(), record.size())) return {};
    return path;
  }
  return {};
}

bool SavedRecords::Remove(const std::filesystem::path& file) {
  std::error_code ec;
  return std::filesystem::remove(file, ec) && !ec;
}

std::vector<std::filesystem::path> SavedRecords::FindFor(const XPortInfoBytes& info) const {
  std::vector<std::filesystem::path> found;
  std::error_code ec;
  if (folder_.empty() || !std::filesystem::is_directory(folder_, ec)) return found;
  const std::string prefix = MacKey(info) + "-";
  for (std::filesystem::directory_iterator it(folder_, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::filesystem::path file = it->path().filename();
    // As UTF-8: on Windows the narrow form of a name outside the ANSI code page throws.
    const std::string name = platform::PathToUtf8(file);
    if (name.rfind(prefix, 0) == 0 && name.size() > std::string(kSuffix).size() &&
        name.compare(name.size() - std::string(kSuffix).size(), std::string::npos, kSuffix) == 0) {
      found.push_back(InFolder(folder_, file));
    }
  }
  // The time stamp in the name sorts oldest first.
  std::sort(found.begin(), found.end());
  return found;
}

bool SavedRecords::Load(const std::filesystem::path& file, SetupRecordBytes* record) {
  std::ifstream f(file, std::ios::binary);
  if (!f) return false;
  SetupRecordBytes bytes{};
  f.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (f.gcount() != static_cast<std::streamsize>(bytes.size())) return false;
  if (f.peek() != std::char_traits<char>::eof()) return false;  // longer than one record
  *record = bytes;
  return true;
}

}  // namespace xport
