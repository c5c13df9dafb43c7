#pragma once

#include "database/ObservationDb.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <vector>

namespace kestrove {

// The frames taken from `fromUtc` up to `toUtc`, oldest first, as "observations.sqlite" in the log
// folder holds them; read without writing to it, so the observatory may be writing meanwhile. None
// when there is no such file yet. Throws DatabaseError naming the file.
std::vector<database::FrameRecord> recordedFrames(const QString& logDir, const QDateTime& fromUtc,
                                                  const QDateTime& toUtc);

// The lightcurve points of frames taken from `fromUtc` up to `toUtc`, as recordedFrames reads them.
std::vector<database::LightcurvePoint> recordedLightcurve(const QString& logDir, const QDateTime& fromUtc,
                                                          const QDateTime& toUtc);

// "M51 L 60 s at 23:41: 212 stars, HFR 2.14 px, background 812, accepted", or "..., rejected: 3
// stars where 80 expected"; the time in the zone given.
QString frameLine(const database::FrameRecord& frame, const QTimeZone& zone);

// "frames.csv": one line per frame, with its measurement and grade.
QByteArray framesCsv(const std::vector<database::FrameRecord>& frames, const QTimeZone& zone);

} // namespace kestrove
