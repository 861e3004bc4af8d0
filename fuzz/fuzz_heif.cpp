// HEIC/HEIF and AVIF through libheif: primary image or thumbnail, turned.

#include "picturefile.h"
#include "picture/heifdecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const picture::Decoded result = picture::decodeHeif(inputFile(data, size), QSize(400, 200));
    if ((result.status == picture::Decoded::Status::Decoded) == result.image.isNull())
        std::abort();
    return 0;
}
