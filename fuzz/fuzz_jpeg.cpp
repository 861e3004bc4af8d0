// The JPEG path on any bytes: shrunk in the DCT, cut into restart bands and
// decoded on two threads, turned by EXIF. A picture or a refusal, no more.

#include "fuzz/picturefile.h"
#include "picture/jpegdecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString path = inputFile(data, size);
    bool refused = false;
    const QImage image = picture::decodeJpegUpright(path, QSize(400, 200), 2, &refused);
    if (!image.isNull() && (refused || image.width() < 1 || image.height() < 1))
        std::abort();
    for (const QByteArray &band : picture::restartBands(inputBytes(data, size), 3))
        if (band.isEmpty())
            std::abort(); // a band is a whole JPEG of its own
    return 0;
}
