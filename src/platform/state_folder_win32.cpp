#include "platform/state_folder.h"

#include <windows.h>

#include <cstdlib>
#include <string>

namespace platform {

std::filesystem::path StateFolder() {
  const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
  if (!local || !*local) return {};
  return std::filesystem::path(local) / L"DERURUZUD";
}

bool WriteFileAtomically(const std::filesystem::path& path, const void* data, std::size_t size) {
  const std::wstring& target = path.native();
  std::error_code ec;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
  if (ec) return false;
  const std::wstring tmp = target + L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                           std::to_wstring(GetCurrentThreadId());
  const HANDLE h = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const auto* bytes = static_cast<const char*>(data);
  std::size_t left = size;
  bool ok = true;
  while (left > 0) {
    const DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!WriteFile(h, bytes, chunk, &written, nullptr) || written == 0) {
      ok = false;
      break;
    }
    bytes += written;
    left -= written;
  }
  ok = ok && FlushFileBuffers(h);
  ok = CloseHandle(h) && ok;
  ok = ok &&
       MoveFileExW(tmp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) DeleteFileW(tmp.c_str());
  return ok;
}

}  // namespace platform
