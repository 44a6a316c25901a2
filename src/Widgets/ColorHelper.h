// Colours of the editor from hex text, and the editor's palette.
#pragma once

#include <QColor>
#include <QString>

#include <optional>

namespace tamberlo {

// "RRGGBB" (opaque) or "AARRGGBB" (alpha first); any other length, or a non-hex digit, gives none.
std::optional<QColor> hexStr(const QString& text);

// The palette: primary "FC2C5C" (selection), second "3B051B" (clips), dark1 "1B1C21", dark2 "23252A".
QColor primary();
QColor second();
QColor dark1();
QColor dark2();

}  // namespace tamberlo
