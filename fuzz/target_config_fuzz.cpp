// parseTargetConfig on any config line: items are read or reported, never more messages than items.
#include "FuzzSupport.h"

using namespace kestrove;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Environment& env = fuzz::environment();
    env.view.reset();
    const QString line = QString::fromLatin1(fuzz::bytesOf(data, size));
    const ReadingFile reading(*env.core, QStringLiteral("/program/SLCTargets.txt"));
    env.core->entryPlace.targetLine = 7;
    env.core->entryPlace.configLine = 8;
    fuzz::expectOnlyHostErrors([&] {
        TargetConfig config;
        env.core->parseTargetConfig(line, config);
    });
    FUZZ_CHECK(env.view.messages == 0 || env.view.last.startsWith(QStringLiteral("SLCTargets.txt line 8: ")),
               "a message that does not name the file and the line");
    FUZZ_CHECK(env.view.messages <= line.count(QLatin1Char(' ')) + 1, "more messages than items");
    // A message quotes the line, escaped: at most four characters for each of its bytes.
    FUZZ_CHECK(env.view.longestMessage <= 300 + 8 * static_cast<long>(size), "unbounded message text");
    return 0;
}
