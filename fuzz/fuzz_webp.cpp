// Still WebP through libwebp, scaled while decoding; the last byte picks
// the EXIF turn that is applied afterwards.

#include "fuzz/picturefile.h"
#include "picture/jpegdecoder.h"
#include "picture/webpdecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const int turn = size ? data[size - 1] % 8 + 1 : 1;
    bool failed = false;
    const QImage image =
        picture::decodeWebpScaled(inputBytes(data, size), QSize(400, 200), turn, &failed);
    if (failed && !image.isNull())
        std::abort();
    if (!image.isNull() && picture::applyOrientation(image, turn).isNull())
        std::abort();
    return 0;
}
