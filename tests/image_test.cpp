// The data file and the word images: reading the file, the record rules, the stops, and the
// refusal of cut-short text. Cases start from one good file and change one thing.
#include <gtest/gtest.h>

#include <map>

#include "image/image_set.h"
#include "support/hex_files.h"
#include "support/recording_host.h"

namespace {

using testing_support::EndRecord;
using testing_support::HexRecord;
using testing_support::Notice;
using testing_support::RecordingHost;
using testing_support::TempDir;
using testing_support::Warning;

// A good file: a type-4 record, data at word 0 and at the version word, an end record.
std::string GoodFile() {
  return HexRecord(4, 0, {0x00, 0x00}) + HexRecord(0, 0x0010, {0x0A, 0x28, 0x01, 0x02}) +
         HexRecord(0, 0x0600, {0x2A, 0x00, 0x11, 0x22}) + EndRecord();
}

struct Parsed {
  bool ok = false;
  image::ImageBuffer image{};
};

Parsed Parse(const std::string& text) {
  Parsed p;
  image::FillErased(p.image);
  p.ok = image::ParseHexText(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(),
                             p.image);
  return p;
}

image::ImageBuffer Erased() {
  image::ImageBuffer b{};
  image::FillErased(b);
  return b;
}

// The image differs from the erased one exactly at these bytes.
void ExpectOnly(const image::ImageBuffer& got, const std::map<std::size_t, std::uint8_t>& bytes) {
  image::ImageBuffer want = Erased();
  for (auto [at, v] : bytes) want[at] = v;
  for (std::size_t i = 0; i < want.size(); ++i) {
    ASSERT_EQ(got[i], want[i]) << "byte 0x" << std::hex << i;
  }
}

TEST(DataFile, GoodFileLoadsIntoExactImages) {
  TempDir dir;
  RecordingHost host;
  image::ImageSet set;
  const std::string path = dir.Write("quivo.HEX", GoodFile());
  ASSERT_EQ(set.LoadDataFile(host, path), 1);
  EXPECT_EQ(set.DataFileText().size(), GoodFile().size());
  ASSERT_EQ(set.ParseDataFile(host), 1);
  EXPECT_TRUE(set.DataFileText().empty());
  EXPECT_TRUE(host.Notices().empty());

  // The type-4 record is placed as data: bytes 0 and 1 become 00 00.
  ExpectOnly(set.FirmwareImage(), {{0, 0x00}, {1, 0x00}, {0x10, 0x0A}, {0x11, 0x28},
                                   {0x12, 0x01}, {0x13, 0x02}, {0x600, 0x2A}, {0x601, 0x00},
                                   {0x602, 0x11}, {0x603, 0x22}});
  EXPECT_EQ(set.FirmwareWord(8), 0x280A);
  EXPECT_EQ(set.ImageVersion(), 42);
  EXPECT_EQ(set.ReadbackImage(), Erased());

  set.ReleaseImages();
  EXPECT_FALSE(set.HasImages());
}

TEST(DataFile, LoadKeepsEveryByteAndReportsFailures) {
  TempDir dir;
  {
    // Binary read: CR LF and trailing bytes are kept as they are.
    RecordingHost host;
    image::ImageSet set;
    const std::string text = ":00000001FF\r\n\x1a";
    ASSERT_EQ(set.LoadDataFile(host, dir.Write("crlf.HEX", text)), 1);
    EXPECT_EQ(std::string(set.DataFileText().begin(), set.DataFileText().end()), text);
  }
  {
    RecordingHost host;
    image::ImageSet set;
    EXPECT_EQ(set.LoadDataFile(host, dir.path() + "/missing.HEX"), 0);
    EXPECT_EQ(host.Notices(), std::vector<Notice>{Warning("Can't open data file.", "Error")});
    // A parse without a loaded text obtains nothing.
    EXPECT_EQ(set.ParseDataFile(host), 0);
    EXPECT_FALSE(set.HasImages());
  }
  {
    // A folder: Windows refuses to open it, POSIX opens it but its bytes cannot be
    // counted or read. Either way exactly one of the two notices, and nothing loaded.
    RecordingHost host;
    image::ImageSet set;
    EXPECT_EQ(set.LoadDataFile(host, dir.path()), 0);
    const std::vector<Notice> readError{Warning("Data file read error.", "Error")};
    const std::vector<Notice> openError{Warning("Can't open data file.", "Error")};
    EXPECT_TRUE(host.Notices() == readError || host.Notices() == openError)
        << testing::PrintToString(host.Notices());
    EXPECT_EQ(set.ParseDataFile(host), 0);
  }
  {
    // An empty file loads (0 of 0 bytes) but holds no stopping record.
    RecordingHost host;
    image::ImageSet set;
    ASSERT_EQ(set.LoadDataFile(host, dir.Write("empty.HEX", "")), 1);
    EXPECT_EQ(set.ParseDataFile(host), 0);
    EXPECT_FALSE(set.HasImages());
    EXPECT_TRUE(host.Notices().empty());
  }
}

TEST(RecordRules, FieldsAreReadDigitByDigit) {
  // Word 0 from the record :020000000A28CC.
  ExpectOnly(Parse(":020000000A28CC\n" + EndRecord()).image, {{0, 0x0A}, {1, 0x28}});
  // A wrong checksum is never read.
  ExpectOnly(Parse(":020000000A2800\n" + EndRecord()).image, {{0, 0x0A}, {1, 0x28}});
  // Lower-case digits read like upper-case ones.
  ExpectOnly(Parse(":02000a00ff3f00\n" + EndRecord()).image, {{0x0A, 0xFF}, {0x0B, 0x3F}});
  // A non-hex character counts as 0: ":1G" is a count of 0x10.
  {
    std::string rec = HexRecord(0, 0x20, std::vector<std::uint8_t>(16, 0x55));
    rec[2] = 'G';
    Parsed p = Parse(rec + EndRecord());
    ASSERT_TRUE(p.ok);
    std::map<std::size_t, std::uint8_t> want;
    for (std::size_t i = 0; i < 16; ++i) want[0x20 + i] = 0x55;
    ExpectOnly(p.image, want);
  }
  // Any type but 1 is data; later records overwrite earlier ones; count 0 places nothing.
  ExpectOnly(Parse(HexRecord(5, 4, {1, 2}) + HexRecord(0, 5, {9}) + HexRecord(0, 8, {}) +
                   EndRecord())
                 .image,
             {{4, 1}, {5, 9}});
  // Text between records, and without line ends, is skipped.
  ExpectOnly(Parse("junk" + HexRecord(0, 2, {7}) + "more junk" + HexRecord(0, 3, {8}) +
                   EndRecord())
                 .image,
             {{2, 7}, {3, 8}});
}

TEST(RecordRules, ShortRecordSwallowsTheNextOne) {
  // Count 3 with two data bytes: the third byte is read from the line end and the next
  // record's ':', so the search goes on behind that ':' and the next record is lost.
  const std::string text = ":0300000001F9\n" + HexRecord(0, 0x40, {0x77}) + EndRecord();
  Parsed p = Parse(text);
  ASSERT_TRUE(p.ok);
  ExpectOnly(p.image, {{0, 0x01}, {1, 0xF9}, {2, 0x00}});
}

TEST(RecordRules, StoppingRecordsEndTheParse) {
  const std::string behind = HexRecord(0, 0x100, {0x12});
  // Address 0x4000 stops whatever its type, a data record too.
  for (const std::string& stop : {HexRecord(0, 0x4000, {1, 2}), HexRecord(1, 0x4000, {}),
                                  std::string(":0240000") /* type never read */}) {
    Parsed p = Parse(HexRecord(0, 0, {0xAB}) + stop + "\n" + behind);
    EXPECT_TRUE(p.ok) << stop;
    ExpectOnly(p.image, {{0, 0xAB}});
  }
  // Type 1 stops whatever its address and count.
  for (const std::string& stop : {EndRecord(), HexRecord(1, 0x0123, {5, 6, 7})}) {
    Parsed p = Parse(HexRecord(0, 0, {0xAB}) + stop + behind);
    EXPECT_TRUE(p.ok) << stop;
    ExpectOnly(p.image, {{0, 0xAB}});
  }
}

TEST(RecordRules, BytesPastTheImageAreDropped) {
  // A record running past byte 16,385 keeps what fits; the configuration word at 0x400E
  // is dropped and the parse goes on to the records behind it.
  Parsed p = Parse(HexRecord(0, 0x3FFE, {1, 2, 3, 4, 5, 6}) + HexRecord(0, 0x400E, {0xFF, 0x3F}) +
                   HexRecord(0, 0x200, {0x42}) + EndRecord());
  ASSERT_TRUE(p.ok);
  ExpectOnly(p.image, {{0x3FFE, 1}, {0x3FFF, 2}, {0x4000, 3}, {0x4001, 4}, {0x200, 0x42}});
  // The highest address a record can name.
  p = Parse(HexRecord(0, 0xFFFF, {1, 2}) + EndRecord());
  EXPECT_TRUE(p.ok);
  ExpectOnly(p.image, {});
}

TEST(RecordRules, CutShortTextIsRefused) {
  const std::string good = HexRecord(0, 0, {1, 2, 3, 4});
  EXPECT_TRUE(Parse(good + EndRecord()).ok);
  // No stopping record at all.
  EXPECT_FALSE(Parse(good).ok);
  // The text ends inside the data of a record, inside its address, inside a stop's type.
  EXPECT_FALSE(Parse(good.substr(0, 12)).ok);
  EXPECT_FALSE(Parse(":0400").ok);
  EXPECT_FALSE(Parse(":0000000").ok);
  // A zero byte ends the search for the next record.
  EXPECT_FALSE(Parse(good + std::string(1, '\0') + EndRecord()).ok);
  // A stop record without its checksum is still a stop.
  EXPECT_TRUE(Parse(good + ":00000001").ok);
}

TEST(RecordRules, VersionComesFromWord0x300) {
  TempDir dir;
  RecordingHost host;
  image::ImageSet set;
  ASSERT_EQ(set.LoadDataFile(host, dir.Write("a.HEX", ":020600002A00CE\n" + EndRecord())), 1);
  ASSERT_EQ(set.ParseDataFile(host), 1);
  EXPECT_EQ(set.ImageVersion(), 42);
  // Uncovered, the version word reads as erased.
  ASSERT_EQ(set.LoadDataFile(host, dir.Write("b.HEX", HexRecord(0, 0, {1}) + EndRecord())), 1);
  ASSERT_EQ(set.ParseDataFile(host), 1);
  EXPECT_EQ(set.ImageVersion(), 0x3FFF);
  // A refused parse leaves no images behind.
  ASSERT_EQ(set.LoadDataFile(host, dir.Write("c.HEX", HexRecord(0, 0, {1}))), 1);
  EXPECT_EQ(set.ParseDataFile(host), 0);
  EXPECT_FALSE(set.HasImages());
}

}  // namespace
