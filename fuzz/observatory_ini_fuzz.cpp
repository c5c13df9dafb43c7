// The "observatory.ini" reader on any file: it reads settings within their ranges, or stops with
// a HostError that names the file.
#include "FuzzSupport.h"

#include <cmath>

using namespace kestrove;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Environment& env = fuzz::environment();
    const QString folder = env.dir.path() + QStringLiteral("/ini");
    QDir().mkpath(folder);
    {
        QFile file(observatoryIniPath(folder));
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "cannot write observatory.ini");
        file.write(fuzz::bytesOf(data, size));
    }
    try {
        const ObservatorySettings s = readObservatorySettings(folder);
        FUZZ_CHECK(s.latitude >= -90 && s.latitude <= 90, "latitude out of range");
        FUZZ_CHECK(std::isfinite(s.slewRate) && s.slewRate > 0, "a slew rate that cannot move the mount");
        FUZZ_CHECK(s.clockSpeed >= 0 && std::isfinite(s.clockSpeed), "a clock speed out of range");
        FUZZ_CHECK(!s.planDir.isEmpty() && !s.logDir.isEmpty(), "an empty folder");
        FUZZ_CHECK(!s.moonSeparation || (*s.moonSeparation >= 0 && *s.moonSeparation <= 180),
                   "a Moon separation out of range");
        // Every line it did not use is reported once, by its number, escaped.
        FUZZ_CHECK(s.notes.size() <= fuzz::bytesOf(data, size).count('\n') + 1, "more notes than lines");
        for (const QString& note : s.notes) {
            FUZZ_CHECK(note.startsWith(QStringLiteral("observatory.ini line ")), "a note without its line");
            for (const QChar c : note)
                FUZZ_CHECK(c.unicode() >= 0x20 && c.unicode() != 0x7f, "an unprintable character in a note");
        }
    } catch (const HostError& e) {
        FUZZ_CHECK(e.message().contains(QStringLiteral("observatory.ini")),
                   "an error that does not name the file");
    }
    return 0;
}
