// Keeps the XPort's original setup record safe while a run has it overridden: saved to a
// file before the override is sent, removed once the restore is accepted. A run that ends
// without a restore (the process killed, the restore refused, the PC off) leaves the file,
// from which DERURUZUD-cli --restore-xport puts the record back.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "xport/query_client.h"

namespace xport {

class SavedRecords {
 public:
  // folder: where the files live; empty means platform::StateFolder().
  explicit SavedRecords(std::filesystem::path folder = {});

  // Saves the record exactly as received, named by MAC address and time. Returns the
  // file's path, or empty when it could not be saved.
  std::filesystem::path Save(const XPortInfoBytes& info, const SetupRecordBytes& record);
  // Removes a saved file; false when it could not be removed.
  bool Remove(const std::filesystem::path& file);
  // Files saved for the XPort with this MAC address, oldest first. Other files in the
  // folder, whatever their names, are passed over.
  std::vector<std::filesystem::path> FindFor(const XPortInfoBytes& info) const;
  // Reads a saved file; false unless it holds exactly one record.
  static bool Load(const std::filesystem::path& file, SetupRecordBytes* record);

  const std::filesystem::path& folder() const { return folder_; }

 private:
  std::filesystem::path folder_;
};

// "00-20-4A-0B-4C-0E": the MAC address of an info reply as it stands in file names.
std::string MacKey(const XPortInfoBytes& info);

}  // namespace xport
