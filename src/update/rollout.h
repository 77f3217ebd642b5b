// The rules a rollout is held to before a device is written: the data file read once and
// judged (its SHA-256, its signature, its records' checksums), and each identified device
// sorted by its version against the data file's. DERURUZUD-cli (one device or many) and the
// batch window follow them; the single-device dialog shows both versions and lets its
// operator decide, as it always has.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "image/data_file_check.h"
#include "image/image_set.h"
#include "panel/events.h"
#include "update/outcome.h"

namespace update {

enum class Verdict {
  Write,   // older, or 0 (an update stopped midway), or 0x3FFF (erased)
  Skip,    // already at the data file's version
  Refuse,  // newer than the data file: a downgrade
};
struct VersionPolicy {
  bool reinstall = false;   // write a device already at the data file's version
  bool allowOlder = false;  // write a device newer than the data file
};
Verdict Judge(std::uint16_t deviceVersion, std::uint16_t imageVersion, const VersionPolicy& policy);

struct IntegrityPolicy {
  bool check = false;  // false: the dialog's way, nothing is judged
  std::vector<image::PublicKey> trusted;
  std::filesystem::path signatureFile;  // empty: the data file's path and ".minisig"
  bool requireSignature = false;
  // Records with wrong checksums: written as placed when ignoreChecksums; a failure of the
  // whole run when unattended (--yes); otherwise the operator is told and decides at the
  // question.
  bool ignoreChecksums = false;
  bool unattended = false;
};

// Finds, loads and parses the data file into images (notices through events, as a run
// raises them), learning its facts on the way: the SHA-256 and the signature of the very
// bytes that are parsed. False when it cannot be read; *lookedIn then lists the places
// tried when none held it.
bool ReadDataFile(image::ImageSet& images, panel::RunObserver& events,
                  const std::filesystem::path& namedDataFile, const IntegrityPolicy& policy,
                  image::DataFileFacts* facts, std::vector<std::filesystem::path>* lookedIn);

// What the questions show of a data file, one line each: its version and SHA-256, who
// signed it (or that nobody did), and its records with wrong checksums when there are any.
std::vector<std::string> DataFileLines(const image::DataFileFacts& facts);

// Whether a data file read may be written at all: the first rule it breaks, or none. A
// signature file that is no signature is Malformed in the facts and refused here too.
Failure JudgeDataFile(const image::DataFileFacts& facts, const IntegrityPolicy& policy);

}  // namespace update
