#include "core/SimSurvey.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSysInfo>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <optional>
#include <unistd.h>

namespace kestrove::test {
namespace {

// A kestrove that runs a survey on the folder, asleep in real time, until the test ends.
class LiveKestrove
{
public:
    LiveKestrove(const QString& programFolder, const QString& observatoryFolder)
    {
        QDir().mkpath(observatoryFolder);
        writeBytes(observatoryFolder + QStringLiteral("/observatory.ini"),
                   "[clock]\r\nspeed=1\r\n[limits]\r\nsunAltitude=\r\n");
        m_process.start(QStringLiteral(KESTROVE_EXECUTABLE),
                        {QStringLiteral("--headless"), QStringLiteral("--folder"), programFolder,
                         QStringLiteral("--observatory"), observatoryFolder});
        QByteArray said;
        while (!said.contains("No viable target") && m_process.waitForReadyRead(60000))
            said += m_process.readAllStandardOutput();
        m_running = said.contains("No viable target");
    }
    ~LiveKestrove()
    {
        if (m_process.processId() > 0)
            ::kill(static_cast<pid_t>(m_process.processId()), SIGKILL);
        m_process.waitForFinished(10000);
    }
    bool running() const { return m_running; }
    qint64 pid() const { return m_process.processId(); }

private:
    QProcess m_process;
    bool m_running = false;
};

// Whatever a power cut, a crash or a hand leaves as "Kestrove.lock" does not cost a night: only a
// live Kestrove holding it refuses the start.
TEST(RunLock, OnlyALiveKestroveHoldingTheLockRefusesTheStart)
{
    std::optional<QCoreApplication> app;
    int argc = 1;
    char name[] = "kestrove_tests";
    char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        app.emplace(argc, argv);
    const QString host = QSysInfo::machineHostName();
    const bool root = ::geteuid() == 0;
    QProcess sleeper;
    sleeper.start(QStringLiteral("sleep"), {QStringLiteral("60")});
    ASSERT_TRUE(sleeper.waitForStarted(10000));

    struct Case
    {
        const char* name;
        std::function<void(const QString& lockPath, SimSurvey& sim)> leave;
        bool starts;
        QString said; // in what the start said of the lock
    };
    const Case cases[] = {
        {"empty", [](const QString& path, SimSurvey&) { writeBytes(path, {}); }, true, "empty"},
        {"garbage", [](const QString& path, SimSurvey&) { writeBytes(path, "\x01\xff\nnot a lock\n"); }, true,
         "could not be read as a lock"},
        {"a folder", [](const QString& path, SimSurvey&) { QDir().mkpath(path); }, true, "a folder"},
        {"a dangling link",
         [](const QString& path, SimSurvey&) { QFile::link(path + QStringLiteral(".gone"), path); }, true,
         "a symbolic link"},
        // Mode 000 does not stop root from reading: then it is read, and found to be no lock.
        {"unreadable",
         [](const QString& path, SimSurvey&) {
             writeBytes(path, "garbage\n");
             QFile::setPermissions(path, {});
         },
         true, root ? QStringLiteral("could not be read as a lock") : QStringLiteral("unreadable")},
        {"a live process that is not kestrove",
         [&](const QString& path, SimSurvey& sim) {
             writeBytes(path, QStringLiteral("pid=%1\nhost=%2\nprogram=%3\n")
                                  .arg(sleeper.processId())
                                  .arg(host, sim.programFolder)
                                  .toUtf8());
         },
         true,
         {}},
    };
    for (const Case& c : cases) {
        SimSurvey sim;
        const QString lockPath = sim.programFile(QStringLiteral("Kestrove.lock"));
        c.leave(lockPath, sim);
        sim.core->runLimits.passes = 1;

        const bool started = sim.core->startSurvey();
        EXPECT_TRUE(started) << c.name << ": " << sim.view.messages.join('\n').toStdString();
        if (!started)
            continue;

        const QStringList said = sim.view.statuses.filter(lockPath);
        if (c.said.isEmpty()) {
            EXPECT_TRUE(said.isEmpty()) << c.name << ": " << said.join('\n').toStdString();
        } else {
            ASSERT_EQ(said.size(), 1) << c.name;
            EXPECT_TRUE(said[0].contains(c.said)) << c.name << ": " << said[0].toStdString();
            EXPECT_EQ(sim.logLines().filter(lockPath), said) << c.name;
        }
        EXPECT_FALSE(QFileInfo::exists(lockPath)) << c.name << ": the run's own lock is left";
    }
    ::kill(static_cast<pid_t>(sleeper.processId()), SIGKILL);
    sleeper.waitForFinished(10000);

    SimSurvey sim;
    const LiveKestrove live(sim.programFolder, sim.dir.filePath(QStringLiteral("live")));
    ASSERT_TRUE(live.running());
    sim.core->runLimits.passes = 1;
    EXPECT_FALSE(sim.core->startSurvey());
    ASSERT_EQ(sim.view.messages.size(), 1);
    EXPECT_TRUE(sim.view.messages[0].contains(QStringLiteral("process %1 on %2").arg(live.pid()).arg(host)))
        << sim.view.messages[0].toStdString();
}

} // namespace
} // namespace kestrove::test
