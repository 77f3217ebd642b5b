// The main dialog's own texts and the small pieces of arithmetic behind its title and
// placement. Kept free of any toolkit so that every front end shows the same thing and the
// rules can be tested without a display.
#pragma once

#include <string>

namespace panel {

inline constexpr const char* kProgramName = "DERURUZUD";
inline constexpr const char* kInitialStatusText = "QUIVOの電源を入れ直してから接続して下さい。";
inline constexpr const char* kCautionText =
    "<注意>書込み中はLANケーブルを抜いたり電源を切らないで下さい。";
inline constexpr const char* kAddressLabelText = "IP Address";
inline constexpr const char* kPortLabelText = "Port";
inline constexpr const char* kDefaultPortText = "10003";
inline constexpr const char* kConnectText = "接続";
inline constexpr const char* kExitText = "終了";
// The longest dotted IPv4 address.
inline constexpr int kAddressMaxChars = 15;
// Asked when the window is closed while an update runs.
inline constexpr const char* kCloseWhileRunningText =
    "ファーム書換え処理中に終了すると正常に動作しなくなる可能性があります\n終了しますか?";

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
