// The readers of a signed release's two files, SHA256SUMS.minisig and
// SHA256SUMS, on any bytes as the transfer control would hand them over, and
// the whole check with a fixed key. Broken files may only be refused with
// ReadError; the check must never pass bytes that no key signed.

#include "common/errors.h"
#include "common/releasesignature.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    try {
        const common::MinisignSignature signature = common::ReadMinisignSignature(bytes);
        if (signature.keyId.size() != 8 || signature.signature.size() != 64
            || signature.globalSignature.size() != 64)
            std::abort();
    } catch (const common::ReadError &) {
    }
    try {
        const QList<common::ChecksumLine> lines = common::ReadChecksums(bytes);
        QStringList names;
        for (const common::ChecksumLine &line : lines) {
            if (line.sha256.size() != 32)
                std::abort();
            names << line.name;
        }
        // The list of the very names matches exactly when none repeats; one
        // name short, or one more, never does.
        names.removeDuplicates();
        if (common::ListMismatchReason(lines, names).isEmpty() != (names.size() == lines.size()))
            std::abort();
        if (!names.isEmpty()
            && (common::ListMismatchReason(lines, names.mid(1)).isEmpty()
                || common::ListMismatchReason(lines, names + QStringList{names.first() + u'x'}).isEmpty()))
            std::abort();
    } catch (const common::ReadError &) {
    }
    // The input as the signature of an empty list: no secret key is at hand
    // here, so nothing may verify.
    if (common::VerifyRelease(QStringLiteral("RWQXtUniN19Gc+XK/tMKezieaXrF1PUJSlnEDz3mckznfEkW2M6eULJA"),
                              QByteArray(), bytes, QStringLiteral("13.04.21"), {})
            .ok())
        std::abort();
    return 0;
}
