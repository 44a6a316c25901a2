#include "Widgets/ColorHelper.h"

namespace tamberlo {

std::optional<QColor> hexStr(const QString& text) {
    if (text.size() != 6 && text.size() != 8) return std::nullopt;
    int parts[4] = {255, 0, 0, 0};  // alpha, red, green, blue
    const int first = text.size() == 8 ? 0 : 1;
    for (int i = first; i < 4; ++i) {
        bool ok = false;
        parts[i] = text.mid((i - first) * 2, 2).toInt(&ok, 16);
        if (!ok) return std::nullopt;
    }
    return QColor(parts[1], parts[2], parts[3], parts[0]);
}

QColor primary() { return QColor(0xFC, 0x2C, 0x5C); }
QColor second() { return QColor(0x3B, 0x05, 0x1B); }
QColor dark1() { return QColor(0x1B, 0x1C, 0x21); }
QColor dark2() { return QColor(0x23, 0x25, 0x2A); }

}  // namespace tamberlo
