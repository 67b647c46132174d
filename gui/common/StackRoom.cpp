#include "gui/common/StackRoom.h"

#if defined(__unix__) || defined(__APPLE__)
#include <sys/resource.h>
#endif

namespace qv {

void widenStack()
{
#if defined(__unix__) || defined(__APPLE__)
    // The kernel leaves at least 128 MiB between the main stack and the
    // mappings below it, so the stack may grow that far once allowed.
    constexpr rlim_t kWanted = rlim_t(120) << 20;
    rlimit limit{};
    if (getrlimit(RLIMIT_STACK, &limit) != 0)
        return;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur >= kWanted)
        return;
    if (limit.rlim_cur == RLIM_INFINITY)
        return;
    rlim_t wanted = kWanted;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < wanted)
        wanted = limit.rlim_max;
    limit.rlim_cur = wanted;
    setrlimit(RLIMIT_STACK, &limit);
#endif
}

} // namespace qv
