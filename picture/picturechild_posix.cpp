#include "picture/picturechild.h"

#include <QCoreApplication>
#include <QFile>

#include <sys/resource.h>
#include <sys/stat.h>
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

namespace picture {

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

QString pictureChildProgram()
{
    const QString named = QCoreApplication::applicationFilePath();
    // An update may have renamed a new program over this one's name; the
    // kernel's link still reaches the file this process runs.
    const char self[] = "/proc/self/exe";
    struct stat running = {};
    struct stat onDisk = {};
    if (::stat(self, &running) != 0)
        return named;
    if (::stat(QFile::encodeName(named).constData(), &onDisk) == 0 && onDisk.st_dev == running.st_dev
        && onDisk.st_ino == running.st_ino)
        return named;
    return QString::fromLatin1(self);
}

} // namespace picture
