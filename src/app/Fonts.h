#pragma once
#include <QFont>
#include <QStringList>

namespace halyard {

// The window's font, Tahoma, or where it is missing a narrow sans serif of the same
// measure, so that the captions fit the controls drawn for it.
inline QFont TahomaFont(qreal points) {
    QFont font;
    font.setFamilies({"Tahoma", "DejaVu Sans Condensed", "Liberation Sans Narrow", "Arial Narrow", "Sans Serif"});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    return font;
}

} // namespace halyard
