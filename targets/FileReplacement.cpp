#include "targets/FileReplacement.h"

#include <QFileInfo>

namespace kestrove {

FileReplacement::FileReplacement(FileSystem& fs, const QString& path, const QString& plainNewPath)
    : m_fs(fs), m_filePath(fs.ResolvedPath(path)),
      // Beside the file it replaces, so that the rename stays within one file system.
      m_newPath(m_filePath == path
                    ? plainNewPath
                    : QFileInfo(m_filePath).absolutePath() + u'/' + QFileInfo(plainNewPath).fileName()),
      m_before(fs.Status(m_filePath)),
      m_folderWritable(QFileInfo(QFileInfo(m_newPath).absolutePath()).isWritable())
{
}

bool FileReplacement::unchanged() const
{
    if (!m_before)
        return true;
    const std::optional<FileStatus> now = m_fs.Status(m_filePath);
    return now && now->sameAs(*m_before);
}

void FileReplacement::commit(bool synced)
{
    if (m_before)
        m_fs.SetPermissions(m_newPath, m_before->permissions);
    auto file = m_fs.GetFile(m_newPath);
    if (synced)
        file->Replace(m_filePath);
    else
        file->ReplaceUnsynced(m_filePath);
}

} // namespace kestrove
