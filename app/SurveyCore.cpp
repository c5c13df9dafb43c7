#include "app/SurveyCore.h"

#include "config/FileMessage.h"
#include "host/Clock.h"

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
}

SurveyCore::~SurveyCore() = default;

void SurveyCore::load()
{
    fileSystem = m_host.createFileSystem();
    acpUtil = m_host.createUtil();
    acpTelescope = m_host.createTelescope();
    acpApplication = m_host.createApplication();
    LoadConfig();
}

void SurveyCore::unload()
{
    SaveConfig();
    stopRequested = true;
}

QString SurveyCore::GetEXEPath() const
{
    return m_programFolder;
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
    if (surveyLog)
        surveyLog->WriteLine(line);
}

void SurveyCore::reportLine(qint64 line, const QString& message, const QString& text)
{
    m_view.showMessage(lineMessage(entryPlace.file, line, message, text));
}

ReadingFile::ReadingFile(SurveyCore& core, const QString& path)
    : m_core(core), m_saved(std::exchange(core.entryPlace, EntryPlace{QFileInfo(path).fileName()}))
{
}

void SurveyCore::pumpEvents()
{
    if (eventPumpIntervalMs > 0 && m_sincePump.elapsed() < eventPumpIntervalMs)
        return;
    m_view.processEvents();
    m_sincePump.restart();
}

QDateTime SurveyCore::now() const
{
    return m_host.clock().localNow();
}

} // namespace kestrove
