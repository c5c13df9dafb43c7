#pragma once

// The survey core on the simulated observatory in virtual time, at a fixed site and instant, with
// the host objects set directly and the survey log kept as a list of lines.

#include "core/SurveyCore.h"
#include "host/sim/SimObservatory.h"
#include "support/TestSupport.h"
#include "text/HostError.h"
#include "text/NumberText.h"

#include <QDir>
#include <QStringList>
#include <QTemporaryDir>

namespace kestrove::test {

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

inline ObservatorySettings fixedObservatory(const QString& folder)
{
    ObservatorySettings s = observatoryDefaults(folder);
    s.latitude = 28.7606;
    s.longitude = -17.8816;
    s.elevation = 2396;
    s.timeZone = QStringLiteral("Atlantic/Canary");
    s.clockStart = QStringLiteral("2022-03-15T22:30:00Z");
    s.clockSpeed = 0;
    return s;
}

inline QString madeFolder(const QString& path)
{
    QDir().mkpath(path);
    return path;
}

class TargetsFixture
{
public:
    TargetsFixture()
        : host(dir.filePath(QStringLiteral("observatory")),
               fixedObservatory(dir.filePath(QStringLiteral("observatory")))),
          core(host, view, madeFolder(dir.filePath(QStringLiteral("program"))))
    {
        core.fileSystem = host.createFileSystem();
        core.acpUtil = host.createUtil();
        core.surveyLog = std::make_unique<RecordingStream>(log);
        core.eventPumpIntervalMs = 0;
    }

    QString path(const QString& name) const { return core.programFile(name); }
    // What the host's Date_Julian gives for the current instant.
    double jdValue() { return core.acpUtil->Date_Julian(core.now()); }
    QString jd() { return doubleText(jdValue()); }

    QTemporaryDir dir;
    sim::SimObservatory host;
    RecordingView view;
    SurveyCore core;
    QStringList log;
};

} // namespace kestrove::test
