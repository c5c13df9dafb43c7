#include "host/AcquisitionLog.h"

#include "host/LocalFileSystem.h"
#include "text/ValueText.h"

#include <QLoggingCategory>

namespace kestrove {

Q_LOGGING_CATEGORY(lcAcquisitionLog, "kestrove.host.acquisition")

QString acquisitionLogPath(const QString& logDir)
{
    return logDir + QStringLiteral("/AcquireImages.log");
}

void appendAcquisitionLog(const QString& logDir, const QDateTime& utc, const QStringList& fields) noexcept
{
    try {
        LocalFileSystem fs;
        auto stream = fs.OpenTextFile(acquisitionLogPath(logDir), IOMode::ForAppending, true);
        stream->WriteLine(utcInstantText(utc) + u'\t' + fields.join(u'\t'));
        stream->Close();
    } catch (const std::exception& e) {
        qCWarning(lcAcquisitionLog) << "acquisition log:" << e.what();
    }
}

} // namespace kestrove
