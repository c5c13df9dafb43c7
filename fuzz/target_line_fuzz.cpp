// parseTarget with the host's sexagesimal conversions on any target line of a targets file: a
// position is finite, or the line is refused with one message that names the file and the line.
// Nothing the line holds may end the night: no error escapes.
#include "FuzzSupport.h"

#include <cmath>

using namespace kestrove;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Environment& env = fuzz::environment();
    env.view.reset();
    const QString line = QString::fromLatin1(fuzz::bytesOf(data, size));
    const ReadingFile reading(*env.core, QStringLiteral("/program/SNeTargets.txt"));
    env.core->entryPlace.targetLine = 41;
    env.core->entryPlace.configLine = 42;
    QString name;
    float ra = 0;
    float dec = 0;
    try {
        if (env.core->parseTarget(line, name, ra, dec)) {
            FUZZ_CHECK(line.startsWith(name), "a name that is not the line's start");
            FUZZ_CHECK(!std::isnan(ra) && !std::isnan(dec), "a NaN position");
        } else {
            FUZZ_CHECK(env.view.messages == 1, "a refused line without a message");
            FUZZ_CHECK(env.view.last.startsWith(QStringLiteral("SNeTargets.txt line 41: ")),
                       "a message that does not name the file and the line");
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "a target line ended the night: %s\n", e.what());
        std::abort();
    }
    FUZZ_CHECK(env.view.messages <= 1, "more than one message for a line");
    return 0;
}
