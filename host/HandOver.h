#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

namespace kestrove {

// The "runplanonce.txt" a plan was started from, as a plan executor remembers it. The run loop
// deletes the file at the top of every pass and writes a new one for the next plan, so a plan's chain
// script may take effect only while its own hand-over is still in place: a marker left later would be
// taken for the next plan's. An executor takes the hand-over when it starts the plan and asks
// `whyNotInPlace` just before it runs the chain script.
//
// The file is held open while remembered, so that its inode cannot pass to a new file written in the
// same instant: device and inode, size, modification time and content together tell the file apart.
class HandOver
{
public:
    // Opens and reads the file; throws HostError naming it when it cannot.
    static HandOver take(const QString& path);

    HandOver(HandOver&& other) noexcept;
    HandOver& operator=(HandOver&& other) noexcept;
    HandOver(const HandOver&) = delete;
    HandOver& operator=(const HandOver&) = delete;
    ~HandOver();

    const QString& path() const { return m_path; }
    // The lines the file held when it was taken, without their line ends.
    QStringList lines() const;
    // Empty while the file at the path is the one taken and unchanged; otherwise what became of it
    // ("is gone", "was replaced", "was changed"). Never throws.
    QString whyNotInPlace() const;

private:
    HandOver(int fd, QString path, QByteArray content);

    int m_fd = -1;
    QString m_path;
    QByteArray m_content;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    off_t m_size = 0;
    long long m_modifiedSeconds = 0;
    long m_modifiedNanoseconds = 0;
};

} // namespace kestrove
