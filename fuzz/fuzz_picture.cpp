// The whole loader on any bytes, the way the window calls it: exactly the
// box's size, or the one refusal. Metafiles are left out here: they are
// played in a child process (fuzz_metafile).

#include "picturefile.h"
#include "picture/metafile.h"

#include <QGuiApplication>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    makeApplication<QGuiApplication>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (picture::metafileKind(inputBytes(data, size).left(64)) != picture::MetafileKind::None)
        return 0;
    loadIntoTheBox(data, size);
    return 0;
}
