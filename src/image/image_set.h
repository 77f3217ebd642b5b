// The firmware data file and the two word images built from it.
//
// An ImageSet holds, for one update run, the data file's text and the images that
// ParseDataFile builds from it. Only the update's worker thread uses it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "panel/events.h"

namespace image {

// 8,193 little-endian words: word w at bytes 2w (low) and 2w+1 (high), word 0x2000 included.
inline constexpr std::size_t kImageBytes = 16386;
using ImageBuffer = std::array<std::uint8_t, kImageBytes>;

// The data file's name when the operator names none.
inline constexpr const char* kDataFileName = "quivo.HEX";

struct DataFileSearch {
  std::filesystem::path path;  // the first place that holds a file, else the first tried
  bool found = false;          // path holds a file
  std::vector<std::filesystem::path> looked;  // every place tried, in order
};

// Where the data file is read from. A named file (relative to the current folder) is the
// only place tried. Without one: kDataFileName beside the program, then in the user's
// data folder (platform::UserDataFolder).
DataFileSearch FindDataFile(const std::filesystem::path& namedFile);

// Byte offsets of the regions the update uses.
inline constexpr std::size_t kVersionByte = 0x600;   // word 0x300
inline constexpr std::size_t kBulkFirstByte = 1544;  // word 0x304
inline constexpr std::size_t kBulkEndByte = 16384;   // word 0x2000, exclusive

// What a parse noticed without letting it change the image: the records whose checksum
// does not add up (counted, never refused: a record is placed where it says whatever its
// checksum), and the line of the first of them.
struct ParseStats {
  int checksumErrors = 0;
  int firstBadLine = 0;  // 1-based; 0 when every checksum adds up
};

class ImageSet {
 public:
  // Reads the whole data file into DataFileText. A relative fileName is looked for in the
  // program's own folder; an absolute one is used as it is. Returns 1 on success; on 0 a
  // notice has been raised and nothing is held.
  int LoadDataFile(panel::RunObserver& events, const std::filesystem::path& fileName);

  // Builds FirmwareImage and ReadbackImage from DataFileText and takes ImageVersion from
  // word 0x300. REQUIRES: a successful LoadDataFile. Returns 1 on success. Returns 0 when
  // the images cannot be obtained (notice shown) and, without a notice of its own, when
  // the text ends before a stopping record (address 0x4000 or type 1) or inside a
  // record: a cut-short file must never reach a device as if it were whole.
  // DataFileText is released on every path.
  int ParseDataFile(panel::RunObserver& events);

  // Takes an image parsed elsewhere (a batch reads its data file once for every device)
  // and a fresh read-back image. False when the read-back image cannot be obtained.
  bool UseFirmware(std::shared_ptr<const ImageBuffer> firmware, std::uint16_t version);
  // The firmware image, to be shared with other sessions; null when none is held.
  std::shared_ptr<const ImageBuffer> SharedFirmware() const { return firmware_; }

  // Drops both images (the end of an update run).
  void ReleaseImages();

  bool HasImages() const { return firmware_ != nullptr; }
  // REQUIRES: HasImages().
  const ImageBuffer& FirmwareImage() const { return *firmware_; }
  ImageBuffer& ReadbackImage() { return *readback_; }
  const ImageBuffer& ReadbackImage() const { return *readback_; }
  std::uint16_t ImageVersion() const { return imageVersion_; }
  // What the last ParseDataFile noticed.
  const ParseStats& Stats() const { return stats_; }
  const std::vector<std::uint8_t>& DataFileText() const { return dataFileText_; }

  // Word w of the firmware image. REQUIRES: HasImages(), w <= 0x2000.
  std::uint16_t FirmwareWord(std::size_t w) const {
    return static_cast<std::uint16_t>((*firmware_)[2 * w] | ((*firmware_)[2 * w + 1] << 8));
  }

 private:
  std::vector<std::uint8_t> dataFileText_;
  bool textLoaded_ = false;
  std::shared_ptr<const ImageBuffer> firmware_;
  std::unique_ptr<ImageBuffer> readback_;
  std::uint16_t imageVersion_ = 0;
  ParseStats stats_;
};

// Builds the image from Intel HEX text by the record rules: ':' starts a record, each
// character is one hex digit (anything else counts 0), the checksum decides nothing, a
// record at address 0x4000 or of type 1 stops the parse, every other type is data, and
// bytes past the end of the image are dropped. Returns false when no stopping record was
// met or the text ended inside a record; image holds what was placed so far. stats, when
// given, counts the records whose checksum is wrong or missing.
bool ParseHexText(const std::uint8_t* text, std::size_t size, ImageBuffer& image,
                  ParseStats* stats = nullptr);

// Fills an image with the erased pattern: every word 0x3FFF.
void FillErased(ImageBuffer& image);

}  // namespace image
