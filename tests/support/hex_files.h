// Building Intel HEX text and temporary files for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

// One record, ":" count address type data checksum, upper-case, with a correct checksum.
std::string HexRecord(int type, int address, const std::vector<std::uint8_t>& data);
inline std::string EndRecord() { return ":00000001FF\n"; }

// A folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // Writes bytes to a file in the folder; returns its full path.
  std::string Write(const std::string& name, const std::string& bytes) const;

 private:
  std::string path_;
};

}  // namespace testing_support
