#include "xport/saved_records.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <string_view>

#include "platform/clock.h"
#include "platform/crypto.h"
#include "platform/program_folder.h"
#include "platform/state_folder.h"

namespace xport {
namespace {
constexpr const char* kSuffix = ".setup";
constexpr const char* kMacLine = "DERURUZUD-XPORT-RECORD MAC=";
constexpr const char* kShaField = " SHA256=";
constexpr std::size_t kMacKeyChars = 17;
constexpr std::size_t kShaChars = 64;

std::string Sha256Hex(const SetupRecordBytes& record) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (std::uint8_t b : platform::Sha256(record)) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

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
  return FormatMac(MacOfInfo(info));
}

SavedRecords::SavedRecords(std::filesystem::path folder)
    : folder_(folder.empty() ? platform::StateFolder() : std::move(folder)) {}

std::filesystem::path SavedRecords::Save(const XPortInfoBytes& info,
                                         const SetupRecordBytes& record, std::error_code* why) {
  if (folder_.empty()) {
    if (why) *why = std::make_error_code(std::errc::no_such_file_or_directory);
    return {};
  }
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
    std::string bytes = kMacLine + MacKey(info) + kShaField + Sha256Hex(record) + "\n";
    bytes.append(reinterpret_cast<const char*>(record.data()), record.size());
    // Two runs that picked the same name (the same MAC within one second) must not
    // overwrite each other: a taken name is skipped.
    if (platform::CreateFileAtomically(path, bytes.data(), bytes.size(), why)) return path;
    if (!std::filesystem::exists(path, ec)) return {};
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

bool SavedRecords::Load(const std::filesystem::path& file, SetupRecordBytes* record,
                        std::string* mac) {
  std::string text;
  if (!platform::ReadWholeFile(file, &text)) return false;
  std::string from, sha;
  if (text.size() > record->size() && text.rfind(kMacLine, 0) == 0) {
    const std::size_t end = text.find('\n');
    if (end == std::string::npos || text.size() != end + 1 + record->size()) return false;
    const std::string line = text.substr(0, end);
    from = line.substr(std::string(kMacLine).size(), kMacKeyChars);
    const std::string rest = line.substr(std::min(line.size(), std::string(kMacLine).size() + kMacKeyChars));
    if (!IsMacKey(from)) return false;
    if (!rest.empty()) {
      if (rest.rfind(kShaField, 0) != 0 || rest.size() != std::string(kShaField).size() + kShaChars)
        return false;
      sha = rest.substr(std::string(kShaField).size());
    }
    text.erase(0, end + 1);
  } else if (text.size() != record->size()) {
    return false;  // neither form: not exactly one record
  }
  SetupRecordBytes read;
  std::copy(text.begin(), text.end(), read.begin());
  // A record whose bytes no longer match what was saved would put the XPort wrong.
  if (!sha.empty() && sha != Sha256Hex(read)) return false;
  *record = read;
  if (mac) *mac = from;
  return true;
}

std::string MacKeyOfFileName(const std::filesystem::path& file) {
  const std::string name = platform::PathToUtf8(file.filename());
  const std::string key = name.substr(0, kMacKeyChars);
  // Save's names go on with '-' and the time stamp.
  return IsMacKey(key) && name.size() > kMacKeyChars && name[kMacKeyChars] == '-' ? key : "";
}

}  // namespace xport
