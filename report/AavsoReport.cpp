#include "report/AavsoReport.h"

#include <QStringList>

#include <algorithm>

namespace kestrove {

namespace {

QString number(const std::optional<double>& value, int decimals)
{
    return value ? QString::number(*value, 'f', decimals) : QStringLiteral("na");
}

QString text(const QString& value)
{
    return value.isEmpty() ? QStringLiteral("na") : value;
}

QStringList fields(const AavsoObservation& o, const AavsoFileOptions& options)
{
    QString notes = o.notes;
    notes.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return {text(o.starId),
            QString::number(o.julianDate, 'f', options.dateDecimals),
            (o.fainterThan ? QStringLiteral("<") : QString()) + QString::number(o.magnitude, 'f', 3),
            number(o.error, 3),
            text(o.filter),
            o.transformed ? QStringLiteral("YES") : QStringLiteral("NO"),
            o.differential ? QStringLiteral("DIF") : QStringLiteral("STD"),
            text(o.comparison),
            number(o.comparisonMagnitude, 3),
            text(o.check),
            number(o.checkMagnitude, 3),
            number(o.airmass, 3),
            text(o.group),
            text(o.chart),
            text(notes.left(100))};
}

} // namespace

QByteArray aavsoExtendedFile(const QList<AavsoObservation>& observations, const AavsoFileOptions& options)
{
    QList<QStringList> lines;
    for (const AavsoObservation& o : observations)
        lines << fields(o, options);
    QChar delimiter = QLatin1Char(',');
    for (const QChar candidate : QStringLiteral(",;!|")) {
        delimiter = candidate;
        const bool used = std::any_of(lines.begin(), lines.end(), [&](const QStringList& line) {
            return std::any_of(line.begin(), line.end(),
                               [&](const QString& f) { return f.contains(candidate); });
        });
        if (!used)
            break;
    }
    QString file = QStringLiteral("#TYPE=EXTENDED\n#OBSCODE=") + options.observerCode +
                   QStringLiteral("\n#SOFTWARE=") + options.software + QStringLiteral("\n#DELIM=") +
                   delimiter + QStringLiteral("\n#DATE=JD\n#OBSTYPE=CCD\n");
    file +=
        QStringLiteral("#NAME,DATE,MAG,MERR,FILT,TRANS,MTYPE,CNAME,CMAG,KNAME,KMAG,AMASS,GROUP,CHART,NOTES")
            .replace(QLatin1Char(','), delimiter) +
        QLatin1Char('\n');
    for (QStringList& line : lines) {
        // Only when the night's fields hold all four does a field lose its delimiters to blanks.
        for (QString& f : line)
            f.replace(delimiter, QLatin1Char(' '));
        file += line.join(delimiter) + QLatin1Char('\n');
    }
    return file.toUtf8();
}

QString aavsoFilter(const QString& filter)
{
    const QString f = filter.trimmed();
    const QString lower = f.toLower();
    static const QStringList johnson{QStringLiteral("U"), QStringLiteral("B"), QStringLiteral("V"),
                                     QStringLiteral("R"), QStringLiteral("I"), QStringLiteral("J"),
                                     QStringLiteral("H"), QStringLiteral("K")};
    if (f.size() == 1 && johnson.contains(f.toUpper()))
        return f.toUpper();
    if (lower == QLatin1String("rc") || lower == QLatin1String("ic"))
        return f.left(1).toUpper();
    if (lower.isEmpty() || lower == QLatin1String("clear") || lower == QLatin1String("c") ||
        lower == QLatin1String("l") || lower == QLatin1String("lum") || lower == QLatin1String("luminance") ||
        lower == QLatin1String("none") || lower == QLatin1String("cv"))
        return QStringLiteral("CV");
    if (lower == QLatin1String("red") || lower == QLatin1String("tr"))
        return QStringLiteral("TR");
    if (lower == QLatin1String("green") || lower == QLatin1String("tg"))
        return QStringLiteral("TG");
    if (lower == QLatin1String("blue") || lower == QLatin1String("tb"))
        return QStringLiteral("TB");
    // Sloan: u' g' r' i' z', also written sg, sr ...
    for (const QChar band : QStringLiteral("ugriz"))
        if (lower == QString(band) + QLatin1Char('\'') || lower == QStringLiteral("s") + band)
            return QStringLiteral("S") + band.toUpper();
    if (lower == QLatin1String("ha") || lower == QLatin1String("h-alpha") || lower == QLatin1String("halpha"))
        return QStringLiteral("HA");
    return QStringLiteral("O");
}

QList<AavsoObservation> aavsoObservations(const std::vector<database::LightcurvePoint>& points)
{
    QList<AavsoObservation> observations;
    for (const database::LightcurvePoint& p : points) {
        AavsoObservation o;
        o.starId = p.target;
        o.julianDate = static_cast<double>(p.utc.toMSecsSinceEpoch()) / 86400000.0 + 2440587.5;
        o.magnitude = p.magnitude;
        o.error = p.error;
        o.filter = aavsoFilter(p.filter);
        o.differential = !p.standard;
        o.comparison = QStringLiteral("ENSEMBLE");
        o.check = p.check;
        o.checkMagnitude = p.checkMagnitude;
        o.airmass = p.airmass;
        o.notes = QStringLiteral("BJD_TDB %1").arg(p.bjdTdb, 0, 'f', 6);
        observations << o;
    }
    return observations;
}

QByteArray nightAavsoFile(const std::vector<database::LightcurvePoint>& points, const QString& observerCode)
{
    return aavsoExtendedFile(aavsoObservations(points), {observerCode, QStringLiteral("Kestrove")});
}

} // namespace kestrove
