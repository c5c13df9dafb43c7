#pragma once

#include <QString>

namespace kestrove::indi {

inline const QString EOD = QStringLiteral("EQUATORIAL_EOD_COORD");
// The BLOB property of a camera's main chip; a guide chip or a video stream sends others.
inline const QString mainChip = QStringLiteral("CCD1");
inline const QString absFocus = QStringLiteral("ABS_FOCUS_POSITION");
inline const QString absFocusValue = QStringLiteral("FOCUS_ABSOLUTE_POSITION");

} // namespace kestrove::indi
