// The data file and the word images: reading the file, and the record rules at their edges,
// each case a good file with one thing changed. (Any text at all is fuzz/fuzz_hex's.)
#include <gtest/gtest.h>

#include <map>

#include "image/image_set.h"
#include "support/hex_files.h"
#include "support/recording_host.h"

namespace {

using namespace testing_support;

TEST(DataFile, GoodFileLoadsIntoExactImages) {
  TempDir dir;
  RecordingHost host;
  image::ImageSet set;
  const std::string text = HexRecord(4, 0, {0x00, 0x00}) + HexRecord(0, 0x0010, {0x0A, 0x28}) +
                           HexRecord(0, 0x0600, {0x2A, 0x01, 0x11}) + ":00000001FF\r\n\x1a";
  ASSERT_EQ(set.LoadDataFile(host, dir.Write("quivo.HEX", text)), 1);
  // Read as binary: CR LF and the bytes after the end record are kept.
  EXPECT_EQ(std::string(set.DataFileText().begin(), set.DataFileText().end()), text);
  ASSERT_EQ(set.ParseDataFile(host), 1);
  EXPECT_TRUE(set.DataFileText().empty());
  EXPECT_TRUE(host.Notices().empty());
  image::ImageBuffer want;
  image::FillErased(want);
  for (auto [at, v] : std::map<int, int>{{0, 0}, {1, 0}, {0x10, 0x0A}, {0x11, 0x28}, {0x600, 0x2A},
                                         {0x601, 0x01}, {0x602, 0x11}}) {
    want[at] = static_cast<std::uint8_t>(v);
  }
  EXPECT_EQ(set.FirmwareImage(), want);
  EXPECT_EQ(set.FirmwareWord(0x301), 0x3F11);
  EXPECT_EQ(set.ImageVersion(), 0x012A);
  image::FillErased(want);
  EXPECT_EQ(set.ReadbackImage(), want);
  set.ReleaseImages();
  EXPECT_FALSE(set.HasImages());
}

TEST(DataFile, FilesThatCannotBeReadGiveTheirNoticeAndNoImages) {
  TempDir dir;
  const std::vector<Notice> cannotOpen{Warning("Can't open data file.", "Error")};
  const std::vector<Notice> readError{Warning("Data file read error.", "Error")};
  // A folder: Windows refuses to open it, POSIX cannot count its bytes.
  for (const std::string& path : {dir.path() + "/missing.HEX", dir.path()}) {
    RecordingHost host;
    image::ImageSet set;
    EXPECT_EQ(set.LoadDataFile(host, path), 0);
    EXPECT_TRUE(host.Notices() == cannotOpen || (path == dir.path() && host.Notices() == readError))
        << testing::PrintToString(host.Notices());
    EXPECT_EQ(set.ParseDataFile(host), 0);
    EXPECT_FALSE(set.HasImages());
  }
  RecordingHost host;  // an empty file loads but holds no stopping record
  image::ImageSet set;
  ASSERT_EQ(set.LoadDataFile(host, dir.Write("empty.HEX", "")), 1);
  EXPECT_EQ(set.ParseDataFile(host), 0);
  EXPECT_FALSE(set.HasImages());
  EXPECT_TRUE(host.Notices().empty());
}

TEST(RecordRules, EachRuleAtItsEdge) {
  const std::string end = ":00000001FF\n";
  const std::string data = HexRecord(0, 0x20, {0x55});
  std::string nonHex = HexRecord(0, 0x30, {0x55, 0x66});
  nonHex[9] = 'x';  // the first data byte reads "x5": 0x05
  const struct {
    const char* name;
    std::string text;
    bool ok;
    std::map<int, int> placed;
  } cases[] = {
      {"checksum never read", ":020000000A2800\n" + end, true, {{0, 0x0A}, {1, 0x28}}},
      {"lower-case digits", ":02000a00ff3f00\n" + end, true, {{0x0A, 0xFF}, {0x0B, 0x3F}}},
      {"a non-hex digit is 0", nonHex + end, true, {{0x30, 0x05}, {0x31, 0x66}}},
      {"any type but 1 is data, later wins",
       HexRecord(5, 4, {1, 2}) + HexRecord(0, 5, {9}) + HexRecord(0, 8, {}) + end, true,
       {{4, 1}, {5, 9}}},
      {"text between records", "junk" + data + "more" + HexRecord(0, 3, {8}) + end, true,
       {{0x20, 0x55}, {3, 8}}},
      {"a short record swallows the next", ":0300000001F9\n" + HexRecord(0, 0x40, {0x77}) + end, true,
       {{0, 0x01}, {1, 0xF9}, {2, 0x00}}},
      {"address 0x4000 stops, whatever its type", data + HexRecord(0, 0x4000, {1, 2}) + HexRecord(0, 1, {7}), true,
       {{0x20, 0x55}}},
      {"address 0x4000 stops before its type", data + ":0240000", true, {{0x20, 0x55}}},
      {"type 1 stops, whatever its count", data + HexRecord(1, 0x0123, {5, 6}) + HexRecord(0, 1, {7}), true,
       {{0x20, 0x55}}},
      {"past the image dropped, the parse goes on",
       HexRecord(0, 0x3FFF, {1, 2, 3, 4}) + HexRecord(0, 0xFFFF, {5}) + data + end, true,
       {{0x3FFF, 1}, {0x4000, 2}, {0x4001, 3}, {0x20, 0x55}}},
      {"no stopping record", data, false, {{0x20, 0x55}}},
      {"ends inside the data", data.substr(0, 10), false, {}},
      {"ends inside a stop's type", data + ":0000000", false, {{0x20, 0x55}}},
      {"a zero byte ends the text", data + std::string(1, '\0') + end, false, {{0x20, 0x55}}},
      {"a stop without its checksum", data + ":00000001", true, {{0x20, 0x55}}},
  };
  for (const auto& c : cases) {
    image::ImageBuffer got, want;
    image::FillErased(got);
    image::FillErased(want);
    for (auto [at, v] : c.placed) want[at] = static_cast<std::uint8_t>(v);
    EXPECT_EQ(image::ParseHexText(reinterpret_cast<const std::uint8_t*>(c.text.data()),
                                  c.text.size(), got),
              c.ok)
        << c.name;
    EXPECT_TRUE(got == want) << c.name;
  }
}

}  // namespace
