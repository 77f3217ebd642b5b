#include "platform/state_folder.h"
#include "platform/system_error_text.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cwctype>
#include <filesystem>
#include <string>

// Folders cannot be flushed here: FlushFileBuffers needs a handle opened for writing, and
// a folder cannot be opened so. NTFS logs its folder changes in its own journal, and
// MOVEFILE_WRITE_THROUGH makes a rename return only once it is on the disk, which stands
// in for the POSIX twin's flush of the folder.

namespace platform {

std::filesystem::path StateFolder() {
  const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
  if (!local || !*local) return {};
  return std::filesystem::path(local) / L"DERURUZUD";
}

namespace {

// Records code as the reason (when asked for) and gives false, for `return Fail(...)`.
bool Fail(std::error_code* why, DWORD code) {
  if (why) *why = std::error_code(static_cast<int>(code), std::system_category());
  return false;
}

bool FailLast(std::error_code* why) {
  return Fail(why, GetLastError());
}

std::filesystem::path FolderOf(const std::filesystem::path& path) {
  const std::filesystem::path folder = path.parent_path();
  return folder.empty() ? std::filesystem::path(L".") : folder;
}

bool CreateFolders(const std::filesystem::path& target, std::error_code* why) {
  std::error_code ec;
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
  if (ec && why) *why = ec;
  return !ec;
}

bool WriteAll(HANDLE h, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  std::size_t left = size;
  while (left > 0) {
    const DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!WriteFile(h, bytes, chunk, &written, nullptr)) return false;
    if (written == 0) {
      SetLastError(ERROR_DISK_FULL);
      return false;
    }
    bytes += written;
    left -= written;
  }
  return true;
}

// Writes bytes to a fresh temporary file beside target and flushes it. Returns its name,
// or empty (nothing left) on failure.
std::wstring WriteTemporary(const std::wstring& target, const void* data, std::size_t size,
                            std::error_code* why) {
  static std::atomic<unsigned> counter{0};
  const std::wstring tmp = target + L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                           std::to_wstring(counter.fetch_add(1));
  const HANDLE h = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    FailLast(why);
    return {};
  }
  bool ok = WriteAll(h, data, size) && FlushFileBuffers(h);
  DWORD error = GetLastError();
  if (!CloseHandle(h) && ok) {
    ok = false;
    error = GetLastError();
  }
  if (!ok) {
    DeleteFileW(tmp.c_str());
    Fail(why, error);
    return {};
  }
  return tmp;
}

bool MoveInPlace(const std::wstring& tmp, const std::wstring& target, DWORD flags,
                 std::error_code* why) {
  if (MoveFileExW(tmp.c_str(), target.c_str(), flags | MOVEFILE_WRITE_THROUGH)) return true;
  FailLast(why);
  DeleteFileW(tmp.c_str());
  return false;
}

// Opens what stands at path for writing without ever creating it and writes all of data
// into it; a disk file is cut to what was written, or emptied when not all of it was.
bool WriteInPlace(const std::filesystem::path& path, const std::string& data,
                  std::error_code* why) {
  const HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return FailLast(why);
  const bool disk = GetFileType(h) == FILE_TYPE_DISK;
  bool ok = WriteAll(h, data.data(), data.size()) && (!disk || FlushFileBuffers(h));
  DWORD error = GetLastError();
  if (disk) {
    if (!ok) SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    SetEndOfFile(h);
  }
  if (!CloseHandle(h) && ok) {
    ok = false;
    error = GetLastError();
  }
  return ok || Fail(why, error);
}

// True when files can be added to folder: a probe file is made and removed at once, as the
// folder's access rules cannot be read more simply.
bool FolderWritable(const std::filesystem::path& folder, std::error_code* why) {
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FailLast(why);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return Fail(why, ERROR_DIRECTORY);
  const std::wstring probe =
      (folder / (L".deruruzud-probe-" + std::to_wstring(GetCurrentProcessId()))).native();
  const HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return FailLast(why);
  CloseHandle(h);
  return true;
}

// True when a file stands where path needs a folder: Windows calls that path not found,
// where it is a configuration to mend rather than a file not yet made.
bool FileOnTheWay(const std::filesystem::path& path) {
  for (std::filesystem::path p = path.parent_path(); p.has_relative_path(); p = p.parent_path()) {
    const DWORD attributes = GetFileAttributesW(p.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  }
  return false;
}

// The names that open a device wherever they stand (NUL, CON, also with an extension).
bool IsDeviceName(const std::filesystem::path& path) {
  if (path.native().rfind(L"\\\\.\\", 0) == 0) return true;
  std::wstring stem = path.stem().native();
  for (wchar_t& c : stem) c = static_cast<wchar_t>(std::towupper(c));
  return stem == L"NUL" || stem == L"CON";
}

}  // namespace

bool WriteFileAtomically(const std::filesystem::path& path, const void* data, std::size_t size,
                         std::error_code* why) {
  const std::wstring& target = path.native();
  if (!CreateFolders(path, why)) return false;
  const std::wstring tmp = WriteTemporary(target, data, size, why);
  return !tmp.empty() && MoveInPlace(tmp, target, MOVEFILE_REPLACE_EXISTING, why);
}

