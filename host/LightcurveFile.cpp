#include "host/LightcurveFile.h"

#include "text/HostError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace kestrove {

namespace {

QByteArray number(const std::optional<double>& value, int decimals)
{
    return value ? QByteArray::number(*value, 'f', decimals) : QByteArray();
}

} // namespace

QString lightcurvePath(const QString& logDir, const QString& target)
{
    QString name = target.trimmed();
    for (QChar& c : name)
        if (c.unicode() < 0x20 || QStringLiteral("/\\:*?\"<>|").contains(c))
            c = u'_';
    if (name.isEmpty() || name.startsWith(u'.'))
        name.prepend(u'_');
    return QDir(logDir).filePath(QStringLiteral("lightcurves/") + name + QStringLiteral(".csv"));
}

QByteArray lightcurveHeader()
{
    return "BJD_TDB,UTC,filter,magnitude,error,airmass,comparisons,check,check magnitude,check error";
}

QByteArray lightcurveLine(const database::LightcurvePoint& p)
{
    // A filter or star name never holds a comma or quote of its own making; any the user typed
    // into a filter's name becomes a blank.
    QString filter = p.filter;
    filter.replace(u',', u' ').replace(u'"', u' ');
    QList<QByteArray> fields{QByteArray::number(p.bjdTdb, 'f', 6),
                             p.utc.toUTC().toString(Qt::ISODateWithMs).toUtf8(),
                             filter.toUtf8(),
                             QByteArray::number(p.magnitude, 'f', 4),
                             QByteArray::number(p.error, 'f', 4),
                             number(p.airmass, 3),
                             p.comparisons.toUtf8(),
                             p.check.toUtf8(),
                             number(p.checkMagnitude, 4),
                             number(p.checkError, 4)};
    return fields.join(',');
}

void appendLightcurve(const QString& logDir, const database::LightcurvePoint& point)
{
    const QString path = lightcurvePath(logDir, point.target);
    const auto failure = [&](const QString& what) {
        return HostError(QStringLiteral("lightcurve"), path, what);
    };
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        throw failure(QStringLiteral("cannot create its folder"));
    QByteArray content;
    QFile old(path);
    if (old.exists()) {
        if (!old.open(QIODevice::ReadOnly))
            throw failure(QStringLiteral("cannot read it: ") + old.errorString());
        content = old.readAll();
        old.close();
    }
    if (content.isEmpty())
        content = lightcurveHeader() + '\n';
    else if (!content.endsWith('\n'))
        content += '\n';
    content += lightcurveLine(point) + '\n';
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
        throw failure(QStringLiteral("cannot write it: ") + file.errorString());
}

} // namespace kestrove
