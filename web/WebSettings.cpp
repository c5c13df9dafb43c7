#include "web/WebSettings.h"

#include "settings/ObservatoryForm.h"
#include "settings/ObservatorySettings.h"
#include "text/HostError.h"

#include <QFile>
#include <QRegularExpression>
#include <QSettings>

namespace kestrove {

namespace {

// The value as the file holds it: QSettings would cut a command at ";" or split it at commas.
QString rawValue(const QString& path, const QString& section, const QString& key)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString current;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            current = line.mid(1, line.size() - 2).trimmed();
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq > 0 && current.compare(section, Qt::CaseInsensitive) == 0 && line.left(eq).trimmed() == key)
            return line.mid(eq + 1).trimmed();
    }
    return {};
}

} // namespace

WebSettings readWebSettings(const QString& observatoryFolder)
{
    const QString path = observatoryIniPath(observatoryFolder);
    WebSettings settings;
    const QString port = rawValue(path, QStringLiteral("web"), QStringLiteral("port"));
    if (!port.isEmpty()) {
        bool ok = false;
        settings.port = port.toInt(&ok);
        if (!ok || settings.port < 0 || settings.port > 65535)
            throw HostError(QStringLiteral("observatory.ini"), path,
                            QStringLiteral("[web] port \"%1\" is not a port from 0 to 65535").arg(port));
    }
    const QString bind = rawValue(path, QStringLiteral("web"), QStringLiteral("bind"));
    if (!bind.isEmpty())
        settings.bind = bind;
    settings.token = rawValue(path, QStringLiteral("web"), QStringLiteral("token"));
    static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
    settings.hosts =
        rawValue(path, QStringLiteral("web"), QStringLiteral("hosts")).split(separators, Qt::SkipEmptyParts);
    settings.notifyCommand = rawValue(path, QStringLiteral("notify"), QStringLiteral("command"));
    return settings;
}

void storeWebToken(const QString& observatoryFolder, const QString& token)
{
    // Only the token's line changes: the observer's comments and layout stay.
    saveObservatoryChanges(observatoryFolder, {{QStringLiteral("web/token"), token}});
}

} // namespace kestrove
