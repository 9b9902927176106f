#pragma once
#include <QString>
#include <QStringList>

namespace halyard {

// A filter string of label and pattern pairs, "label|pattern; pattern|label|pattern",
// as Qt's file dialog takes it: one "label (pattern pattern)" per pair. Each pattern
// is given in its written, upper and lower case, so that names as found on discs
// (FEATURE_1.EVO, VPLST000.XPL) show also where the dialog matches case-sensitively.
QStringList QtNameFilters(const QString& filter);

} // namespace halyard
