// The main dialog's fixed values and the small pieces of arithmetic behind its title and
// placement; its texts are in the catalog (text_catalog.h). Kept free of any toolkit so
// that every front end shows the same thing and the rules can be tested without a display.
#pragma once

#include <string>

namespace panel {

inline constexpr const char* kProgramName = "DERURUZUD";
inline constexpr const char* kDefaultPortText = "10003";
// The longest dotted IPv4 address.
inline constexpr int kAddressMaxChars = 15;

// The program's version, as the build carries it.
struct FileVersion {
  int major = 0;
  int minor = 0;
  int build = 0;
  int revision = 0;
};

// True when the four numbers could be read; the outputs are left untouched otherwise.
// The build always carries them, so this cannot fail here.
bool ReadOwnFileVersion(FileVersion& out);

// "DERURUZUD Ver1.02" for 1,0,2,0; the revision is added after a dot only when it is not 0
// ("DERURUZUD Ver1.02.3"). Minor and build stand side by side without a separator.
std::string FormatTitle(int major, int minor, int build, int revision);

// "<program> Ver1.02": the build's version as the title shows it, for --version.
std::string VersionText(const std::string& program);

struct ScreenPoint {
  int x = 0;
  int y = 0;
  bool operator==(const ScreenPoint&) const = default;
};

// Top-left corner that centres a window of the given size on a desktop whose right and
// bottom edges are given; the desktop's left and top edges are not used, and the halves
// are truncated toward zero (a window larger than the desktop goes to a negative place).
ScreenPoint CentreWindow(int desktopRight, int desktopBottom, int width, int height);

}  // namespace panel
