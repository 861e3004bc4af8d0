#include "platform/picturechild.h"

#include <sys/resource.h>
#include <csignal>
#ifdef __linux__
#include <sys/prctl.h>
#endif

// AddressSanitizer reserves terabytes of address space up front; a data
// limit would stop it before main(). Its own allocator limits apply there.
#if defined(__SANITIZE_ADDRESS__)
#define MOSALUNE_NO_MEMORY_LIMIT 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MOSALUNE_NO_MEMORY_LIMIT 1
#endif
#endif

namespace platform {

void limitPictureChild(const PictureChildLimits &limits)
{
#ifdef __linux__
    // A child whose window has gone has no one to play for.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
    if (limits.cpuSeconds > 0) {
        const rlimit cpu{rlim_t(limits.cpuSeconds), rlim_t(limits.cpuSeconds) + 1};
        setrlimit(RLIMIT_CPU, &cpu);
    }
#ifndef MOSALUNE_NO_MEMORY_LIMIT
    if (limits.memoryBytes > 0) {
        const rlimit data{rlim_t(limits.memoryBytes), rlim_t(limits.memoryBytes)};
        setrlimit(RLIMIT_DATA, &data);
    }
#endif
}

} // namespace platform
