#include "imaging/SolveField.h"

#include "imaging/ImagingError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cmath>

namespace kestrove::imaging {

SolveField::SolveField(QObject* parent) : QObject(parent)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        if (!m_process)
            return;
        m_timedOut = true;
        m_process->kill();
    });
}

SolveField::~SolveField()
{
    cancel();
}

QString SolveField::executable()
{
    return QStandardPaths::findExecutable(QStringLiteral("solve-field"));
}

namespace {

bool holdsIndexes(const QString& folder)
{
    return !folder.isEmpty() &&
           !QDir(folder)
                .entryList({QStringLiteral("index-*.fits"), QStringLiteral("index-*.fits.fz")}, QDir::Files)
                .isEmpty();
}

QString baseName(const SolveRequest& request)
{
    return QFileInfo(request.imagePath).completeBaseName();
}

} // namespace

QString SolveField::findIndexFolder(const QString& configured, QString* why)
{
    if (!configured.isEmpty()) {
        if (holdsIndexes(configured)) {
            if (why)
                *why = QStringLiteral("index files of [solve] indexFolder %1").arg(configured);
            return configured;
        }
        if (why)
            *why = QStringLiteral("[solve] indexFolder %1 holds no index-*.fits").arg(configured);
        return {};
    }
    for (const QString& folder :
         {QStringLiteral("/usr/share/astrometry"), QStringLiteral("/usr/local/share/astrometry"),
          QStringLiteral("/usr/local/astrometry/data")})
        if (holdsIndexes(folder)) {
            if (why)
                *why = QStringLiteral("index files of %1").arg(folder);
            return folder;
        }
    if (why)
        *why = QStringLiteral(
            "no astrometry.net index files (Debian: astrometry-data-tycho2) and no [solve] indexFolder");
    return {};
}

QStringList SolveField::arguments(const SolveRequest& request, const QString& configPath)
{
    QStringList args{
        QStringLiteral("--config"), configPath, QStringLiteral("--dir"), request.workDir,
        QStringLiteral("--cpulimit"), QString::number(std::max(1L, std::lround(request.cpuLimit))),
        QStringLiteral("--no-plots"), QStringLiteral("--overwrite"),
        // A linear TAN solution fitted to every matched star and referred to the field's centre,
        // where the target sits: the raw four-star quad fit drifts pixels off away from the quad.
        QStringLiteral("--tweak-order"), QStringLiteral("1"), QStringLiteral("--crpix-center"),
        QStringLiteral("--new-fits"), QStringLiteral("none"),
        QStringLiteral("--index-xyls"), QStringLiteral("none"), QStringLiteral("--tag-all"),
        QStringLiteral("--corr"), QStringLiteral("none"), QStringLiteral("--match"), QStringLiteral("none"),
        QStringLiteral("--temp-dir"), request.workDir, QStringLiteral("--rdls"),
        request.workDir + u'/' + baseName(request) + QStringLiteral(".rdls")};
    if (request.scale && *request.scale > 0)
        args << QStringLiteral("--scale-units") << QStringLiteral("arcsecperpix")
             << QStringLiteral("--scale-low") << QString::number(*request.scale * 0.8, 'f', 4)
             << QStringLiteral("--scale-high") << QString::number(*request.scale * 1.2, 'f', 4);
    if (request.rightAscension && request.declination)
        args << QStringLiteral("--ra") << QString::number(*request.rightAscension, 'f', 6)
             << QStringLiteral("--dec") << QString::number(*request.declination, 'f', 6)
             << QStringLiteral("--radius") << QString::number(request.radius, 'f', 3);
    args << request.imagePath;
    return args;
}

void SolveField::start(const SolveRequest& request)
{
    cancel();
    m_request = request;
    m_output.clear();
    m_timedOut = false;
    m_clock.start();
    const QString program = executable();
    const auto failNow = [this](const QString& why) {
        SolveResult result;
        result.reason = why;
        // From the event loop, as a run would end.
        QMetaObject::invokeMethod(
            this, [this, result] { emit finished(result); }, Qt::QueuedConnection);
    };
    if (program.isEmpty()) {
        failNow(QStringLiteral("solve-field is not installed (Debian: astrometry.net)"));
        return;
    }
    if (!QDir().mkpath(request.workDir)) {
        failNow(QStringLiteral("cannot create the folder %1").arg(request.workDir));
        return;
    }
    const QString base = request.workDir + u'/' + baseName(request);
    QFile::remove(base + QStringLiteral(".solved"));
    QFile::remove(base + QStringLiteral(".wcs"));
    QFile::remove(base + QStringLiteral(".rdls"));
    const QString configPath = request.workDir + QStringLiteral("/astrometry.cfg");
    QFile config(configPath);
    if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        failNow(QStringLiteral("cannot write %1").arg(configPath));
        return;
    }
    config.write(QStringLiteral("cpulimit %1\nadd_path %2\nautoindex\ninparallel\n")
                     .arg(std::max(1L, std::lround(request.cpuLimit)))
                     .arg(request.indexFolder)
                     .toLocal8Bit());
    config.close();

    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setWorkingDirectory(request.workDir);
    connect(m_process.get(), &QProcess::readyRead, this, [this] {
        m_output += m_process->readAll();
        // Only the last lines say why; the rest is not kept.
        if (m_output.size() > 64 * 1024)
            m_output = m_output.right(32 * 1024);
    });
    connect(m_process.get(), &QProcess::finished, this, &SolveField::done);
    connect(m_process.get(), &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            done(-1, QProcess::CrashExit);
    });
    m_deadline.start(static_cast<int>((request.cpuLimit * 2 + 30) * 1000));
    m_process->start(program, arguments(request, configPath));
}

