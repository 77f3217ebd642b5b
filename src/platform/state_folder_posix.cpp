#include "platform/state_folder.h"

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace platform {

std::filesystem::path StateFolder() {
  const char* xdg = std::getenv("XDG_STATE_HOME");
  if (xdg && *xdg == '/') return std::filesystem::path(xdg) / "DERURUZUD";
  const char* home = std::getenv("HOME");
  if (home && *home) return std::filesystem::path(home) / ".local/state/DERURUZUD";
  return {};
}

namespace {

// Writes bytes to a fresh temporary file beside path and flushes it to the disk. Returns
// the temporary file's name, or empty (nothing left) on failure.
std::string WriteTemporary(const std::filesystem::path& target, const void* data,
                           std::size_t size) {
  std::error_code ec;
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
  if (ec) return {};
  std::string tmp = target.native() + ".tmp-XXXXXX";
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) return {};
  const auto* p = static_cast<const char*>(data);
  std::size_t left = size;
  bool ok = true;
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (!ok) {
    ::unlink(tmp.c_str());
    return {};
  }
  return tmp;
}

}  // namespace

bool WriteFileAtomically(const std::filesystem::path& path, const void* data, std::size_t size) {
  const std::string tmp = WriteTemporary(path, data, size);
  if (tmp.empty()) return false;
  const bool ok = std::rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

bool CreateFileAtomically(const std::filesystem::path& path, const void* data, std::size_t size) {
  const std::string tmp = WriteTemporary(path, data, size);
  if (tmp.empty()) return false;
  // A hard link fails when the name is taken, where a rename would replace the file.
  const bool ok = ::link(tmp.c_str(), path.c_str()) == 0;
  ::unlink(tmp.c_str());
  return ok;
}

bool AppendLine(const std::filesystem::path& path, const std::string& line) {
  std::error_code ec;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
  if (ec) return false;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return false;
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
  bool ok = n == static_cast<ssize_t>(out.size());
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  return ok;
}

bool ReadWholeFile(const std::filesystem::path& path, std::string* out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string text;
  char buf[65536];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    text.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  if (ok) *out = std::move(text);
  return ok;
}

}  // namespace platform
