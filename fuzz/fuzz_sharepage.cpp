// The share-page reader on any bytes: an address or ReadError, nothing else.

#include "common/errors.h"
#include "common/releasepage.h"
#include "common/texthelpers.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString page = common::DecodeUtf8(
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)));
    try {
        if (common::DirectAddress(page).trimmed().isEmpty())
            std::abort(); // an empty address is refused, never handed on
    } catch (const common::RunError &) {
    }
    return 0;
}
