// Metafiles as the window plays them: in a child of this program under its
// limits. Whatever the players do with an input (hang, swell, crash), this
// process gets the picture at the box's size or the one refusal. The child
// is this same program, started with the child's arguments.

#include "picturefile.h"
#include "picture/picturechild.h"

#include <QCoreApplication>

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    if (const auto status = picture::runPictureChild(*argc, *argv))
        std::_Exit(*status);
    // The children: no leak reports (a killed player leaks by design), and
    // AddressSanitizer's own ceiling in place of the memory limit it cannot
    // take.
    setenv("ASAN_OPTIONS", "detect_leaks=0:hard_rss_limit_mb=1024:allocator_may_return_null=1", 1);
    picture::PictureChildLimits limits;
    limits.wallMilliseconds = 3000;
    picture::setPictureChildLimits(limits);
    makeApplication<QCoreApplication>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    loadIntoTheBox(data, size);
    return 0;
}
