// Feeds arbitrary bytes to the data-file parser. The image must never be written outside
// its bounds, and a successful parse must leave every word a 16-bit value placed from text.
#include <cstddef>
#include <cstdint>

#include "image/image_set.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  image::ImageBuffer image;
  image::FillErased(image);
  image::ParseHexText(data, size, image);
  return 0;
}
