// parseTargetConfig on any config line: items are read or reported, never more messages than items.
#include "FuzzSupport.h"

using namespace kestrove;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Environment& env = fuzz::environment();
    env.view.reset();
    const QString line = QString::fromLatin1(fuzz::bytesOf(data, size));
    fuzz::expectOnlyHostErrors([&] {
        TargetConfig config;
        env.core->parseTargetConfig(line, config);
    });
    FUZZ_CHECK(env.view.messages <= line.count(QLatin1Char(' ')) + 1, "more messages than items");
    FUZZ_CHECK(env.view.messageChars <= 200 + 8 * static_cast<long>(size), "unbounded message text");
    return 0;
}
