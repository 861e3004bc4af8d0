// DecodeUtf8 on any bytes, and RemoveAll with a pattern taken from the input:
// the text is the input up to the first 0xFF byte, the pattern what follows.
// Checks what must hold for every input, beyond not crashing or hanging.

#include "common/errors.h"
#include "common/texthelpers.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QString decoded = common::DecodeUtf8(bytes);
    // Well-formed UTF-8 comes back unchanged.
    if (QString::fromUtf8(bytes).toUtf8() == bytes && decoded.toUtf8() != bytes)
        std::abort();

    const qsizetype cut = bytes.indexOf('\xff');
    QString text = common::DecodeUtf8(cut < 0 ? bytes : bytes.left(cut));
    const QString pattern = cut < 0 ? QString() : common::DecodeUtf8(bytes.mid(cut + 1));
    try {
        common::RemoveAll(text, pattern);
    } catch (const common::RunError &) {
        if (!pattern.isEmpty())
            std::abort(); // only the empty pattern is refused
        return 0;
    }
    if (text.contains(pattern))
        std::abort(); // nothing of the pattern may be left
    return 0;
}
