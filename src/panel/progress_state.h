// The progress bar's arithmetic, shared by every front end so that all of them step and
// wrap the same way.
#pragma once

namespace panel {

struct ProgressState {
  int high = 100;  // the platform's default range is 0..100
  int step = 10;
  int pos = 0;

  // The range is an unsigned 16-bit value on the platform's progress bar.
  void SetRange(int h) { high = h & 0xFFFF; }
  void SetStep(int s) { step = s; }
  void SetPos(int p) { pos = p < 0 ? 0 : (p > high ? high : p); }
  // Advances by the step; past the high end the bar starts again from the low end.
  void Step() {
    pos += step;
    if (pos > high) pos = 0;
  }
};

}  // namespace panel
