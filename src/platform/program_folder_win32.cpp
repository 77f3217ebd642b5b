#include "platform/program_folder.h"

#include <windows.h>

#include <vector>

#include "platform/text_win32.h"

namespace platform {

std::filesystem::path ProgramFolder() {
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return std::filesystem::path(std::wstring(buf.data(), n)).parent_path();
    if (buf.size() >= 32768) return {};
    buf.resize(buf.size() * 2);
  }
}

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
  return _wfopen(path.c_str(), ToWide(mode).c_str());
}

}  // namespace platform
