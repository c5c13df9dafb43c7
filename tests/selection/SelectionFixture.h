#pragma once

#include "SelectionFakes.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kestrove::test {

// A survey core on the scripted observatory, with its program folder and survey log in a temporary
// folder, events dispatched before every line and the first pass over.
class SelectionTest : public ::testing::Test
{
protected:
    SelectionTest() : core(host, view, dir.path())
    {
        core.fileSystem = host.createFileSystem();
        core.acpUtil = host.createUtil();
        core.acpTelescope = host.createTelescope();
        core.eventPumpIntervalMs = 0;
        core.firstPass = false;
        core.surveyLog = core.fileSystem->OpenTextFile(logPath(), IOMode::ForAppending, true);
    }

    QString logPath() const { return dir.filePath(QStringLiteral("Kestrove.log")); }

    void writeProgramFile(const QString& name, const QStringList& lines)
    {
        writeBytes(dir.filePath(name), crlfLines(lines));
    }

    // Closes the survey log and returns its bytes.
    QByteArray logBytes()
    {
        if (core.surveyLog) {
            core.surveyLog->Close();
            core.surveyLog.reset();
        }
        return readBytes(logPath());
    }

    // The same as text, so that a failing comparison shows the lines.
    std::string logText() { return logBytes().toStdString(); }

    double nowJD() const { return FakeUtil::julianDate(host.sky.localNow); }

    // How the program file of that name was opened, read and closed, in order of opening.
    std::vector<RecordingFileSystem::Use> usesOf(const QString& name)
    {
        std::vector<RecordingFileSystem::Use> found;
        for (const auto& use : static_cast<RecordingFileSystem&>(*core.fileSystem).uses)
            if (use->path == dir.filePath(name))
                found.push_back(*use);
        return found;
    }

    QTemporaryDir dir;
    SkyFakeHost host;
    FakeSky& sky = host.sky;
    RecordingView view;
    SurveyCore core;
    float bestScore = 12345;
    QString bestTarget = QStringLiteral("untouched");
};

inline std::string crlfText(const QStringList& lines)
{
    return crlfLines(lines).toStdString();
}

// A target line with decimal position columns.
inline QString targetLine(const QString& name, double ra, double dec)
{
    return name + QLatin1Char('\t') + doubleText(ra) + QLatin1Char('\t') + doubleText(dec);
}

} // namespace kestrove::test
