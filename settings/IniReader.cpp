#include "settings/IniReader.h"

#include "text/NumberText.h"

#include <QFile>
#include <cmath>

namespace kestrove {

bool IniReader::text(const char* key, QString& out)
{
    const QString k = QString::fromLatin1(key);
    if (!m_ini.contains(k))
        return false;
    const QVariant v = m_ini.value(k);
    // Unquoted commas make QSettings split a value into a list.
    out = v.typeId() == QMetaType::QStringList ? v.toStringList().join(QStringLiteral(", ")) : v.toString();
    return true;
}

void IniReader::number(const char* key, double& out, double low, double high)
{
    QString t;
    if (!text(key, t))
        return;
    const auto v = parseNumber(t);
    if (!v || !std::isfinite(*v))
        throw bad(key, t, QStringLiteral("is not a number"));
    if (*v < low || *v > high)
        throw bad(key, t, QStringLiteral("lies outside %1 to %2").arg(doubleText(low), doubleText(high)));
    out = *v;
}

void IniReader::boolean(const char* key, bool& out)
{
    QString t;
    if (!text(key, t))
        return;
    const QString l = t.trimmed().toLower();
    if (l == QStringLiteral("true") || l == QStringLiteral("1") || l == QStringLiteral("yes"))
        out = true;
    else if (l == QStringLiteral("false") || l == QStringLiteral("0") || l == QStringLiteral("no"))
        out = false;
    else
        throw bad(key, t, QStringLiteral("is not true or false"));
}

bool IniReader::raw(const QString& section, const QString& key, QString& out)
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QString current;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            current = line.mid(1, line.size() - 2).trimmed();
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (current.compare(section, Qt::CaseInsensitive) != 0 || eq < 0 || line.left(eq).trimmed() != key)
            continue;
        out = line.mid(eq + 1).trimmed();
        if (out.size() >= 2 && out.startsWith(u'"') && out.endsWith(u'"'))
            out = out.mid(1, out.size() - 2);
        return true;
    }
    return false;
}

HostError IniReader::bad(const char* key, const QString& value, const QString& why) const
{
    const QString k = QString::fromLatin1(key);
    const qsizetype slash = k.indexOf(u'/');
    return HostError(m_call, m_path,
                     QStringLiteral("[%1] %2 \"%3\" %4").arg(k.left(slash), k.mid(slash + 1), value, why));
}

} // namespace kestrove
