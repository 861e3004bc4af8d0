#include "platform/skinlibrary.h"

#include <QFile>

#include <elf.h>

#include <cstring>

namespace platform {

namespace {

template<typename Header, typename ProgramHeader>
bool elfComplete(const QByteArray &bytes)
{
    const auto size = static_cast<quint64>(bytes.size());
    if (size < sizeof(Header))
        return false;
    Header header;
    std::memcpy(&header, bytes.constData(), sizeof header);
    const quint64 programEnd = quint64(header.e_phoff) + quint64(header.e_phnum) * header.e_phentsize;
    if (header.e_phentsize != sizeof(ProgramHeader) || programEnd > size)
        return false;
    if (header.e_shnum != 0
        && quint64(header.e_shoff) + quint64(header.e_shnum) * header.e_shentsize > size)
        return false;
    for (int i = 0; i < header.e_phnum; ++i) {
        ProgramHeader segment;
        std::memcpy(&segment, bytes.constData() + header.e_phoff + quint64(i) * sizeof segment,
                    sizeof segment);
        if (segment.p_type == PT_LOAD && quint64(segment.p_offset) + segment.p_filesz > size)
            return false;
    }
    return true;
}

} // namespace

// The system loader maps a library's segments straight from the file; a
// segment that reaches past the end of a cut-off file is only noticed when
// touched, and then kills the process instead of failing the load.
bool libraryFileComplete(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    if (bytes.size() < EI_NIDENT || std::memcmp(bytes.constData(), ELFMAG, SELFMAG) != 0)
        return false;
    switch (bytes[EI_CLASS]) {
    case ELFCLASS64:
        return elfComplete<Elf64_Ehdr, Elf64_Phdr>(bytes);
    case ELFCLASS32:
        return elfComplete<Elf32_Ehdr, Elf32_Phdr>(bytes);
    default:
        return false;
    }
}

} // namespace platform
