#pragma once

#include "core/SurveyCore.h"
#include "core/SurveyView.h"
#include "host/sim/SimObservatory.h"
#include "settings/ObservatorySettings.h"
#include "text/HostError.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

namespace kestrove::fuzz {

// What must hold, or the input is a finding: libFuzzer keeps it and reports it.
#define FUZZ_CHECK(condition, what)                                                                          \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", what, __FILE__, __LINE__);               \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (0)

// Counts what the core shows instead of showing it; a message must say something and be bounded.
class CountingView : public SurveyView
{
public:
    void showStatus(const QString&) override {}
    void showMessage(const QString& text) override
    {
        FUZZ_CHECK(!text.isEmpty(), "an empty message");
        // Whatever the file held, a message shows it escaped: no carriage return, NUL or other
        // control character (a line break only where the message itself starts a paragraph).
        for (const QChar c : text)
            FUZZ_CHECK(c == QLatin1Char('\n') || (c.unicode() >= 0x20 && c.unicode() != 0x7f),
                       "an unprintable character in a message");
        last = text;
        ++messages;
        longestMessage = std::max<long>(longestMessage, text.size());
    }
    bool isKindChecked(SurveyKind) override { return false; }
    QString weightText(SurveyKind) override { return QStringLiteral("100"); }
    void processEvents() override {}
    void showRunning(bool) override {}

    void reset()
    {
        messages = 0;
        longestMessage = 0;
    }

    long messages = 0;
    long longestMessage = 0;
    QString last;
};

// A survey core on the simulated observatory in virtual time, in a scratch folder that lives as long
// as the fuzzing process. Built once: every input reuses it.
struct Environment
{
    Environment()
    {
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char name[] = "fuzz";
            static char* argv[] = {name, nullptr};
            static QCoreApplication app(argc, argv);
        }
        program = dir.path() + QStringLiteral("/program/");
        observatoryFolder = dir.path() + QStringLiteral("/observatory");
        QDir().mkpath(program);
        ObservatorySettings s = observatoryDefaults(observatoryFolder);
        s.clockStart = QStringLiteral("2026-12-07T23:00:00Z");
        s.clockSpeed = 0;
        host = std::make_unique<sim::SimObservatory>(observatoryFolder, s);
        core = std::make_unique<SurveyCore>(*host, view, program);
        core->eventPumpIntervalMs = 0;
        core->load();
    }

    void write(const QString& name, const QByteArray& bytes) const
    {
        QFile file(program + name);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "cannot write a scratch file");
        file.write(bytes);
    }

    // In memory where the machine has it: the file operations of an input, with their syncs, are
    // then cheap enough for millions of inputs.
    QTemporaryDir dir{QDir(QStringLiteral("/dev/shm")).exists()
                          ? QStringLiteral("/dev/shm/kestrove-fuzz-XXXXXX")
                          : QDir::tempPath() + QStringLiteral("/kestrove-fuzz-XXXXXX")};
    QString program;
    QString observatoryFolder;
    std::unique_ptr<sim::SimObservatory> host;
    CountingView view;
    std::unique_ptr<SurveyCore> core;
};

inline Environment& environment()
{
    static Environment env;
    return env;
}

inline QByteArray bytesOf(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// Runs one input: a HostError with a message is an answer; any other exception is a finding.
template <typename Body> void expectOnlyHostErrors(Body&& body)
{
    try {
        body();
    } catch (const HostError& e) {
        FUZZ_CHECK(!e.message().isEmpty(), "a HostError without a message");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "not a HostError: %s\n", e.what());
        std::abort();
    }
}

} // namespace kestrove::fuzz