bool CreateFileAtomically(const std::filesystem::path& path, const void* data, std::size_t size,
                          std::error_code* why) {
  const std::wstring& target = path.native();
  if (!CreateFolders(path, why)) return false;
  const std::wstring tmp = WriteTemporary(target, data, size, why);
  // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
  return !tmp.empty() && MoveInPlace(tmp, target, 0, why);
}

bool AppendLine(const std::filesystem::path& path, const std::string& line, std::error_code* why) {
  const std::wstring& target = path.native();
  if (!CreateFolders(path, why)) return false;
  const HANDLE h = CreateFileW(target.c_str(), FILE_APPEND_DATA | GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return FailLast(why);
  // A line cut short by a crash gets its line end now, so that it spoils only itself.
  std::string out;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(h, &size) && size.QuadPart > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(size.QuadPart - 1);
    at.OffsetHigh = static_cast<DWORD>((size.QuadPart - 1) >> 32);
    char last = '\n';
    DWORD got = 0;
    if (::ReadFile(h, &last, 1, &got, &at) && got == 1 && last != '\n') out += '\n';
  }
  out += line;
  out += '\n';
  // One write to a handle opened for appending only: whole lines never interleave.
  bool ok = WriteAll(h, out.data(), out.size()) && FlushFileBuffers(h);
  DWORD error = GetLastError();
  if (!CloseHandle(h) && ok) {
    ok = false;
    error = GetLastError();
  }
  return ok || Fail(why, error);
}

ReadStatus ReadFile(const std::filesystem::path& path, std::string* out, std::error_code* why) {
  const HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    Fail(why, error);
    // A folder cannot be opened so either (access denied): only a missing name is missing.
    if (error == ERROR_PATH_NOT_FOUND && FileOnTheWay(path)) {
      Fail(why, ERROR_DIRECTORY);
      return ReadStatus::Failed;
    }
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ReadStatus::Missing
                                                                          : ReadStatus::Failed;
  }
  std::string text;
  char buf[65536];
  bool ok = true;
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(h, buf, sizeof buf, &got, nullptr)) {
      // A pipe whose writer closed ends so; that is the end of its data, not a failure.
      ok = GetLastError() == ERROR_BROKEN_PIPE || FailLast(why);
      break;
    }
    if (got == 0) break;
    text.append(buf, got);
  }
  CloseHandle(h);
  if (!ok) return ReadStatus::Failed;
  *out = std::move(text);
  return ReadStatus::Ok;
}

bool ReadWholeFile(const std::filesystem::path& path, std::string* out) {
  return ReadFile(path, out) == ReadStatus::Ok;
}

// Windows' own codes for the reasons ErrorText names: std::errc does not map them all.
const char* SystemErrorText(const std::error_code& why) {
  if (why.category() == std::system_category()) {
    switch (why.value()) {
      case ERROR_ACCESS_DENIED:
      case ERROR_SHARING_VIOLATION:
      case ERROR_LOCK_VIOLATION:
        return "permission denied";
      case ERROR_WRITE_PROTECT:
        return "read-only file system";
      case ERROR_DISK_FULL:
      case ERROR_HANDLE_DISK_FULL:
        return "no space left on device";
      case ERROR_DIRECTORY:
        return "not a directory";
      case ERROR_FILE_NOT_FOUND:
      case ERROR_PATH_NOT_FOUND:
        return "no such file or directory";
      case ERROR_FILE_EXISTS:
      case ERROR_ALREADY_EXISTS:
        return "file exists";
      default:
        break;
    }
  }
  return nullptr;
}

ReportTarget CheckReportTarget(const std::filesystem::path& path, std::error_code* why) {
  if (path.empty()) {
    Fail(why, ERROR_FILE_NOT_FOUND);
    return ReportTarget::Refused;
  }
  if (IsDeviceName(path)) return ReportTarget::Direct;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) {
      Fail(why, error);
      return ReportTarget::Refused;
    }
    return FolderWritable(FolderOf(path), why) ? ReportTarget::NewFile : ReportTarget::Refused;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    if (why) *why = std::make_error_code(std::errc::is_a_directory);
    return ReportTarget::Refused;
  }
  // A link is written through, into the file it points to.
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT) && FolderWritable(FolderOf(path), nullptr)) {
    return ReportTarget::RegularFile;
  }
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    Fail(why, ERROR_ACCESS_DENIED);
    return ReportTarget::Refused;
  }
  return ReportTarget::Direct;
}

bool WriteReport(const std::filesystem::path& path, const std::string& data, std::error_code* why) {
  const ReportTarget target = CheckReportTarget(path, why);
  if (target == ReportTarget::Refused) return false;
  if (target == ReportTarget::Direct) return WriteInPlace(path, data, why);
  const std::wstring tmp = WriteTemporary(path.native(), data.data(), data.size(), why);
  if (!tmp.empty() && MoveInPlace(tmp, path.native(), MOVEFILE_REPLACE_EXISTING, why)) {
    return true;
  }
  // This run's report did not reach path: the file still standing there is an older one.
  if (target == ReportTarget::RegularFile) DeleteFileW(path.c_str());
  return false;
}

}  // namespace platform