void SolveField::cancel()
{
    m_deadline.stop();
    if (!m_process)
        return;
    m_process->disconnect(this);
    m_process->kill();
    m_process->waitForFinished(2000);
    m_process.reset();
}

void SolveField::done(int exitCode, QProcess::ExitStatus status)
{
    if (!m_process)
        return;
    m_deadline.stop();
    m_output += m_process->readAll();
    const bool failedToStart = m_process->error() == QProcess::FailedToStart && exitCode == -1;
    m_process->disconnect(this);
    m_process.release()->deleteLater();

    SolveResult result;
    result.seconds = static_cast<double>(m_clock.elapsed()) / 1000.0;
    const QString output = QString::fromLocal8Bit(m_output);
    static const QRegularExpression found(QStringLiteral("found (\\d+) sources"));
    const auto match = found.match(output);
    if (match.hasMatch())
        result.sources = match.captured(1).toInt();
    else if (output.contains(QStringLiteral("No pixels were marked as significant")))
        result.sources = 0;

    const QString base = m_request.workDir + u'/' + baseName(m_request);
    const bool solved = QFile::exists(base + QStringLiteral(".solved"));
    std::optional<Wcs> wcs = solved ? readWcs(base + QStringLiteral(".wcs")) : std::nullopt;
    if (wcs) {
        const auto header = readFitsHeader(base + QStringLiteral(".wcs"));
        result.width = headerValue(header, QStringLiteral("IMAGEW")).toInt();
        result.height = headerValue(header, QStringLiteral("IMAGEH")).toInt();
        result.solved = result.width > 0 && result.height > 0;
    }
    if (result.solved) {
        result.wcs = *wcs;
        try {
            result.catalogue = readCatalogueStars(base + QStringLiteral(".rdls"));
        } catch (const ImagingError&) {
            // An index without magnitudes: the frames' magnitudes stay relative.
        }
        wcs->pixelToSky((result.width + 1) / 2.0, (result.height + 1) / 2.0, result.rightAscension,
                        result.declination);
    } else {
        QString why;
        if (failedToStart)
            why = QStringLiteral("solve-field did not start");
        else if (m_timedOut)
            why =
                QStringLiteral("solve-field ran past %1 s and was stopped").arg(m_request.cpuLimit * 2 + 30);
        else if (status != QProcess::NormalExit)
            why = QStringLiteral("solve-field crashed");
        else if (exitCode != 0)
            why = QStringLiteral("solve-field failed (exit %1)").arg(exitCode);
        else if (result.sources == 0)
            why = QStringLiteral("no stars in the frame");
        else if (solved)
            why = QStringLiteral("solve-field wrote no usable WCS");
        else if (result.sources > 0 && result.sources < 8)
            why = QStringLiteral("too few stars (%1) to solve").arg(result.sources);
        else if (output.contains(QStringLiteral("CPU time limit")) ||
                 output.contains(QStringLiteral("cpulimit")))
            why = QStringLiteral("no solution within the CPU limit of %1 s").arg(m_request.cpuLimit);
        else if (result.sources > 0)
            why = QStringLiteral("no solution (%1 stars; no index matches the field, or the hints are wrong)")
                      .arg(result.sources);
        else
            why = QStringLiteral("no solution (no index matches the field, or the hints are wrong)");
        // The program's last words, for the log.
        QStringList lines = output.split(u'\n', Qt::SkipEmptyParts);
        if (!lines.isEmpty() && (exitCode != 0 || status != QProcess::NormalExit))
            why += QStringLiteral(": ") + lines.last().trimmed();
        result.reason = why;
    }
    emit finished(result);
}

} // namespace kestrove::imaging
