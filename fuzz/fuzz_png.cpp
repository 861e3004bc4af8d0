// Large PNGs read row by row and averaged down as they come.

#include "fuzz/picturefile.h"
#include "picture/pngdecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    QImage image;
    const picture::PngResult result =
        picture::decodePngReduced(inputFile(data, size), QSize(40, 20), &image);
    if (result == picture::PngResult::Decoded && image.isNull())
        std::abort();
    return 0;
}
