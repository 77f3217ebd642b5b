// Dialog units to pixels, the way the dialog manager converts a template: the horizontal
// base unit is the average width of the Latin alphabet in the dialog's font, the vertical
// one the font's height; a dialog unit is a quarter of the first and an eighth of the second.
#pragma once

namespace ui::qt {

struct DialogBaseUnits {
  int x = 0;
  int y = 0;
};

// alphabetWidth: width in pixels of "A..Za..z" (52 characters); fontHeight: ascent plus
// descent in pixels. The average is rounded to the nearest pixel, halves up.
inline DialogBaseUnits BaseUnitsFor(int alphabetWidth, int fontHeight) {
  return {(alphabetWidth / 26 + 1) / 2, fontHeight};
}

// a * b / c rounded to the nearest integer, halves away from zero, as the dialog manager's
// scaling does.
inline int MulDiv(int a, int b, int c) {
  const long long p = static_cast<long long>(a) * b;
  return static_cast<int>(p >= 0 ? (p + c / 2) / c : -((-p + c / 2) / c));
}

inline int HorizontalPixels(const DialogBaseUnits& base, int du) { return MulDiv(du, base.x, 4); }
inline int VerticalPixels(const DialogBaseUnits& base, int du) { return MulDiv(du, base.y, 8); }

}  // namespace ui::qt
