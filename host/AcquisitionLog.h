#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace kestrove {

// "AcquireImages.log" in the host's log folder: a line for every step, image and failure of the
// acquisition script, UTC time, TAB, then the fields separated by TABs.
QString acquisitionLogPath(const QString& logDir);

// Appends a line. A log that cannot be written must not stop a plan: the failure is only warned of.
void appendAcquisitionLog(const QString& logDir, const QDateTime& utc, const QStringList& fields) noexcept;

} // namespace kestrove
