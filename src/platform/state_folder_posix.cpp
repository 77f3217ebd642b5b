#include "platform/state_folder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace platform {

std::string StateFolder() {
  const char* xdg = std::getenv("XDG_STATE_HOME");
  if (xdg && *xdg == '/') return std::string(xdg) + "/DERURUZUD";
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.local/state/DERURUZUD";
  return {};
}

bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size) {
  std::error_code ec;
  const std::filesystem::path target(path);
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
  if (ec) return false;
  std::string tmp = path + ".tmp-XXXXXX";
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) return false;
  const auto* p = static_cast<const char*>(data);
  std::size_t left = size;
  bool ok = true;
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      ok = false;
      break;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && std::rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

}  // namespace platform
