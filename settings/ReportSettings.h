#pragma once

#include <QString>
#include <QStringList>

namespace kestrove {

// [report] as a new "observatory.ini" holds it, with its comment: the observer code of the night's
// AAVSO extended file.
QStringList reportFileLines(const QString& aavsoCode);

} // namespace kestrove
