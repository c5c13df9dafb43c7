#pragma once

#include "database/Discoveries.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <optional>
#include <vector>

namespace kestrove {

// What the night's frames showed that was not there before: new sources in galaxies' fields and
// sources moving across a set.
struct NightDiscoveries
{
    std::vector<database::CandidateRecord> candidates;
    std::vector<database::MoverRecord> movers;

    bool empty() const { return candidates.empty() && movers.empty(); }
};

// The candidates and movers first seen from `fromUtc` up to `toUtc`, as "observations.sqlite" in
// the log folder holds them; none when there is no such file yet. Throws DatabaseError naming it.
NightDiscoveries recordedDiscoveries(const QString& logDir, const QDateTime& fromUtc, const QDateTime& toUtc);

// "NGC 4414 at 23:41: 12:26:27.10 +31:13:24.0, magnitude 15.21, S/N 12.3, in 3 frames, new"
QString candidateLine(const database::CandidateRecord& candidate, const QTimeZone& zone);
// "KV34300 in 2024 AB at 01:12: 5.02"/min towards 92.1 degrees, magnitude 17.4, 3 positions from
// 04:12:09.31 +20:11:05.3"
QString moverLine(const database::MoverRecord& mover, const QTimeZone& zone);

// The night's movers as one block for the Minor Planet Center: the first block's header, then every
// mover's observation lines, LF-ended. Empty without movers.
QByteArray mpcFile(const std::vector<database::MoverRecord>& movers);

// The cut-outs a candidate has: "reference", "new" and "difference".
inline constexpr const char* cutoutKinds[] = {"reference", "new", "difference"};
bool isCutoutKind(const QString& kind);
// The file of one of a candidate's cut-outs; nothing for another kind or a candidate without any.
std::optional<QString> cutoutPath(const database::CandidateRecord& candidate, const QString& kind);

// Records a person's verdict on a candidate in the log folder's database; false when there is no
// such candidate. Throws DatabaseError naming the file.
bool markCandidate(const QString& logDir, qint64 candidateId, database::CandidateStatus status);

} // namespace kestrove
