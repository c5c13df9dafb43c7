#include "Version.h"
#include "settings/ObservatorySettings.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kestrove::test {
namespace {

// The program as a user starts it over SSH: no display of any kind. Every mode but the window
// works; the window says what it lacks.
TEST(ProgramEntry, OnlyTheWindowNeedsADisplay)
{
    struct Case
    {
        const char* name;
        QStringList arguments; // "{folder}" and "{out}" stand for the test's folders
        int exitStatus;
        QString standardOutput; // contained
        QString standardError;  // contained
        QString outFile;        // written into {out}; empty: none
    };
    const QString version =
        QStringLiteral("kestrove %1.%2.%3\n").arg(versionMajor).arg(versionMinor).arg(versionRevision);
    const Case cases[] = {
        {"version", {"--version"}, 0, version, {}, {}},
        {"help", {"--help"}, 0, "  --headless ", {}, {}},
        {"short help", {"-h"}, 0, "  --version ", {}, {}},
        {"bad option", {"--fast"}, 2, {}, "unknown option \"--fast\"", {}},
        {"window", {"--folder", "{folder}"}, 1, {}, "the window needs a display", {}},
        {"headless",
         {"--headless", "--passes", "1", "--folder", "{folder}"},
         0,
         "Run ended: --passes 1 done",
         {},
         {}},
        {"preview",
         {"--preview", "--from", "2024-04-14T09:10:00Z", "--to", "2024-04-14T10:10:00Z", "--folder",
          "{folder}", "--out", "{out}"},
         0,
         "Preview of the night",
         {},
         "night.png"},
        {"report",
         {"--report", "--night", "2024-04-13", "--folder", "{folder}", "--out", "{out}"},
         0,
         "Report of the night",
         {},
         "night.png"},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("program"));
        const QString out = dir.filePath(QStringLiteral("out"));
        QDir().mkpath(folder);
        // An observatory in virtual time, so that a headless pass takes no time.
        ObservatorySettings settings = observatoryDefaults(folder + QStringLiteral("/observatory"));
        settings.clockStart = QStringLiteral("2024-04-14T09:10:00Z");
        settings.clockSpeed = 0;
        writeObservatorySettings(folder + QStringLiteral("/observatory"), settings);

        QStringList arguments;
        for (QString argument : c.arguments)
            arguments
                << argument.replace(QStringLiteral("{folder}"), folder).replace(QStringLiteral("{out}"), out);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(KESTROVE_EXECUTABLE), arguments);
        ASSERT_TRUE(program.waitForFinished(120000)) << c.name;

        const QString standardOutput = QString::fromLocal8Bit(program.readAllStandardOutput());
        const QString standardError = QString::fromLocal8Bit(program.readAllStandardError());
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << c.name;
        EXPECT_EQ(program.exitCode(), c.exitStatus) << c.name << "\n" << standardError.toStdString();
        EXPECT_TRUE(standardOutput.contains(c.standardOutput)) << c.name << "\n"
                                                               << standardOutput.toStdString();
        EXPECT_TRUE(standardError.contains(c.standardError)) << c.name << "\n" << standardError.toStdString();
        if (!c.outFile.isEmpty()) {
            EXPECT_TRUE(QFile::exists(out + u'/' + c.outFile)) << c.name;
        }
    }
}

} // namespace
} // namespace kestrove::test
