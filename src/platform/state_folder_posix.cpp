#include "platform/state_folder.h"
#include "platform/system_error_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace platform {

std::filesystem::path StateFolder() {
  const char* xdg = std::getenv("XDG_STATE_HOME");
  if (xdg && *xdg == '/') return std::filesystem::path(xdg) / "DERURUZUD";
  const char* home = std::getenv("HOME");
  if (home && *home) return std::filesystem::path(home) / ".local/state/DERURUZUD";
  return {};
}

namespace {

// Records code as the reason (when asked for) and gives false, for `return Fail(...)`.
bool Fail(std::error_code* why, int code) {
  if (why) *why = std::error_code(code, std::system_category());
  return false;
}

std::filesystem::path FolderOf(const std::filesystem::path& path) {
  const std::filesystem::path folder = path.parent_path();
  return folder.empty() ? std::filesystem::path(".") : folder;
}

// Flushes a folder's entries (a new or renamed name in it) to the disk. A file system that
// cannot flush a folder says EINVAL; nothing more can be done there.
bool SyncFolder(const std::filesystem::path& folder, std::error_code* why) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Fail(why, errno);
  const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
  const int error = errno;
  ::close(fd);
  return ok || Fail(why, error);
}

// Creates the folders on the way to path. Each new folder's name is flushed in its parent,
// so that a record saved in a folder made by this run outlives a power loss too.
bool MakeFolders(const std::filesystem::path& path, std::error_code* why) {
  const std::filesystem::path folder = path.parent_path();
  std::vector<std::filesystem::path> made;
  std::error_code ec;
  for (std::filesystem::path p = folder; !p.empty() && !std::filesystem::exists(p, ec);
       p = p.parent_path()) {
    made.push_back(p);
    if (p == p.parent_path()) break;
  }
  if (made.empty()) return true;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    if (why) *why = ec;
    return false;
  }
  for (auto it = made.rbegin(); it != made.rend(); ++it) {
    if (!SyncFolder(FolderOf(*it), why)) return false;
  }
  return true;
}

// Writes all of data; false with errno set on failure. A file system that takes nothing
// more (a full disk) fails rather than looping.
bool WriteAll(int fd, const void* data, std::size_t size) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Writes bytes to a fresh temporary file beside target and flushes it to the disk. The file
// is created with createMode (the umask applies), or given exactly keepMode when that is
// not negative. Returns the temporary file's name, or empty (nothing left) on failure.
std::string WriteTemporary(const std::filesystem::path& target, const void* data, std::size_t size,
                           mode_t createMode, int keepMode, std::error_code* why) {
  static std::atomic<unsigned> counter{0};
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    tmp = target.native() + ".tmp-" + std::to_string(::getpid()) + "-" +
          std::to_string(counter.fetch_add(1));
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, createMode);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    Fail(why, errno);
    return {};
  }
  bool ok = keepMode < 0 || ::fchmod(fd, static_cast<mode_t>(keepMode)) == 0;
  ok = ok && WriteAll(fd, data, size) && ::fsync(fd) == 0;
  int error = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    ::unlink(tmp.c_str());
    Fail(why, error);
    return {};
  }
  return tmp;
}

// Opens what stands at path for writing without ever creating it, truncates a regular
// file, and writes all of data into it. A regular file that could not be written whole is
// emptied, so that no part of an older or of this report is taken for a whole one.
bool WriteInPlace(const std::filesystem::path& path, const std::string& data,
                  std::error_code* why) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return Fail(why, errno);
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  bool ok = WriteAll(fd, data.data(), data.size()) && (!regular || ::fsync(fd) == 0);
  int error = errno;
  if (!ok && regular) (void)::ftruncate(fd, 0);
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  return ok || Fail(why, error);
}

// 0 when files can be added to folder, else the reason.
int FolderWritable(const std::filesystem::path& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) return ENOTDIR;
  // As root this still fails on a read-only mount (EROFS).
  return ::access(folder.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}

}  // namespace

bool WriteFileAtomically(const std::filesystem::path& path, const void* data, std::size_t size,
                         std::error_code* why) {
  if (!MakeFolders(path, why)) return false;
  const std::string tmp = WriteTemporary(path, data, size, 0600, -1, why);
  if (tmp.empty()) return false;
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    Fail(why, errno);
    ::unlink(tmp.c_str());
    return false;
  }
  return SyncFolder(FolderOf(path), why);
}

