#include "text/FileMessage.h"

namespace kestrove {

QString printableText(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\t')
            out += QLatin1String("\\t");
        else if (u == u'\r')
            out += QLatin1String("\\r");
        else if (u == u'\n')
            out += QLatin1String("\\n");
        else if (c.isPrint())
            out += c;
        else if (u < 0x100)
            out += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        else
            out += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
    }
    return out;
}

QString lineMessage(const QString& file, qint64 line, const QString& message, QStringView text)
{
    QString out;
    if (!file.isEmpty()) {
        out = printableText(file);
        if (line > 0)
            out += QStringLiteral(" line %1").arg(line);
        out += QLatin1String(": ");
    }
    return out + printableText(message) + QLatin1String(": \"") + printableText(text) + QLatin1Char('"');
}

} // namespace kestrove
