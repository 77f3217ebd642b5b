// Keeps the XPort's original setup record safe while a run has it overridden: saved to a
// file before the override is sent, removed once the restore is accepted. A run that ends
// without a restore (the process killed, the restore refused, the PC off) leaves the file,
// from which DERURUZUD-cli --restore-xport puts the record back.
//
// A file is one text line naming the XPort it was saved from and the SHA-256 of the record,
// then the record's 124 bytes as received:
//   DERURUZUD-XPORT-RECORD MAC=00-20-4A-0B-4C-0E SHA256=<64 hex digits>\n<124 bytes>
// so that a record is only ever sent back to the XPort it came from, and a damaged one
// never. Files of earlier versions have the line without the SHA-256, or hold the 124
// bytes alone, their MAC then known only from their name; they are still read.
#pragma once

#include <filesystem>
#include <system_error>
#include <string>
#include <vector>

#include "xport/wire.h"

namespace xport {

class SavedRecords {
 public:
  // folder: where the files live; empty means platform::StateFolder().
  explicit SavedRecords(std::filesystem::path folder = {});

  // Saves the record exactly as received, named by MAC address and time, with the MAC
  // line in front, durably (the file and its folder synced) before it returns. Never
  // replaces a file. Returns the file's path, or empty when it could not be saved, *why
  // then saying why.
  std::filesystem::path Save(const XPortInfoBytes& info, const SetupRecordBytes& record,
                             std::error_code* why = nullptr);
  // Removes a saved file; false when it could not be removed.
  bool Remove(const std::filesystem::path& file);
  // Files saved for the XPort with this MAC address, oldest first. Other files in the
  // folder, whatever their names, are passed over.
  std::vector<std::filesystem::path> FindFor(const XPortInfoBytes& info) const;
  // Reads a saved file; false unless it holds exactly one record (after the MAC line, in
  // the current form) whose SHA-256, when the line has one, is right. *mac gets the MAC
  // the record was saved from, "00-20-4A-0B-4C-0E", or the empty text for a file of the
  // earliest form, which does not say.
  static bool Load(const std::filesystem::path& file, SetupRecordBytes* record,
                   std::string* mac = nullptr);

  const std::filesystem::path& folder() const { return folder_; }

 private:
  std::filesystem::path folder_;
};

// "00-20-4A-0B-4C-0E": the MAC address of an info reply as it stands in file names.
std::string MacKey(const XPortInfoBytes& info);

// The MAC key at the start of a saved file's name ("00-20-4A-0B-4C-0E-20261206-221500.setup"),
// as Save names files; empty when the name does not begin with one.
std::string MacKeyOfFileName(const std::filesystem::path& file);

}  // namespace xport
