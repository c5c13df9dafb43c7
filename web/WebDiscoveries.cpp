#include "web/WebState.h"

#include "core/SurveyCore.h"
#include "database/DatabaseError.h"
#include "database/ObservationDb.h"
#include "report/Discoveries.h"
#include "sky/Clock.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>

namespace kestrove {

namespace {

QJsonValue optionalJson(const std::optional<double>& value)
{
    return value ? QJsonValue(*value) : QJsonValue();
}

QJsonObject candidateJson(const database::CandidateRecord& c, const QTimeZone& zone)
{
    QJsonArray cutouts;
    for (const char* kind : cutoutKinds)
        if (c.cutouts.size() > 0)
            cutouts.append(
                QStringLiteral("/cutout.png?candidate=%1&image=%2").arg(c.id).arg(QLatin1String(kind)));
    return {{QStringLiteral("id"), c.id},
            {QStringLiteral("target"), c.target},
            {QStringLiteral("utc"), c.utc.toUTC().toString(Qt::ISODate)},
            {QStringLiteral("ra"), c.ra},
            {QStringLiteral("dec"), c.dec},
            {QStringLiteral("magnitude"), optionalJson(c.magnitude)},
            {QStringLiteral("snr"), c.snr},
            {QStringLiteral("frames"), static_cast<qint64>(c.frameIds.size())},
            {QStringLiteral("status"), database::statusText(c.status)},
            {QStringLiteral("line"), candidateLine(c, zone)},
            {QStringLiteral("cutouts"), cutouts}};
}

QJsonObject moverJson(const database::MoverRecord& m, const QTimeZone& zone)
{
    return {{QStringLiteral("id"), m.id},
            {QStringLiteral("target"), m.target},
            {QStringLiteral("designation"), m.designation},
            {QStringLiteral("utc"), m.utc.toUTC().toString(Qt::ISODate)},
            {QStringLiteral("rate"), m.rate},
            {QStringLiteral("direction"), m.direction},
            {QStringLiteral("magnitude"), optionalJson(m.magnitude)},
            {QStringLiteral("positions"), static_cast<qint64>(m.positions.size())},
            {QStringLiteral("line"), moverLine(m, zone)},
            {QStringLiteral("mpc"), m.mpcReport}};
}

} // namespace

QString WebState::logFolder() const
{
    const QString history = historyFile();
    return history.isEmpty() ? QString() : QFileInfo(history).path();
}

QJsonObject WebState::discoveries() const
{
    QJsonArray candidates;
    QJsonArray movers;
    const QString folder = logFolder();
    if (folder.isEmpty())
        return {{QStringLiteral("candidates"), candidates}, {QStringLiteral("movers"), movers}};
    const QDateTime now = m_core->host().clock().utcNow();
    NightDiscoveries found;
    try {
        found = recordedDiscoveries(folder, now.addSecs(-24 * 3600), now.addSecs(60));
    } catch (const database::DatabaseError& error) {
        return {{QStringLiteral("candidates"), candidates},
                {QStringLiteral("movers"), movers},
                {QStringLiteral("error"), error.message()}};
    }
    const QTimeZone zone = m_core->now().timeZone();
    for (auto c = found.candidates.rbegin(); c != found.candidates.rend(); ++c)
        candidates.append(candidateJson(*c, zone));
    for (auto m = found.movers.rbegin(); m != found.movers.rend(); ++m)
        movers.append(moverJson(*m, zone));
    return {{QStringLiteral("candidates"), candidates}, {QStringLiteral("movers"), movers}};
}

QByteArray WebState::cutout(qint64 candidateId, const QString& kind) const
{
    const QString folder = logFolder();
    const QString path = database::observationsPath(folder);
    if (folder.isEmpty() || !QFileInfo(path).isFile())
        return {};
    const std::optional<database::CandidateRecord> candidate =
        database::ObservationDb(path, database::ObservationDb::Access::Read).candidate(candidateId);
    const std::optional<QString> file = candidate ? cutoutPath(*candidate, kind) : std::nullopt;
    if (!file)
        return {};
    QFile png(*file);
    return png.open(QIODevice::ReadOnly) ? png.readAll() : QByteArray();
}

} // namespace kestrove
