// The data file and the word images: reading the file and the images it gives. The record
// rules are fuzz/fuzz_hex's, whose oracle the suite runs over fuzz/corpus/fuzz_hex (the
// rule-* files hold each rule at its edge).
#include <gtest/gtest.h>

#include <map>

#include "image/image_set.h"
#include "support/temp_dir.h"
#include "support/recording_host.h"

namespace {

using namespace testing_support;

TEST(DataFile, GoodFileLoadsIntoExactImages) {
  TempDir dir;
  RecordingHost host;
  image::ImageSet set;
  // A type-4 record (placed as data), data at byte 0x10 and at the version word.
  const std::string text = ":020000040000FA\n:020010000A28BC\n:030600002A0111BB\n:00000001FF\r\n\x1a";
  ASSERT_EQ(set.LoadDataFile(host.Panel(), dir.Write("quivo.HEX", text)), 1);
  // Read as binary: CR LF and the bytes after the end record are kept.
  EXPECT_EQ(std::string(set.DataFileText().begin(), set.DataFileText().end()), text);
  ASSERT_EQ(set.ParseDataFile(host.Panel()), 1);
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
    EXPECT_EQ(set.LoadDataFile(host.Panel(), path), 0);
    EXPECT_TRUE(host.Notices() == cannotOpen || (path == dir.path() && host.Notices() == readError))
        << testing::PrintToString(host.Notices());
    EXPECT_EQ(set.ParseDataFile(host.Panel()), 0);
    EXPECT_FALSE(set.HasImages());
  }
  RecordingHost host;  // an empty file loads but holds no stopping record
  image::ImageSet set;
  ASSERT_EQ(set.LoadDataFile(host.Panel(), dir.Write("empty.HEX", "")), 1);
  EXPECT_EQ(set.ParseDataFile(host.Panel()), 0);
  EXPECT_FALSE(set.HasImages());
  EXPECT_TRUE(host.Notices().empty());
}

}  // namespace
