#include "image/image_set.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <new>

#include "platform/program_folder.h"
#include "platform/user_environment.h"

namespace image {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

using panel::TextId;

void Warn(panel::RunObserver& events, TextId text) {
  events.OnEvent(panel::NoticeRaised{{text}, panel::Caption::Error, panel::NoticeStyle::Warning});
}

bool IsHex(std::uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

int HexDigit(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;  // any other character counts as the digit 0
}

// A reading cursor over the text that never takes a character past its end.
class Cursor {
 public:
  Cursor(const std::uint8_t* text, std::size_t size) : text_(text), size_(size) {}

  // Moves just behind the next ':'. False when the text ends, or a zero byte comes, first.
  bool SkipToRecord() {
    while (pos_ < size_ && text_[pos_] != 0 && text_[pos_] != ':') ++pos_;
    if (pos_ >= size_ || text_[pos_] == 0) return false;
    ++pos_;
    return true;
  }
  // Reads n digits, most significant first. False when fewer than n characters are left.
  bool Field(int n, unsigned* value) {
    if (size_ - pos_ < static_cast<std::size_t>(n)) return false;
    unsigned v = 0;
    for (int i = 0; i < n; ++i) v = v * 16 + static_cast<unsigned>(HexDigit(text_[pos_++]));
    *value = v;
    return true;
  }
  // The two digits at the cursor as a byte, without moving it: the parse itself never reads
  // a checksum. False when they are not both hex digits.
  bool PeekByte(unsigned* value) const {
    if (size_ - pos_ < 2 || !IsHex(text_[pos_]) || !IsHex(text_[pos_ + 1])) return false;
    *value = static_cast<unsigned>(HexDigit(text_[pos_]) * 16 + HexDigit(text_[pos_ + 1]));
    return true;
  }
  // The 1-based line of the character at the cursor.
  int Line(std::size_t at) const {
    return 1 + static_cast<int>(std::count(text_, text_ + std::min(at, size_), '\n'));
  }
  std::size_t Pos() const { return pos_; }

 private:
  const std::uint8_t* text_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace

void FillErased(ImageBuffer& image) {
  for (std::size_t i = 0; i < image.size(); i += 2) {
    image[i] = 0xFF;
    image[i + 1] = 0x3F;
  }
}

bool ParseHexText(const std::uint8_t* text, std::size_t size, ImageBuffer& image,
                  ParseStats* stats) {
  Cursor cur(text, size);
  ParseStats ignored;
  ParseStats& s = stats ? *stats : ignored;
  s = ParseStats{};
  for (;;) {
    if (!cur.SkipToRecord()) return false;
    const std::size_t start = cur.Pos();
    unsigned count = 0, address = 0, type = 0;
    if (!cur.Field(2, &count) || !cur.Field(4, &address)) return false;
    if (address == 0x4000) return true;
    if (!cur.Field(2, &type)) return false;
    unsigned sum = count + (address >> 8) + (address & 0xFF) + type;
    for (unsigned k = 0; type != 1 && k < count; ++k) {
      unsigned byte = 0;
      if (!cur.Field(2, &byte)) return false;
      sum += byte;
      const std::size_t at = static_cast<std::size_t>(address) + k;
      // Real files carry a configuration word at byte 0x400E; bytes past the image are
      // dropped rather than refusing the file.
      if (at < image.size()) image[at] = static_cast<std::uint8_t>(byte);
    }
    // A stopping record's data are never read, so neither is its checksum judged.
    unsigned checksum = 0;
    if (type != 1 && (!cur.PeekByte(&checksum) || ((sum + checksum) & 0xFF) != 0)) {
      if (s.checksumErrors++ == 0) s.firstBadLine = cur.Line(start);
    }
    if (type == 1) return true;
  }
}

DataFileSearch FindDataFile(const std::filesystem::path& namedFile) {
  DataFileSearch search;
  if (!namedFile.empty()) {
    // A file the operator named is the only candidate: reading another one in its place
    // could put the wrong firmware on a device.
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(namedFile, ec);
    search.looked.push_back(ec ? namedFile : absolute);
  } else {
    for (const std::filesystem::path& folder :
         {platform::ProgramFolder(), platform::UserDataFolder()}) {
      if (!folder.empty()) search.looked.push_back(folder / kDataFileName);
    }
  }
  for (const std::filesystem::path& place : search.looked) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(place, ec)) {
      search.path = place;
      search.found = true;
      return search;
    }
  }
  if (!search.looked.empty()) search.path = search.looked.front();
  return search;
}

int ImageSet::LoadDataFile(panel::RunObserver& events, const std::filesystem::path& fileName) {
  dataFileText_.clear();
  textLoaded_ = false;
  const std::filesystem::path path = platform::ProgramFolder() / fileName;

  File file(platform::OpenFile(path, "rb"));
  std::error_code ec;
  if (!file) {
    Warn(events, TextId::CantOpenDataFile);
    return 0;
  }
  long size = -1;
  if (std::fseek(file.get(), 0, SEEK_END) == 0) size = std::ftell(file.get());
  if (size < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0 ||
      std::filesystem::is_directory(path, ec)) {
    // Not a seekable file (a folder, a pipe): its bytes cannot be counted.
    Warn(events, TextId::DataFileReadError);
    return 0;
  }
  try {
    dataFileText_.resize(static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    dataFileText_ = {};
    Warn(events, TextId::NotEnoughMemory);
    return 0;
  } catch (const std::length_error&) {
    dataFileText_ = {};
    Warn(events, TextId::NotEnoughMemory);
    return 0;
  }
  const std::size_t got = std::fread(dataFileText_.data(), 1, dataFileText_.size(), file.get());
  if (got < dataFileText_.size()) {
    dataFileText_ = {};
    Warn(events, TextId::DataFileReadError);
    return 0;
  }
  textLoaded_ = true;
  return 1;
}

int ImageSet::ParseDataFile(panel::RunObserver& events) {
  ReleaseImages();
  // DataFileText is released on every path out of here.
  std::vector<std::uint8_t> text = std::move(dataFileText_);
  dataFileText_ = {};
  if (!textLoaded_) return 0;
  textLoaded_ = false;

  std::unique_ptr<ImageBuffer> firmware(new (std::nothrow) ImageBuffer);
  std::unique_ptr<ImageBuffer> readback;
  if (firmware) readback.reset(new (std::nothrow) ImageBuffer);
  if (!firmware || !readback) {
    Warn(events, TextId::NotEnoughMemoryForImages);
    return 0;
  }
  FillErased(*firmware);
  FillErased(*readback);
  if (!ParseHexText(text.data(), text.size(), *firmware, &stats_)) return 0;

  imageVersion_ =
      static_cast<std::uint16_t>((*firmware)[kVersionByte] | ((*firmware)[kVersionByte + 1] << 8));
  firmware_ = std::move(firmware);
  readback_ = std::move(readback);
  return 1;
}

bool ImageSet::UseFirmware(std::shared_ptr<const ImageBuffer> firmware, std::uint16_t version) {
  ReleaseImages();
  std::unique_ptr<ImageBuffer> readback(new (std::nothrow) ImageBuffer);
  if (!firmware || !readback) return false;
  FillErased(*readback);
  firmware_ = std::move(firmware);
  readback_ = std::move(readback);
  imageVersion_ = version;
  return true;
}

void ImageSet::ReleaseImages() {
  firmware_.reset();
  readback_.reset();
}

}  // namespace image
