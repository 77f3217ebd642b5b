#include "platform/state_folder.h"

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace platform {

std::filesystem::path StateFolder() {
  const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
  if (!local || !*local) return {};
  return std::filesystem::path(local) / L"DERURUZUD";
}

namespace {

bool CreateFolders(const std::wstring& target) {
  std::error_code ec;
  const std::filesystem::path p(target);
  if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path(), ec);
  return !ec;
}

bool WriteAll(HANDLE h, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  std::size_t left = size;
  while (left > 0) {
    const DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!WriteFile(h, bytes, chunk, &written, nullptr) || written == 0) return false;
    bytes += written;
    left -= written;
  }
  return true;
}

// Writes bytes to a fresh temporary file beside target and flushes it. Returns its name,
// or empty (nothing left) on failure.
std::wstring WriteTemporary(const std::wstring& target, const void* data, std::size_t size) {
  if (!CreateFolders(target)) return {};
  const std::wstring tmp = target + L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                           std::to_wstring(GetCurrentThreadId());
  const HANDLE h = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  bool ok = WriteAll(h, data, size);
  ok = ok && FlushFileBuffers(h);
  ok = CloseHandle(h) && ok;
  if (!ok) {
    DeleteFileW(tmp.c_str());
    return {};
  }
  return tmp;
}

bool MoveInPlace(const std::wstring& tmp, const std::wstring& target, DWORD flags) {
  const bool ok = MoveFileExW(tmp.c_str(), target.c_str(), flags | MOVEFILE_WRITE_THROUGH);
  if (!ok) DeleteFileW(tmp.c_str());
  return ok;
}

}  // namespace

bool WriteFileAtomically(const std::filesystem::path& path, const void* data, std::size_t size) {
  const std::wstring& target = path.native();
  const std::wstring tmp = WriteTemporary(target, data, size);
  return !tmp.empty() && MoveInPlace(tmp, target, MOVEFILE_REPLACE_EXISTING);
}

bool CreateFileAtomically(const std::filesystem::path& path, const void* data, std::size_t size) {
  const std::wstring& target = path.native();
  const std::wstring tmp = WriteTemporary(target, data, size);
  // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
  return !tmp.empty() && MoveInPlace(tmp, target, 0);
}

bool AppendLine(const std::filesystem::path& path, const std::string& line) {
  const std::wstring& target = path.native();
  if (!CreateFolders(target)) return false;
  const HANDLE h = CreateFileW(target.c_str(), FILE_APPEND_DATA | GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  // A line cut short by a crash gets its line end now, so that it spoils only itself.
  std::string out;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(h, &size) && size.QuadPart > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(size.QuadPart - 1);
    at.OffsetHigh = static_cast<DWORD>((size.QuadPart - 1) >> 32);
    char last = '\n';
    DWORD got = 0;
    if (ReadFile(h, &last, 1, &got, &at) && got == 1 && last != '\n') out += '\n';
  }
  out += line;
  out += '\n';
  // One write to a handle opened for appending only: whole lines never interleave.
  bool ok = WriteAll(h, out.data(), out.size());
  ok = FlushFileBuffers(h) && ok;
  ok = CloseHandle(h) && ok;
  return ok;
}

bool ReadWholeFile(const std::filesystem::path& path, std::string* out) {
  const HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  std::string text;
  char buf[65536];
  bool ok = true;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(h, buf, sizeof buf, &got, nullptr)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    text.append(buf, got);
  }
  CloseHandle(h);
  if (ok) *out = std::move(text);
  return ok;
}

}  // namespace platform
