// parseTarget with the host's sexagesimal conversions on any target line: a position is finite or
// the line is refused with one message or a HostError.
#include "FuzzSupport.h"

#include <cmath>

using namespace kestrove;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Environment& env = fuzz::environment();
    env.view.reset();
    const QString line = QString::fromLatin1(fuzz::bytesOf(data, size));
    fuzz::expectOnlyHostErrors([&] {
        QString name;
        float ra = 0;
        float dec = 0;
        if (env.core->parseTarget(line, name, ra, dec)) {
            FUZZ_CHECK(line.startsWith(name), "a name that is not the line's start");
            FUZZ_CHECK(!std::isnan(ra) && !std::isnan(dec), "a NaN position");
        } else {
            FUZZ_CHECK(env.view.messages >= 1, "a refused line without a message");
        }
    });
    FUZZ_CHECK(env.view.messages <= 1, "more than one message for a line");
    return 0;
}
