// createMPSFiles on any "MPSTargets.txt": every area gets a field file, and no area, however
// absurd, writes more fields than the sky holds at the field of view.
#include "FuzzSupport.h"

#include <QDirIterator>
#include <QFileInfo>

using namespace kestrove;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Environment& env = fuzz::environment();
    env.view.reset();
    // A wide field of view keeps a whole-sky area small: 24 columns by 18 rows.
    env.core->settings.fovRAMPS = 900;
    env.core->settings.fovDecMPS = 600;
    for (const QFileInfo& old : QDir(env.program).entryInfoList({QStringLiteral("MPSfov*.txt")}))
        QFile::remove(old.filePath());
    const QByteArray bytes = fuzz::bytesOf(data, size);
    env.write(QStringLiteral("MPSTargets.txt"), bytes);
    fuzz::expectOnlyHostErrors([&] { env.core->createMPSFiles(); });

    qint64 written = 0;
    int files = 0;
    for (const QFileInfo& file : QDir(env.program).entryInfoList({QStringLiteral("MPSfov*.txt")})) {
        written += file.size();
        ++files;
    }
    // An area line, then at most 25 x 19 fields of two lines each, each well under 100 bytes.
    const qint64 bound = static_cast<qint64>(size) * 2 + static_cast<qint64>(files) * (25 * 19 * 2 * 100 + 2);
    FUZZ_CHECK(written <= bound, "a field file beyond what the sky holds");
    return 0;
}
