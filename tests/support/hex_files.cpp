#include "support/hex_files.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

namespace testing_support {

std::string HexRecord(int type, int address, const std::vector<std::uint8_t>& data) {
  char buf[32];
  std::string out = ":";
  unsigned sum = static_cast<unsigned>(data.size()) + ((address >> 8) & 0xFF) + (address & 0xFF) +
                 static_cast<unsigned>(type);
  std::snprintf(buf, sizeof buf, "%02X%04X%02X", static_cast<unsigned>(data.size()),
                static_cast<unsigned>(address & 0xFFFF), static_cast<unsigned>(type));
  out += buf;
  for (std::uint8_t b : data) {
    std::snprintf(buf, sizeof buf, "%02X", b);
    out += buf;
    sum += b;
  }
  std::snprintf(buf, sizeof buf, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
  out += buf;
  out += "\n";
  return out;
}

TempDir::TempDir() {
  // create_directory is false for a name that exists already, so a fresh random name is
  // tried until one is ours (mkdtemp's rule, without needing POSIX).
  std::random_device seed;
  std::mt19937_64 random(seed());
  const auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[40];
    std::snprintf(name, sizeof name, "deruruzud-test-%016llx",
                  static_cast<unsigned long long>(random()));
    std::error_code ec;
    if (std::filesystem::create_directory(base / name, ec)) {
      path_ = (base / name).string();
      return;
    }
  }
  throw std::runtime_error("no temporary folder could be made");
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::Write(const std::string& name, const std::string& bytes) const {
  const std::string full = path_ + "/" + name;
  std::ofstream f(full, std::ios::binary);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return full;
}

}  // namespace testing_support
