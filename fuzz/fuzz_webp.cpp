// Still WebP through libwebp, scaled while decoding; the last byte picks
// the EXIF turn that it applies.

#include "picturefile.h"
#include "picture/webpdecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const int turn = size ? data[size - 1] % 8 + 1 : 1;
    const picture::Decoded result =
        picture::decodeWebpScaled(inputBytes(data, size), QSize(400, 200), turn);
    if ((result.status == picture::Decoded::Status::Decoded) == result.image.isNull())
        std::abort();
    return 0;
}
