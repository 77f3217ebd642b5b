#include "panel/panel_texts.h"

#include <gtest/gtest.h>

namespace {

TEST(PanelTexts, TitleAddsTheRevisionOnlyWhenItIsNotZero) {
  EXPECT_EQ(panel::FormatTitle(1, 0, 2, 0), "DERURUZUD Ver1.02");
  EXPECT_EQ(panel::FormatTitle(1, 0, 2, 3), "DERURUZUD Ver1.02.3");
  // Minor and build stand side by side, with no padding either way.
  EXPECT_EQ(panel::FormatTitle(2, 1, 10, 0), "DERURUZUD Ver2.110");
  EXPECT_EQ(panel::FormatTitle(0, 0, 0, 0), "DERURUZUD Ver0.00");
  EXPECT_EQ(panel::FormatTitle(65535, 65535, 65535, 65535),
            "DERURUZUD Ver65535.6553565535.65535");
}

TEST(PanelTexts, OwnVersionIsTheBuildsVersion) {
  panel::FileVersion v{9, 9, 9, 9};
  ASSERT_TRUE(panel::ReadOwnFileVersion(v));
  EXPECT_EQ(panel::FormatTitle(v.major, v.minor, v.build, v.revision), "DERURUZUD Ver1.02");
  EXPECT_EQ(v.revision, 0);
}

TEST(PanelTexts, CentreWindowHalvesTowardZeroAndIgnoresTheDesktopOrigin) {
  EXPECT_EQ(panel::CentreWindow(1024, 768, 330, 200), (panel::ScreenPoint{347, 284}));
  EXPECT_EQ(panel::CentreWindow(1024, 768, 331, 200), (panel::ScreenPoint{346, 284}));
  EXPECT_EQ(panel::CentreWindow(1024, 768, 331, 201), (panel::ScreenPoint{346, 283}));
  // Larger than the desktop: a negative place, truncated toward zero (-3 / 2 is -1).
  EXPECT_EQ(panel::CentreWindow(1024, 768, 1027, 771), (panel::ScreenPoint{-1, -1}));
  EXPECT_EQ(panel::CentreWindow(0, 0, 0, 0), (panel::ScreenPoint{0, 0}));
}

}  // namespace
