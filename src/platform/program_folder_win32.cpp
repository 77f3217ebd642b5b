#include "platform/program_folder.h"

#include <windows.h>

#include <vector>

#include "platform/text_win32.h"

namespace platform {

std::string ProgramFolder() {
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) {
      std::wstring path(buf.data(), n);
      const auto sep = path.find_last_of(L"\\/");
      if (sep == std::wstring::npos) return {};
      return ToUtf8(path.substr(0, sep));
    }
    if (buf.size() >= 32768) return {};
    buf.resize(buf.size() * 2);
  }
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  const bool absolute = (!name.empty() && (name.front() == '\\' || name.front() == '/')) ||
                        (name.size() >= 2 && name[1] == ':');
  if (absolute) return name;
  if (folder.empty()) return name;
  if (folder.back() == '\\' || folder.back() == '/') return folder + name;
  return folder + "\\" + name;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
  return _wfopen(ToWide(path).c_str(), ToWide(mode).c_str());
}

}  // namespace platform
