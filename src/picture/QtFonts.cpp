#include "picture/QtFonts.h"

#include <algorithm>

namespace busweave {

QFont QFontOf(const TFontSpec& Font) {
  QFont font(QString::fromStdString(Font.Name));
  font.setPointSize(std::max(1, Font.Size));
  font.setBold(Font.Bold);
  font.setItalic(Font.Italic);
  font.setUnderline(Font.Underline);
  font.setStrikeOut(Font.StrikeOut);
  return font;
}

QFont QFontOf(const TLogFont& Font, int PixelSize) {
  QFont font(QString::fromStdString(Font.FaceName));
  font.setPixelSize(std::max(1, PixelSize));
  font.setWeight(Font.Weight >= 600 ? QFont::Bold : QFont::Normal);
  font.setItalic(Font.Italic);
  font.setUnderline(Font.Underline);
  font.setStrikeOut(Font.StrikeOut);
  return font;
}

}  // namespace busweave
