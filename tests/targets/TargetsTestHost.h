#pragma once

// A small stand-in observatory for the target catalogue tests: a fixed clock, the local disk, and
// the host's position and date conversions. Everything else a test does not need throws.

#include "config/NumberText.h"
#include "host/Clock.h"
#include "host/HostError.h"
#include "host/LocalFileSystem.h"
#include "host/Observatory.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QStringList>
#include <QTimeZone>
#include <cmath>

namespace kestrove::test {

class FixedClock : public Clock
{
public:
    QDateTime utcNow() const override { return local.toUTC(); }
    QDateTime localNow() const override { return local; }
    void sleepSeconds(int n) override { local = local.addSecs(n); }

    QDateTime local{QDate(2026, 3, 14), QTime(22, 30, 0), Qt::UTC};
};

class ConversionUtil : public AcpUtil
{
public:
    explicit ConversionUtil(Clock& clock) : m_clock(clock) {}

    double Date_Julian(const QDateTime& value) override
    {
        ++dateJulianCalls;
        // The date and time as they stand, read as if they were UTC.
        const QDateTime asUtc(value.date(), value.time(), Qt::UTC);
        return 2440587.5 + static_cast<double>(asUtc.toMSecsSinceEpoch()) / 86400000.0;
    }
    double HMS_Hours(const QString& text) override { return sexagesimal(text, QStringLiteral("HMS_Hours")); }
    double DMS_Degrees(const QString& text) override
    {
        return sexagesimal(text, QStringLiteral("DMS_Degrees"));
    }
    QString Hours_HMS(double hours, const QString& h, const QString& m, const QString& s) override
    {
        return format(hours, h, m, s, false);
    }
    QString Degrees_DMS(double degrees, const QString& d, const QString& m, const QString& s) override
    {
        return format(degrees, d, m, s, true);
    }

    bool ScriptActive() override { return unused<bool>("ScriptActive"); }
    bool WeatherConnected() override { return unused<bool>("WeatherConnected"); }
    AcpWeather& Weather() override { return *unused<AcpWeather*>("Weather"); }
    AcpPrefs& Prefs() override { return *unused<AcpPrefs*>("Prefs"); }
    QString FormatVar(const QDateTime&, const QString&) override { return unused<QString>("FormatVar"); }
    std::unique_ptr<CoordTransform> NewCTHereAndNow() override
    {
        return unused<std::unique_ptr<CoordTransform>>("NewCT");
    }
    std::unique_ptr<CoordTransform> NewCT(double, double) override
    {
        return unused<std::unique_ptr<CoordTransform>>("NewCT");
    }
    bool IsGEMDestinationWest(double) override { return unused<bool>("IsGEMDestinationWest"); }
    void LoadScript(const QString&) override { unused<int>("LoadScript"); }
    void RunScript() override { unused<int>("RunScript"); }
    void AbortScript() override { unused<int>("AbortScript"); }

    int dateJulianCalls = 0;

private:
    template <typename T> static T unused(const char* call)
    {
        throw HostError(QString::fromLatin1(call), QString(), QStringLiteral("not part of this test host"));
    }

    // "hh:mm:ss.s", "+dd mm ss" or a plain decimal number.
    static double sexagesimal(const QString& text, const QString& call)
    {
        if (const auto plain = parseNumber(text))
            return *plain;
        static const QRegularExpression form(
            QStringLiteral("^\\s*([+-]?)(\\d+)[: ](\\d+)(?:[: ](\\d+(?:\\.\\d*)?))?\\s*$"));
        const auto match = form.match(text);
        if (!match.hasMatch())
            throw HostError(call, text, QStringLiteral("not a sexagesimal number"));
        const double value = match.captured(2).toDouble() + match.captured(3).toDouble() / 60.0 +
                             match.captured(4).toDouble() / 3600.0;
        return match.captured(1) == QLatin1String("-") ? -value : value;
    }

    static QString format(double value, const QString& a, const QString& b, const QString& c, bool signed_)
    {
        const bool negative = value < 0;
        long long seconds = std::llround(std::fabs(value) * 3600.0);
        const long long whole = seconds / 3600;
        seconds %= 3600;
        QString text = signed_ ? QString(negative ? QLatin1Char('-') : QLatin1Char('+')) : QString();
        if (negative && !signed_)
            text = QStringLiteral("-");
        return text + QStringLiteral("%1").arg(whole, 2, 10, QLatin1Char('0')) + a +
               QStringLiteral("%1").arg(seconds / 60, 2, 10, QLatin1Char('0')) + b +
               QStringLiteral("%1").arg(seconds % 60, 2, 10, QLatin1Char('0')) + c;
    }

    Clock& m_clock;
};

// The survey log as a list of lines.
class RecordingStream : public TextStream
{
public:
    explicit RecordingStream(QStringList& lines) : m_lines(lines) {}
    bool AtEndOfStream() override { return true; }
    QString ReadLine() override
    {
        throw HostError(QStringLiteral("ReadLine"), QString(), QStringLiteral("log"));
    }
    void Write(const QString& text) override { m_lines << text; }
    void WriteLine(const QString& text) override { m_lines << text; }
    void Close() override {}

private:
    QStringList& m_lines;
};

class ConversionHost : public Host
{
public:
    std::unique_ptr<FileSystem> createFileSystem() override { return std::make_unique<LocalFileSystem>(); }
    std::unique_ptr<AcpUtil> createUtil() override { return std::make_unique<ConversionUtil>(clock_); }
    std::unique_ptr<AcpTelescope> createTelescope() override
    {
        throw HostError(QStringLiteral("createTelescope"), QString(),
                        QStringLiteral("not part of this test host"));
    }
    std::unique_ptr<AcpApplication> createApplication() override
    {
        throw HostError(QStringLiteral("createApplication"), QString(),
                        QStringLiteral("not part of this test host"));
    }
    Clock& clock() override { return clock_; }

    FixedClock clock_;
};

} // namespace kestrove::test
