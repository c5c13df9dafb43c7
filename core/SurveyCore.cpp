#include "core/SurveyCore.h"

#include "core/ProgramLock.h"
#include "core/VectorState.h"
#include "settings/ConfigFile.h"
#include "settings/ObservatorySettings.h"
#include "sky/Clock.h"
#include "text/FileMessage.h"

#include <QDir>
#include <QFileInfo>

#include <utility>

namespace kestrove {

namespace {
QString withTrailingSeparator(const QString& folder)
{
    QString path = QDir::fromNativeSeparators(folder);
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}
} // namespace

SurveyCore::SurveyCore(Host& host, SurveyView& view, const QString& programFolder)
    : m_host(host), m_view(view), m_programFolder(withTrailingSeparator(programFolder))
{
    m_sincePump.start();
    m_sinceFlush.start();
}

SurveyCore::~SurveyCore() = default;

void SurveyCore::load()
{
    makeHostObjects();
    LoadConfig();
}

void SurveyCore::makeHostObjects()
{
    fileSystem = m_host.createFileSystem();
    acpUtil = m_host.createUtil();
    acpTelescope = m_host.createTelescope();
    acpApplication = m_host.createApplication();
    // The selection policy, like the rest of observatory.ini, is as saved at this Start.
    if (const ObservatorySettings* observatory = m_host.observatorySettings())
        selection = observatory->selection;
}

void SurveyCore::unload()
{
    // A file that could not be kept stays as the user wrote it; its load has already said so.
    if (!m_configMustBeKept)
        SaveConfig();
    stopRequested = true;
}

QString SurveyCore::GetEXEPath() const
{
    return m_programFolder;
}

void SurveyCore::LoadConfig()
{
    ConfigRead read;
    try {
        read = readConfigFile(GetEXEPath());
    } catch (const ConfigMustBeKept&) {
        m_configMustBeKept = true;
        throw;
    }
    m_configMustBeKept = false;
    settings = read.settings;
    if (!read.fault.isEmpty())
        view().showMessage(read.fault);
}

void SurveyCore::SaveConfig()
{
    if (m_configMustBeKept)
        throw HostError(
            QStringLiteral("SaveConfig"), programFile(QStringLiteral("config.ini")),
            QStringLiteral("the file holds a fault and could not be copied to \"%1\", so it is not "
                           "saved over")
                .arg(programFile(QStringLiteral("config.ini.bad"))));
    writeConfigFile(GetEXEPath(), settings);
}

bool SurveyCore::FileExists(const QString& fileName)
{
    if (fileName.isEmpty())
        return false;
    const QFileInfo info(fileName);
    return info.exists() && !info.isDir();
}

void SurveyCore::logLine(const QString& line)
{
    if (!logging())
        return;
    surveyLog->WriteLine(line);
    // The clock is looked at every few lines only: a long pass writes lines by the hundred thousand.
    if (++m_linesSinceFlushCheck >= 32) {
        m_linesSinceFlushCheck = 0;
        flushLogIfDue();
    }
}

void SurveyCore::flushLogIfDue()
{
    if (!surveyLog || m_sinceFlush.elapsed() < 1000)
        return;
    surveyLog->Flush();
    m_sinceFlush.restart();
}

void SurveyCore::reportLine(qint64 line, const QString& message, const QString& text)
{
    m_view.showMessage(lineMessage(entryPlace.file, line, message, text));
}

ReadingFile::ReadingFile(SurveyCore& core, const QString& path)
    : m_core(core), m_saved(std::exchange(core.entryPlace, EntryPlace{QFileInfo(path).fileName()}))
{
}

void SurveyCore::reportOnce(const QString& subject, const QString& message)
{
    if (!m_reported.contains(subject)) {
        m_reported.insert(subject);
        m_view.showMessage(message);
    }
}

void SurveyCore::pumpEvents()
{
    // Every scan calls this for every line: the place to keep its arithmetic at full speed.
    clearUpperVectorHalves();
    // The timer is read at every eighth call only (a microsecond apart).
    if (eventPumpIntervalMs > 0 && ((++m_pumpCalls & 7) != 0 || m_sincePump.elapsed() < eventPumpIntervalMs))
        return;
    m_view.processEvents();
    m_sincePump.restart();
    flushLogIfDue();
}

QDateTime SurveyCore::now() const
{
    return m_host.clock().localNow();
}

double SurveyCore::julianNow()
{
    // A pass asks for every target, at one millisecond of the clock.
    const qint64 ms = m_host.clock().utcMsecs();
    if (m_julianNowMs != ms) {
        m_julianNow = acpUtil->Date_Julian(now());
        m_julianNowMs = ms;
    }
    return m_julianNow;
}

} // namespace kestrove
