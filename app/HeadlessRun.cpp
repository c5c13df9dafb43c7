#include "app/HeadlessRun.h"

namespace kestrove {

int runHeadless(const CommandLine&)
{
    return 1;
}

} // namespace kestrove
