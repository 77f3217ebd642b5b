#include "platform/program_folder.h"

#include <unistd.h>

#include <vector>

namespace platform {

std::filesystem::path ProgramFolder() {
  std::vector<char> buf(4096);
  const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return {};
  const std::filesystem::path program(std::string(buf.data(), static_cast<std::size_t>(n)));
  return program.parent_path();
}

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

}  // namespace platform
