#include "panel/panel_texts.h"

namespace panel {

bool ReadOwnFileVersion(FileVersion& out) {
  out.major = DERURUZUD_VERSION_MAJOR;
  out.minor = DERURUZUD_VERSION_MINOR;
  out.build = DERURUZUD_VERSION_PATCH;
  out.revision = DERURUZUD_VERSION_TWEAK;
  return true;
}

std::string FormatTitle(int major, int minor, int build, int revision) {
  std::string title = std::string(kProgramName) + " Ver" + std::to_string(major) + "." +
                      std::to_string(minor) + std::to_string(build);
  if (revision != 0) title += "." + std::to_string(revision);
  return title;
}

ScreenPoint CentreWindow(int desktopRight, int desktopBottom, int width, int height) {
  // C++ integer division already truncates toward zero, as the placement rule wants.
  return {(desktopRight - width) / 2, (desktopBottom - height) / 2};
}

}  // namespace panel
