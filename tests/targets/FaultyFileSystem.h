#pragma once

// A file system that fails on purpose: it counts every call on itself, on the files and on the
// streams it hands out, and throws a HostError at the chosen call, either before the call reaches
// the disk or just after it did. It stands in for a crash at any point of a file operation.

#include "host/FileSystem.h"
#include "text/HostError.h"

#include <functional>
#include <memory>

namespace kestrove::test {

class FaultyFileSystem : public FileSystem
{
public:
    enum class When
    {
        Before,
        After
    };

    FaultyFileSystem(FileSystem& inner, int failAt, When when)
        : m_inner(inner), m_failAt(failAt), m_when(when)
    {
    }

    int calls() const { return m_calls; }
    bool failed() const { return m_failed; }
    // Called at the chosen call, before the failure is thrown: what is on the disk then is what a
    // kill -9 at that point would leave.
    std::function<void()> onFailure;

    bool FileExists(const QString& path) override { return m_inner.FileExists(path); }
    std::unique_ptr<File> GetFile(const QString& path) override
    {
        return step(QStringLiteral("GetFile"),
                    [&] { return std::make_unique<FaultyFile>(*this, m_inner.GetFile(path)); });
    }
    std::unique_ptr<TextStream> OpenTextFile(const QString& path, IOMode mode, bool create) override
    {
        return step(QStringLiteral("OpenTextFile"), [&] {
            return std::make_unique<FaultyStream>(*this, m_inner.OpenTextFile(path, mode, create));
        });
    }
    std::unique_ptr<TextStream> CreateTextFile(const QString& path, bool overwrite) override
    {
        return step(QStringLiteral("CreateTextFile"), [&] {
            return std::make_unique<FaultyStream>(*this, m_inner.CreateTextFile(path, overwrite));
        });
    }
    std::optional<FileStatus> Status(const QString& path) override { return m_inner.Status(path); }
    QString ResolvedPath(const QString& path) override { return m_inner.ResolvedPath(path); }
    std::optional<FileWriter> writerOf(const QString& path) override { return m_inner.writerOf(path); }
    void SetPermissions(const QString& path, unsigned permissions) override
    {
        stepVoid(QStringLiteral("SetPermissions"), [&] { m_inner.SetPermissions(path, permissions); });
    }

private:
    template <typename F> auto step(const QString& call, F&& operation) -> decltype(operation())
    {
        const bool fail = ++m_calls == m_failAt;
        if (fail && m_when == When::Before)
            injected(call);
        auto result = operation();
        if (fail)
            injected(call);
        return result;
    }
    template <typename F> void stepVoid(const QString& call, F&& operation)
    {
        step(call, [&] {
            operation();
            return 0;
        });
    }
    [[noreturn]] void injected(const QString& call)
    {
        m_failed = true;
        if (onFailure)
            onFailure();
        throw HostError(call, QString(), QStringLiteral("injected failure"));
    }

    class FaultyStream : public TextStream
    {
    public:
        FaultyStream(FaultyFileSystem& fs, std::unique_ptr<TextStream> inner)
            : m_fs(fs), m_inner(std::move(inner))
        {
        }
        bool AtEndOfStream() override
        {
            return m_fs.step(QStringLiteral("AtEndOfStream"), [&] { return m_inner->AtEndOfStream(); });
        }
        QString ReadLine() override
        {
            return m_fs.step(QStringLiteral("ReadLine"), [&] { return m_inner->ReadLine(); });
        }
        void Write(const QString& text) override
        {
            m_fs.stepVoid(QStringLiteral("Write"), [&] { m_inner->Write(text); });
        }
        void WriteLine(const QString& text) override
        {
            m_fs.stepVoid(QStringLiteral("WriteLine"), [&] { m_inner->WriteLine(text); });
        }
        void Close() override
        {
            m_fs.stepVoid(QStringLiteral("Close"), [&] { m_inner->Close(); });
        }
        bool keepBytes(QByteArray* bytes) override { return m_inner->keepBytes(bytes); }

    private:
        FaultyFileSystem& m_fs;
        std::unique_ptr<TextStream> m_inner;
    };

    class FaultyFile : public File
    {
    public:
        FaultyFile(FaultyFileSystem& fs, std::unique_ptr<File> inner) : m_fs(fs), m_inner(std::move(inner)) {}
        void Delete() override
        {
            m_fs.stepVoid(QStringLiteral("Delete"), [&] { m_inner->Delete(); });
        }
        void Move(const QString& destination) override
        {
            m_fs.stepVoid(QStringLiteral("Move"), [&] { m_inner->Move(destination); });
        }
        void Replace(const QString& destination) override
        {
            m_fs.stepVoid(QStringLiteral("Replace"), [&] { m_inner->Replace(destination); });
        }
        void ReplaceUnsynced(const QString& destination) override
        {
            m_fs.stepVoid(QStringLiteral("Replace"), [&] { m_inner->ReplaceUnsynced(destination); });
        }

    private:
        FaultyFileSystem& m_fs;
        std::unique_ptr<File> m_inner;
    };

    FileSystem& m_inner;
    int m_failAt;
    When m_when;
    int m_calls = 0;
    bool m_failed = false;
};

} // namespace kestrove::test
