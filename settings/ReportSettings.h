#pragma once

#include <QString>
#include <QStringList>

namespace kestrove {

// [report] as a new "observatory.ini" holds it, with its comments: the observer code of the night's
// AAVSO extended file and the MPC's code of the site for the moving objects' observation blocks.
QStringList reportFileLines(const QString& aavsoCode, const QString& mpcCode);

} // namespace kestrove
