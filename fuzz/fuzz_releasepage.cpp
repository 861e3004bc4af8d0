// Every reader of the release page and the two text layouts, on any bytes as
// the transfer control would hand them over. A broken page may only ever be
// refused with ReadError (or RunError from the text helpers).

#include "common/errors.h"
#include "common/releasepage.h"
#include "common/texthelpers.h"

#include <cstdint>
#include <cstdlib>

namespace {

template <typename Read> void guarded(Read read)
{
    try {
        read();
    } catch (const common::RunError &) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString page = common::DecodeUtf8(
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)));
    guarded([&] {
        // Newer is a strict order: never newer than itself, never both ways.
        const QString version = common::PageVersion(page);
        const QStringList parts = version.split(u'.');
        bool a = false, b = false, c = false;
        const int major = parts.value(0).toInt(&a), minor = parts.value(1).toInt(&b),
                  revision = parts.value(2).toInt(&c);
        if (common::IsNewerVersion(version, major, minor, revision))
            std::abort();
        if (a && b && c && common::IsNewerVersion(version, 13, 4, 20)
            && common::IsNewerVersion(common::OwnVersion(13, 4, 20), major, minor, revision))
            std::abort();
    });
    guarded([&] { common::NoticeLogText(common::ChangeLogSection(page)); });
    guarded([&] {
        for (const common::FileEntry &entry : common::FileEntries(page)) {
            // Whatever the list lets through must be a bare name.
            if (entry.fileName.isEmpty() || entry.fileName.contains(QLatin1Char('/'))
                || entry.fileName.contains(QLatin1Char('\\')) || entry.fileName == QStringLiteral("..")
                || common::EntryFileName(entry.displayEntry) != entry.fileName)
                std::abort();
        }
    });
    guarded([&] { common::DialogText(common::ReadPush(page).pushMessage); });
    guarded([&] { common::NoticeLogText(page); });
    guarded([&] { common::DialogText(page); });
    return 0;
}
