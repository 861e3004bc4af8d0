// The JPEG path on any bytes: shrunk in the DCT, cut into restart bands and
// decoded on two threads, turned by EXIF. A picture or a refusal, no more.

#include "fuzz/picturefile.h"
#include "picture/jpegdecoder.h"

#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString path = inputFile(data, size);
    const picture::Decoded decoded = picture::decodeJpegUpright(path, QSize(400, 200), 2);
    const bool picture = decoded.status == picture::Decoded::Status::Decoded;
    if (picture == decoded.image.isNull()
        || (picture && (decoded.image.width() < 1 || decoded.image.height() < 1)))
        std::abort();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        std::abort();
    const picture::RestartPlan plan = picture::restartBands(file.handle(), 3);
    qint64 at = plan.header.size();
    int row = 0;
    for (const picture::RestartBand &band : plan.bands) {
        // Bands follow each other in the file and in the picture.
        if (band.begin < at || band.end < band.begin || band.firstRow != row || band.rows <= 0
            || plan.heightAt < 0 || plan.heightAt + 2 > plan.header.size())
            std::abort();
        at = band.end;
        row += band.rows;
    }
    return 0;
}
