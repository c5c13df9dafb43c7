// LoadConfig on any "config.ini": it loads with at most one message, and what it loaded saves as 33
// lines that load again unchanged and in silence.
#include "FuzzSupport.h"

using namespace kestrove;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Environment& env = fuzz::environment();
    env.view.reset();
    env.write(QStringLiteral("config.ini"), fuzz::bytesOf(data, size));
    fuzz::expectOnlyHostErrors([&] {
        env.core->LoadConfig();
        FUZZ_CHECK(env.view.messages <= 1, "more than one message for one file");
        env.core->SaveConfig();
        QFile saved(env.program + QStringLiteral("config.ini"));
        FUZZ_CHECK(saved.open(QIODevice::ReadOnly), "config.ini not saved");
        const QByteArray bytes = saved.readAll();
        FUZZ_CHECK(bytes.count("\r\n") == 33 && bytes.endsWith("\r\n"), "config.ini is not 33 lines");
        env.view.reset();
        env.core->LoadConfig();
        FUZZ_CHECK(env.view.messages == 0, "a saved config.ini does not read back in silence");
        env.core->SaveConfig();
        QFile again(env.program + QStringLiteral("config.ini"));
        FUZZ_CHECK(again.open(QIODevice::ReadOnly) && again.readAll() == bytes,
                   "a saved config.ini does not read back unchanged");
    });
    QFile::remove(env.program + QStringLiteral("config.ini.bad"));
    return 0;
}
