// HEIC/HEIF and AVIF through libheif: primary image or thumbnail, turned.

#include "fuzz/picturefile.h"
#include "picture/heifdecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    QImage image;
    const picture::HeifResult result =
        picture::decodeHeif(inputFile(data, size), QSize(400, 200), &image);
    if (result == picture::HeifResult::Decoded && image.isNull())
        std::abort();
    return 0;
}
