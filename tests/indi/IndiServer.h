#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace kestrove::test {

// An indiserver with Debian's simulators on a free localhost port, with its own HOME (drivers keep
// their settings there) and its own socket. It is always stopped when the object goes.
class IndiServer
{
public:
    explicit IndiServer(QStringList drivers = {"indi_simulator_telescope", "indi_simulator_ccd",
                                               "indi_simulator_wheel", "indi_simulator_weather"},
                        QList<QPair<QString, QString>> environment = {})
        : m_drivers(std::move(drivers)), m_environment(std::move(environment))
    {
        start();
    }
    ~IndiServer() { stop(); }
    IndiServer(const IndiServer&) = delete;
    IndiServer& operator=(const IndiServer&) = delete;

    static int freePort()
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0))
            throw std::runtime_error("no free port");
        return probe.serverPort();
    }

    int port() const { return m_port; }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }

    // Starts the server (again, on the same port) and waits until it accepts connections.
    void start()
    {
        if (m_port == 0)
            m_port = freePort();
        const QString home = m_dir.path() + QStringLiteral("/home");
        QDir().mkpath(home);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home);
        // The drivers inherit it: the CCD simulator runs "gsc" from PATH.
        for (const auto& [name, value] : m_environment)
            env.insert(name, value);
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        QStringList args{"-p", QString::number(m_port), "-u", m_dir.path() + "/indi.sock", "-r", "0"};
        m_process.start(QStringLiteral("indiserver"), args + m_drivers);
        if (!m_process.waitForStarted(10000))
            throw std::runtime_error("indiserver did not start");
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 10000) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(m_port));
            if (socket.waitForConnected(200))
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        throw std::runtime_error("indiserver does not accept connections");
    }

    // Ends the server at once, as a crash would; its drivers end with it.
    void kill()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            kill();
    }

    // indi_setprop "Device.PROPERTY.ELEMENT;ELEMENT=value;value".
    bool set(const QString& assignment) const
    {
        return QProcess::execute(QStringLiteral("indi_setprop"),
                                 {"-p", QString::number(m_port), assignment}) == 0;
    }

    // indi_getprop of one element or "_STATE" ("Device.PROPERTY.ELEMENT"): its value, or empty.
    QString get(const QString& element) const
    {
        QProcess getprop;
        getprop.start(QStringLiteral("indi_getprop"), {"-p", QString::number(m_port), "-1", element});
        if (!getprop.waitForFinished(10000))
            return {};
        return QString::fromUtf8(getprop.readAllStandardOutput()).trimmed();
    }

    // Waits until the element reads `value`; false after `seconds`.
    bool waitFor(const QString& element, const QString& value, double seconds) const
    {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < seconds * 1000) {
            if (get(element) == value)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
        return false;
    }

    // Ends one driver of this server at once, as a crash would (the server is run with -r 0, so it
    // stays away). False when the server has no such driver.
    bool killDriver(const QString& executable) const
    {
        const QString parent = QString::number(m_process.processId());
        for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
            QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
            if (!stat.open(QIODevice::ReadOnly) || !cmdline.open(QIODevice::ReadOnly))
                continue;
            // pid (comm) state ppid ...: the name may hold spaces, so the fields count from ')'.
            const QByteArray line = stat.readAll();
            const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
            if (fields.size() < 2 || fields[1] != parent.toLatin1() ||
                !cmdline.readAll().split('\0').first().endsWith(executable.toLatin1()))
                continue;
            return QProcess::execute(QStringLiteral("kill"), {"-9", pid}) == 0;
        }
        return false;
    }

private:
    QStringList m_drivers;
    QList<QPair<QString, QString>> m_environment;
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
};

} // namespace kestrove::test
