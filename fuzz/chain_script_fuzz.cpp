// The chain-script interpreter on any script: it understands the completion script's shape or
// refuses the script, naming it, before any effect.
#include "FuzzSupport.h"
#include "host/ChainScript.h"

using namespace kestrove;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString scriptPath = QStringLiteral("/program/completed.vbs");
    try {
        const ChainEffect effect = parseChainScript(scriptPath, fuzz::bytesOf(data, size));
        FUZZ_CHECK(!effect.path.isEmpty(), "an effect without a file");
        FUZZ_CHECK(effect.text.size() <= static_cast<qsizetype>(size), "an effect longer than the script");
    } catch (const HostError& e) {
        FUZZ_CHECK(e.message().contains(scriptPath), "an error that does not name the script");
    }
    return 0;
}
