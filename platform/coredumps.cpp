#include "platform/coredumps.h"

#include <QString>

#include <sys/prctl.h>

void keepCardDataOutOfCoreDumps()
{
#ifdef NDEBUG
    if (qEnvironmentVariable("TARNAVEL_CORE_DUMPS") == QLatin1String("1"))
        return;
    // Not dumpable: no core file, and no other process of the user may read this one's memory.
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}
