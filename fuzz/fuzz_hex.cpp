// Feeds arbitrary bytes to the data-file parser, as text and as a data file. The oracle
// reads the same text by the record rules on its own and holds the parser to it: every
// byte placed from the text, nothing else changed from the erased image (also when the
// text is refused: what was placed so far), the verdict, the read-back image left erased
// and the version taken from bytes 0x600/0x601. ASan and UBSan see that nothing is
// written outside the image.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "fuzz_support.h"
#include "image/image_set.h"

namespace {

using fuzzing::Check;

// The record rules: ':' starts a record; two digits count, four address, (a stop at
// address 0x4000 before the type is read) two type, type 1 stops, any other type places
// count bytes from address on, past the image dropped. A digit that is not hex is 0. The
// text ending inside a record, or before a stop (a zero byte ends it too), is refused.
bool Expected(const std::uint8_t* text, std::size_t size, std::vector<int>& placed) {
  std::size_t i = 0;
  const auto read = [&](int digits, unsigned& value) {
    if (size - i < static_cast<std::size_t>(digits)) return false;
    value = 0;
    for (int d = 0; d < digits; ++d) {
      const std::uint8_t c = text[i++];
      const int v = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10 : 0;
      value = value * 16 + static_cast<unsigned>(v);
    }
    return true;
  };
  for (;;) {
    while (i < size && text[i] != ':') {
      if (text[i] == 0) return false;
      ++i;
    }
    if (i++ >= size) return false;
    unsigned count, address, type;
    if (!read(2, count) || !read(4, address)) return false;
    if (address == 0x4000) return true;
    if (!read(2, type)) return false;
    if (type == 1) return true;
    for (unsigned k = 0; k < count; ++k) {
      unsigned byte;
      if (!read(2, byte)) return false;
      if (address + k < placed.size()) placed[address + k] = static_cast<int>(byte);
    }
  }
}

std::uint8_t Erased(std::size_t at) { return at % 2 ? 0x3F : 0xFF; }

void CheckImage(const image::ImageBuffer& got, const std::vector<int>& placed, const char* what) {
  for (std::size_t at = 0; at < got.size(); ++at) {
    const int want = placed[at] >= 0 ? placed[at] : Erased(at);
    if (got[at] != want) fuzzing::Fail(std::string(what) + " byte " + std::to_string(at));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/tmp/fuzz_hex_" + std::to_string(::getpid()) + ".HEX";
  std::vector<int> placed(image::kImageBytes, -1);
  const bool ok = Expected(data, size, placed);

  image::ImageBuffer direct;
  image::FillErased(direct);
  Check(image::ParseHexText(data, size, direct) == ok, "verdict of the text");
  CheckImage(direct, placed, "text");

  if (!ok) return 0;  // the data file's verdict is the text's: only an accepted one is read again
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  fuzzing::LeanObserver host;
  image::ImageSet set;
  Check(set.LoadDataFile(host, path) == 1, "the data file was not read");
  Check(set.ParseDataFile(host) == 1, "verdict of the data file");
  Check(set.DataFileText().empty(), "the data file's text kept");
  CheckImage(set.FirmwareImage(), placed, "image");
  std::vector<int> none(image::kImageBytes, -1);
  CheckImage(set.ReadbackImage(), none, "read-back image");
  const auto byte = [&](std::size_t at) { return placed[at] >= 0 ? placed[at] : Erased(at); };
  Check(set.ImageVersion() == (byte(0x600) | byte(0x601) << 8), "version");
  Check(host.notices.empty(), "a notice for a readable file");
  return 0;
}
