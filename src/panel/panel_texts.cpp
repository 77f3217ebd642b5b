#include "panel/panel_texts.h"

namespace panel {

bool ReadOwnFileVersion(FileVersion& out) {
  out.major = DERURUZUD_VERSION_MAJOR;
  out.minor = DERURUZUD_VERSION_MINOR;
  out.build = DERURUZUD_VERSION_PATCH;
  out.revision = DERURUZUD_VERSION_TWEAK;
  return true;
}

namespace {

std::string NameAndVersion(const std::string& name, int major, int minor, int build, int revision) {
  std::string text =
      name + " Ver" + std::to_string(major) + "." + std::to_string(minor) + std::to_string(build);
  if (revision != 0) text += "." + std::to_string(revision);
  return text;
}

}  // namespace

std::string FormatTitle(int major, int minor, int build, int revision) {
  return NameAndVersion(kProgramName, major, minor, build, revision);
}

std::string VersionText(const std::string& program) {
  FileVersion v;
  ReadOwnFileVersion(v);
  return NameAndVersion(program, v.major, v.minor, v.build, v.revision);
}

ScreenPoint CentreWindow(int desktopRight, int desktopBottom, int width, int height) {
  // C++ integer division already truncates toward zero, as the placement rule wants.
  return {(desktopRight - width) / 2, (desktopBottom - height) / 2};
}

}  // namespace panel
