#pragma once

#include <QFont>

namespace trp {

// Arial bold at the given size, or the desktop's sans-serif where Arial is missing: 9 pt for the
// screens' frames, labels, fields and lists, 11.25 pt for the push buttons.
inline QFont ScreenFont(double points) {
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

}  // namespace trp
