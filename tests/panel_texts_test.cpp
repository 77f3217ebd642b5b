#include "ui/panel_texts.h"

#include <gtest/gtest.h>

namespace {

TEST(PanelTexts, TitleAddsTheRevisionOnlyWhenItIsNotZero) {
  EXPECT_EQ(ui::FormatTitle(1, 0, 2, 0), "DERURUZUD Ver1.02");
  EXPECT_EQ(ui::FormatTitle(1, 0, 2, 3), "DERURUZUD Ver1.02.3");
  // Minor and build stand side by side, with no padding either way.
  EXPECT_EQ(ui::FormatTitle(2, 1, 10, 0), "DERURUZUD Ver2.110");
  EXPECT_EQ(ui::FormatTitle(0, 0, 0, 0), "DERURUZUD Ver0.00");
  EXPECT_EQ(ui::FormatTitle(65535, 65535, 65535, 65535),
            "DERURUZUD Ver65535.6553565535.65535");
}

TEST(PanelTexts, OwnVersionIsTheBuildsVersion) {
  ui::FileVersion v{9, 9, 9, 9};
  ASSERT_TRUE(ui::ReadOwnFileVersion(v));
  EXPECT_EQ(ui::FormatTitle(v.major, v.minor, v.build, v.revision), "DERURUZUD Ver1.02");
  EXPECT_EQ(v.revision, 0);
}

TEST(PanelTexts, CentreWindowHalvesTowardZeroAndIgnoresTheDesktopOrigin) {
  EXPECT_EQ(ui::CentreWindow(1024, 768, 330, 200), (ui::ScreenPoint{347, 284}));
  EXPECT_EQ(ui::CentreWindow(1024, 768, 331, 200), (ui::ScreenPoint{346, 284}));
  EXPECT_EQ(ui::CentreWindow(1024, 768, 331, 201), (ui::ScreenPoint{346, 283}));
  // Larger than the desktop: a negative place, truncated toward zero (-3 / 2 is -1).
  EXPECT_EQ(ui::CentreWindow(1024, 768, 1027, 771), (ui::ScreenPoint{-1, -1}));
  EXPECT_EQ(ui::CentreWindow(0, 0, 0, 0), (ui::ScreenPoint{0, 0}));
}

}  // namespace