bool CreateFileAtomically(const std::filesystem::path& path, const void* data, std::size_t size,
                          std::error_code* why) {
  if (!MakeFolders(path, why)) return false;
  const std::string tmp = WriteTemporary(path, data, size, 0600, -1, why);
  if (tmp.empty()) return false;
  // A hard link fails when the name is taken, where a rename would replace the file.
  const bool linked = ::link(tmp.c_str(), path.c_str()) == 0 || Fail(why, errno);
  ::unlink(tmp.c_str());
  if (linked && SyncFolder(FolderOf(path), why)) return true;
  // A name that may not outlive a power loss is no saved record: the caller must not act as
  // if it were.
  if (linked) ::unlink(path.c_str());
  return false;
}

bool AppendLine(const std::filesystem::path& path, const std::string& line, std::error_code* why) {
  if (!MakeFolders(path, why)) return false;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return Fail(why, errno);
  // A line cut short by a crash gets its line end now, so that it spoils only itself.
  std::string out;
  const off_t end = ::lseek(fd, 0, SEEK_END);
  char last = '\n';
  if (end > 0 && ::pread(fd, &last, 1, end - 1) != 1) last = '\n';
  if (last != '\n') out += '\n';
  out += line;
  out += '\n';
  // One write with O_APPEND: whole lines from several programs never interleave.
  ssize_t n;
  do {
    n = ::write(fd, out.data(), out.size());
  } while (n < 0 && errno == EINTR);
  int error = n < 0 ? errno : ENOSPC;
  bool ok = n == static_cast<ssize_t>(out.size());
  if (ok && ::fsync(fd) != 0) {
    ok = false;
    error = errno;
  }
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  return ok || Fail(why, error);
}

ReadStatus ReadFile(const std::filesystem::path& path, std::string* out, std::error_code* why) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    Fail(why, error);
    return error == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
  }
  std::string text;
  char buf[65536];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = Fail(why, errno);  // a folder says EISDIR here
      break;
    }
    text.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  if (!ok) return ReadStatus::Failed;
  *out = std::move(text);
  return ReadStatus::Ok;
}

bool ReadWholeFile(const std::filesystem::path& path, std::string* out) {
  return ReadFile(path, out) == ReadStatus::Ok;
}

// POSIX codes are std::errc's own: ErrorText's table reads them.
const char* SystemErrorText(const std::error_code&) { return nullptr; }

ReportTarget CheckReportTarget(const std::filesystem::path& path, std::error_code* why) {
  const auto refuse = [why](int code) {
    Fail(why, code);
    return ReportTarget::Refused;
  };
  if (path.empty()) return refuse(ENOENT);
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) return refuse(errno);
    const int folder = FolderWritable(FolderOf(path));
    return folder == 0 ? ReportTarget::NewFile : refuse(folder);
  }
  if (S_ISDIR(st.st_mode)) return refuse(EISDIR);
  if (S_ISREG(st.st_mode) && FolderWritable(FolderOf(path)) == 0) return ReportTarget::RegularFile;
  // Anything else is written into where it stands; a link by what it points to.
  if (::stat(path.c_str(), &st) != 0) return refuse(errno);
  if (S_ISDIR(st.st_mode)) return refuse(EISDIR);
  if (S_ISSOCK(st.st_mode)) return refuse(ENXIO);  // a socket cannot be opened as a file
  return ::access(path.c_str(), W_OK) == 0 ? ReportTarget::Direct : refuse(errno);
}

bool WriteReport(const std::filesystem::path& path, const std::string& data, std::error_code* why) {
  const ReportTarget target = CheckReportTarget(path, why);
  if (target == ReportTarget::Refused) return false;
  if (target == ReportTarget::Direct) return WriteInPlace(path, data, why);
  struct stat before {};
  const bool replacing = target == ReportTarget::RegularFile && ::lstat(path.c_str(), &before) == 0;
  const int keepMode = replacing ? static_cast<int>(before.st_mode & 07777) : -1;
  const std::string tmp = WriteTemporary(path, data.data(), data.size(), 0666, keepMode, why);
  if (!tmp.empty()) {
    if (std::rename(tmp.c_str(), path.c_str()) == 0) return SyncFolder(FolderOf(path), why);
    Fail(why, errno);
    ::unlink(tmp.c_str());
  }
  // This run's report did not reach path: the file still standing there is an older one.
  struct stat now {};
  if (replacing && ::lstat(path.c_str(), &now) == 0 && now.st_dev == before.st_dev &&
      now.st_ino == before.st_ino && ::unlink(path.c_str()) == 0) {
    SyncFolder(FolderOf(path), nullptr);
  }
  return false;
}

}  // namespace platform
