#include "web/WebState.h"

#include "core/SurveyCore.h"
#include "database/DatabaseError.h"
#include "host/ObservatoryControl.h"
#include "report/FrameLines.h"
#include "sky/Clock.h"

#include <QFileInfo>
#include <QJsonArray>
#include <algorithm>
#include <exception>

namespace kestrove {

namespace {

QString targetName(const QString& targetLine)
{
    return targetLine.section(u'\t', 0, 0).trimmed();
}

QJsonValue utcJson(const QDateTime& utc)
{
    return utc.isValid() ? QJsonValue(utc.toUTC().toString(Qt::ISODate)) : QJsonValue();
}

} // namespace

QJsonObject pickJson(const WebState::Pick& pick)
{
    return {{QStringLiteral("kind"), kindText(pick.kind)},
            {QStringLiteral("target"), pick.target},
            {QStringLiteral("score"), static_cast<double>(pick.score)}};
}

WebState::~WebState() = default;

void WebState::attach(SurveyCore& core)
{
    m_observatory.reset();
    m_core = &core;
    if (core.observer != this) {
        m_next = core.observer;
        core.observer = this;
    }
}

void WebState::showStatus(const QString& text)
{
    m_status = text;
    m_shown.showStatus(text);
}

void WebState::showMessage(const QString& text)
{
    m_message = text;
    m_shown.showMessage(text);
}

void WebState::showRunning(bool running)
{
    const bool changed = running != m_running;
    m_running = running;
    if (running)
        m_observatory.reset();
    m_shown.showRunning(running);
    if (changed && onRunning)
        onRunning(running);
}

void WebState::passStarted(const QDateTime& utc)
{
    ++m_passes;
    m_passUtc = utc;
    m_best.clear();
    if (m_next)
        m_next->passStarted(utc);
}

void WebState::rejected(SurveyKind kind, const QString& targetLine, Outcome rule)
{
    if (m_next)
        m_next->rejected(kind, targetLine, rule);
}

void WebState::scored(SurveyKind kind, const QString& targetLine, float score)
{
    if (m_next)
        m_next->scored(kind, targetLine, score);
}

void WebState::kindBest(SurveyKind kind, const QString& targetLine, float score, float weightedScore)
{
    m_best.append({kind, targetName(targetLine), weightedScore});
    if (m_next)
        m_next->kindBest(kind, targetLine, score, weightedScore);
}

void WebState::passChosen(bool found, SurveyKind kind, const QString& targetLine, float weightedScore)
{
    m_winners = m_best;
    m_current = found ? std::optional<Pick>(Pick{kind, targetName(targetLine), weightedScore}) : std::nullopt;
    if (m_next)
        m_next->passChosen(found, kind, targetLine, weightedScore);
}

void WebState::planRefused(SurveyKind kind, const QString& targetLine)
{
    m_current.reset();
    if (m_next)
        m_next->planRefused(kind, targetLine);
}

void WebState::planHandedOver(SurveyKind kind, const QString& targetLine, const QDateTime& startUtc,
                              std::optional<double> expectedSeconds)
{
    if (m_next)
        m_next->planHandedOver(kind, targetLine, startUtc, expectedSeconds);
}

void WebState::followLog()
{
    if (!m_core || !m_core->acpUtil)
        return;
    try {
        const QString path =
            m_core->acpUtil->Prefs().LocalUser().DefaultLogDir() + QStringLiteral("/Kestrove.log");
        if (path != m_logTail.path())
            m_logTail.follow(path);
        const QStringList lines = m_logTail.poll();
        m_logCount += lines.size();
        m_logLines += lines;
        if (m_logLines.size() > keptLogLines)
            m_logLines.erase(m_logLines.begin(), m_logLines.end() - keptLogLines);
    } catch (const std::exception&) {
        // The log folder of a host that cannot be asked now; the next second tries again.
    }
}

QString WebState::historyFile() const
{
    if (!m_core || !m_core->acpUtil)
        return {};
    try {
        return historyPath(m_core->acpUtil->Prefs().LocalUser().DefaultLogDir());
    } catch (const std::exception&) {
        return {};
    }
}

QJsonObject WebState::status() const
{
    QJsonArray winners;
    for (const Pick& pick : m_winners)
        winners.append(pickJson(pick));
    QJsonObject json{{QStringLiteral("running"), m_running},
                     {QStringLiteral("status"), m_status},
                     {QStringLiteral("message"), m_message},
                     {QStringLiteral("pass"), m_passes},
                     {QStringLiteral("passStarted"), utcJson(m_passUtc)},
                     {QStringLiteral("current"), m_current ? QJsonValue(pickJson(*m_current)) : QJsonValue()},
                     {QStringLiteral("winners"), winners},
                     {QStringLiteral("logLines"), m_logCount},
                     {QStringLiteral("lastImage"), m_lastImage.isEmpty() ? QJsonValue() : m_lastImage}};
    if (!m_core)
        return json;
    json[QStringLiteral("stopPending")] = m_core->stopPending();
    Host& host = m_core->host();
    json[QStringLiteral("now")] = utcJson(host.clock().utcNow());
    // Each reading of the host stands alone: one device that cannot be read leaves the rest.
    // The weather is the weather source's own verdict: the survey also waits for the Sun and a
    // closed roof, which are not bad weather.
    json[QStringLiteral("weatherSafe")] = QJsonValue();
    try {
        if (!m_observatory || m_observatoryHost != &host) {
            m_observatory = std::make_unique<ObservatoryStatus>(host);
            m_observatoryHost = &host;
        }
        const ObservatoryReading reading = m_observatory->reading();
        if (reading.weatherSafe)
            json[QStringLiteral("weatherSafe")] = *reading.weatherSafe;
        if (reading.site) {
            const QTimeZone& zone = m_observatory->zone();
            const QDateTime now = host.clock().utcNow();
            json[QStringLiteral("site")] = QJsonObject{
                {QStringLiteral("name"), reading.name},
                {QStringLiteral("latitude"), reading.site->latitude},
                {QStringLiteral("longitude"), reading.site->longitude},
                {QStringLiteral("text"), siteText(reading.site->latitude, reading.site->longitude)},
                {QStringLiteral("zone"), QString::fromUtf8(zone.id())},
                {QStringLiteral("zoneName"), zone.abbreviation(now)},
                {QStringLiteral("utcOffset"), zone.offsetFromUtc(now)}};
        }
        if (reading.sunAltitude)
            json[QStringLiteral("sunAltitude")] = *reading.sunAltitude;
        if (reading.sunLimit)
            json[QStringLiteral("sunLimit")] = *reading.sunLimit;
        json[QStringLiteral("darkAt")] = utcJson(reading.darkAt);
    } catch (const std::exception&) {
    }
    try {
        if (m_core->acpUtil && m_core->acpUtil->sunLimit()) {
            const QDateTime now = host.clock().utcNow();
            json[QStringLiteral("dark")] = !m_core->acpUtil->sunAboveLimitBetween(now, now).has_value();
        }
    } catch (const std::exception&) {
    }
    if (const std::optional<DomeView> dome = host.dome())
        json[QStringLiteral("dome")] = QJsonObject{
            {QStringLiteral("azimuth"), dome->azimuth ? QJsonValue(*dome->azimuth) : QJsonValue()},
            {QStringLiteral("turning"), dome->turning},
            {QStringLiteral("turningTo"), dome->turningTo ? QJsonValue(*dome->turningTo) : QJsonValue()},
            {QStringLiteral("aligned"), dome->aligned},
            {QStringLiteral("text"), domeViewText(*dome)}};
    if (ObservatoryControl* observatory = host.observatoryControl())
        json[QStringLiteral("observatory")] = QJsonObject{{QStringLiteral("state"), observatory->stateText()},
                                                          {QStringLiteral("fault"), observatory->fault()}};
    return json;
}

QJsonObject WebState::history() const
{
    QJsonArray plans;
    QJsonArray events;
    const QString path = historyFile();
    if (!path.isEmpty()) {
        const History read = readHistory(path);
        // Tonight's part is enough for a page; a long-lived history.csv holds many nights.
        const QDateTime since = m_core->host().clock().utcNow().addSecs(-24 * 3600);
        for (const HistoryEntry& entry : read.entries) {
            if (entry.startUtc < since)
                continue;
            plans.append(QJsonObject{{QStringLiteral("start"), utcJson(entry.startUtc)},
                                     {QStringLiteral("end"), utcJson(entry.endUtc)},
                                     {QStringLiteral("kind"), kindText(entry.kind)},
                                     {QStringLiteral("target"), entry.target},
                                     {QStringLiteral("ra"), entry.rightAscension},
                                     {QStringLiteral("dec"), entry.declination},
                                     {QStringLiteral("score"), static_cast<double>(entry.score)},
                                     {QStringLiteral("result"), entry.result}});
        }
        for (const ObservatoryEvent& event : read.events)
            if (event.utc >= since)
                events.append(QJsonObject{{QStringLiteral("time"), utcJson(event.utc)},
                                          {QStringLiteral("event"), event.text}});
    }
    return {{QStringLiteral("plans"), plans}, {QStringLiteral("events"), events}};
}

const QByteArray* WebState::lightcurvePicture(const QString& target, bool allNights) const
{
    for (const LightcurvePictures& p : m_lightcurves)
        if (p.target == target)
            return allNights ? &p.all : &p.night;
    return nullptr;
}

QJsonObject WebState::lightcurves() const
{
    QJsonArray targets;
    for (const LightcurvePictures& p : m_lightcurves)
        targets.append(p.target);
    return {{QStringLiteral("targets"), targets}};
}

QJsonObject WebState::frames() const
{
    QJsonArray last;
    QJsonArray strip;
    const QString history = historyFile();
    if (history.isEmpty())
        return {{QStringLiteral("frames"), last}, {QStringLiteral("strip"), strip}};
    // Tonight's, as for the plans; the database sits beside history.csv.
    const QDateTime now = m_core->host().clock().utcNow();
    std::vector<database::FrameRecord> frames;
    try {
        frames = recordedFrames(QFileInfo(history).path(), now.addSecs(-24 * 3600), now.addSecs(60));
    } catch (const database::DatabaseError& error) {
        return {{QStringLiteral("frames"), last},
                {QStringLiteral("strip"), strip},
                {QStringLiteral("error"), error.message()}};
    }
    const QTimeZone zone = m_core->now().timeZone();
    for (const database::FrameRecord& f : frames)
        strip.append(QJsonObject{{QStringLiteral("utc"), utcJson(f.utc)},
                                 {QStringLiteral("hfr"), f.measurement.medianHfr},
                                 {QStringLiteral("stars"), f.measurement.stars},
                                 {QStringLiteral("accepted"), f.accepted}});
    for (auto f = frames.rbegin(); f != frames.rend() && last.size() < keptFrames; ++f)
        last.append(QJsonObject{
            {QStringLiteral("utc"), utcJson(f->utc)},
            {QStringLiteral("kind"), f->kind},
            {QStringLiteral("target"), f->target},
            {QStringLiteral("filter"), f->filter},
            {QStringLiteral("exposure"), f->exposure},
            {QStringLiteral("stars"), f->measurement.stars},
            {QStringLiteral("hfr"), f->measurement.medianHfr},
            {QStringLiteral("background"), f->measurement.background},
            {QStringLiteral("grade"), f->accepted ? QStringLiteral("accepted") : QStringLiteral("rejected")},
            {QStringLiteral("reason"), f->reason},
            {QStringLiteral("line"), frameLine(*f, zone)}});
    return {{QStringLiteral("frames"), last}, {QStringLiteral("strip"), strip}};
}

QJsonObject WebState::log(qint64 after) const
{
    const qint64 first = m_logCount - m_logLines.size() + 1; // the number of m_logLines[0]
    // The client's number is bounded before anything is added to it: past the last line it asks
    // for nothing, and at the top of its type one more would overflow.
    const qint64 from = std::max(first, std::clamp<qint64>(after, 0, m_logCount) + 1);
    QJsonArray lines;
    for (qint64 n = from; n <= m_logCount; ++n)
        lines.append(m_logLines[static_cast<qsizetype>(n - first)]);
    return {{QStringLiteral("first"), from},
            {QStringLiteral("last"), m_logCount},
            {QStringLiteral("lines"), lines}};
}

QJsonObject WebState::preview() const
{
    // The next pass most likely picks among what each kind offered in the last one, best first.
    QList<Pick> likely = m_winners;
    std::stable_sort(likely.begin(), likely.end(),
                     [](const Pick& a, const Pick& b) { return a.score > b.score; });
    QJsonArray targets;
    for (const Pick& pick : likely)
        targets.append(pickJson(pick));
    return {{QStringLiteral("basis"), QStringLiteral("last pass")}, {QStringLiteral("targets"), targets}};
}

} // namespace kestrove
