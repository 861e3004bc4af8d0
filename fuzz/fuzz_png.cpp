// Large PNGs read row by row and averaged down as they come.

#include "picturefile.h"
#include "picture/pngdecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const picture::Decoded result = picture::decodePngReduced(inputFile(data, size), QSize(40, 20));
    if ((result.status == picture::Decoded::Status::Decoded) == result.image.isNull())
        std::abort();
    return 0;
}
