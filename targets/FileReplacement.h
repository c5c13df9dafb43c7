#pragma once

#include "host/FileSystem.h"

#include <QString>
#include <optional>

namespace kestrove {

// A file that is written whole: its new content goes to a file of the name of `plainNewPath`
// ("newtargets.txt" for the survey, another for the target editor) beside it, flushed to the
// disk, and then takes the file's place in one rename, with the file's permissions. A symbolic link
// stays in place; the file it names is the one replaced.
class FileReplacement
{
public:
    // Looks at the file now. `plainNewPath` is where the new content goes when the path is not a link.
    FileReplacement(FileSystem& fs, const QString& path, const QString& plainNewPath);

    // The file that is replaced: the path itself, or the end of its chain of links.
    const QString& filePath() const { return m_filePath; }
    const QString& newPath() const { return m_newPath; }
    // The user made it read-only, or the folder its replacement is written in: it is not to be
    // replaced.
    bool readOnly() const { return !m_folderWritable || (m_before && !m_before->writable); }
    // The file is still the one looked at, unchanged (true when the file system cannot tell).
    bool unchanged() const;
    // Puts the new content in the file's place. `synced`: the rename itself reaches the disk before
    // the call returns; a file that is made again whenever it is found old can do without.
    void commit(bool synced = true);

private:
    FileSystem& m_fs;
    QString m_filePath;
    QString m_newPath;
    std::optional<FileStatus> m_before;
    bool m_folderWritable;
};

} // namespace kestrove
