#include "host/indi/IndiMapping.h"

#include <QRegularExpression>
#include <QTimeZone>

#include <cmath>

namespace kestrove::indi {

bool weatherSafe(bool deviceConnected, std::optional<PropertyState> status)
{
    return deviceConnected && status == PropertyState::Ok;
}

CommandWatch::Result CommandWatch::update(PropertyState state)
{
    switch (state) {
    case PropertyState::Busy:
        m_seenBusy = true;
        return Result::Pending;
    case PropertyState::Alert:
        return m_seenBusy || m_before != PropertyState::Alert ? Result::Failed : Result::Pending;
    case PropertyState::Ok:
        return m_seenBusy ? Result::Done : Result::Pending;
    case PropertyState::Idle:
        // Some drivers end a move in Idle; before Busy it is the old state.
        return m_seenBusy ? Result::Done : Result::Pending;
    }
    return Result::Pending;
}

Frame centredFrame(int chipWidth, int chipHeight, double fraction)
{
    if (!(fraction > 0) || fraction >= 1)
        return {0, 0, chipWidth, chipHeight};
    const auto side = [&](int full) { return std::max(1, static_cast<int>(std::lround(full * fraction))); };
    const int width = side(chipWidth);
    const int height = side(chipHeight);
    return {(chipWidth - width) / 2, (chipHeight - height) / 2, width, height};
}

std::optional<int> filterSlot(const QStringList& slotNames, const QString& wanted)
{
    const qsizetype index = slotNames.indexOf(wanted);
    if (index < 0)
        return std::nullopt;
    return static_cast<int>(index) + 1;
}

std::optional<ServerAddress> parseServerAddress(const QString& text)
{
    const QString t = text.trimmed();
    ServerAddress address;
    const qsizetype colon = t.lastIndexOf(u':');
    address.host = colon < 0 ? t : t.left(colon).trimmed();
    if (colon >= 0) {
        bool ok = false;
        address.port = t.mid(colon + 1).trimmed().toInt(&ok);
        if (!ok || address.port < 1 || address.port > 65535)
            return std::nullopt;
    }
    if (address.host.isEmpty())
        return std::nullopt;
    return address;
}

double slewLimitSeconds(double distanceDegrees, double slewRate, double margin)
{
    return std::abs(distanceDegrees) / slewRate + margin;
}

bool crossesMeridian(double fromHourAngle, double toHourAngle)
{
    const auto signedHours = [](double hours) { return std::remainder(hours, 24.0); };
    const double from = signedHours(fromHourAngle);
    const double to = signedHours(toHourAngle);
    // Across the lower meridian, below the pole, no mount turns over.
    return std::abs(from) < 6 && std::abs(to) < 6 && (from < 0) != (to < 0);
}

QString frameFilter(const QString& planFilter, const QStringList& slotNames, long slot)
{
    if (!planFilter.isEmpty())
        return planFilter;
    if (slot < 1 || slot > slotNames.size())
        return {};
    return slotNames[static_cast<int>(slot - 1)].trimmed();
}

QString imageFileName(const QString& target, const QString& filter, int binning, const QDateTime& utc,
                      int image, int attempt, const QString& extension)
{
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9_.+-]"));
    const auto safe = [](QString text) {
        text.replace(unsafe, QStringLiteral("_"));
        // A leading point would hide the file.
        if (text.startsWith(u'.'))
            text.prepend(u'_');
        return text;
    };
    QString name = safe(target.isEmpty() ? QStringLiteral("image") : target) + u'-' +
                   utc.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    if (!filter.isEmpty())
        name += u'-' + safe(filter);
    name += QStringLiteral("-%1x%1-%2").arg(binning).arg(image, 3, 10, QLatin1Char('0'));
    if (attempt > 1)
        name += QStringLiteral("-%1").arg(attempt);
    return name + extension;
}

QString blobExtension(const QString& format)
{
    QString f = format.trimmed();
    static const QRegularExpression plain(QStringLiteral("^\\.?[A-Za-z0-9]+(\\.[A-Za-z0-9]+)*$"));
    if (f.isEmpty() || !plain.match(f).hasMatch())
        return QStringLiteral(".fits");
    return f.startsWith(u'.') ? f : u'.' + f;
}

bool looksLikeFits(const QByteArray& bytes)
{
    return bytes.size() >= 2880 && bytes.startsWith("SIMPLE  =");
}

} // namespace kestrove::indi
