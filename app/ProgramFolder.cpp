#include "app/ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace kestrove {

QString installedSamplesFolder(const QString& executableFolder)
{
    return QDir::cleanPath(executableFolder + QStringLiteral("/../share/kestrove/samples"));
}

QString defaultProgramFolder(const QString& executableFolder, const QString& dataFolder,
                             bool executableFolderWritable)
{
    const QString samples = installedSamplesFolder(executableFolder);
    const bool installed = QFileInfo(samples).isDir();
    if (!installed && executableFolderWritable)
        return QDir::cleanPath(executableFolder);
    const QString folder = QDir::cleanPath(dataFolder);
    QDir().mkpath(folder);
    if (installed)
        seedMissingFiles(samples, folder);
    return folder;
}

int seedMissingFiles(const QString& from, const QString& to)
{
    int copied = 0;
    const QFileInfoList files = QDir(from).entryInfoList(QDir::Files | QDir::Readable);
    for (const QFileInfo& file : files) {
        const QString target = QDir(to).filePath(file.fileName());
        // exists() follows links and also sees folders: anything of that name is the user's.
        if (QFileInfo::exists(target) || QFileInfo(target).isSymLink())
            continue;
        if (QFile::copy(file.filePath(), target)) {
            // Installed samples are read-only; the user's copies are theirs to edit.
            QFile::setPermissions(target,
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
            ++copied;
        }
    }
    return copied;
}

} // namespace kestrove
