#include "updater/signedlist.h"

#include "common/inet.h"
#include "common/releasepage.h"
#include "common/releasesignature.h"

namespace mslupdate {

void SignedList::load(common::Inet &inet, const QString &key, const QString &pageAddress,
                      const QString &page)
{
    m_signed = !key.isEmpty();
    m_expected.clear();
    inet.setHashBodies(m_signed);
    if (!m_signed)
        return;
    const QList<common::FileEntry> entries = common::FileEntries(page);
    QStringList names;
    for (const common::FileEntry &entry : entries)
        names << entry.fileName;
    const QByteArray checksums = common::fetchNamedBytes(inet, common::ChecksumsAddress(pageAddress));
    const QByteArray signature =
        common::fetchNamedBytes(inet, common::ChecksumsSignatureAddress(pageAddress));
    const common::ReleaseCheck check =
        common::VerifyRelease(key, checksums, signature, common::PageVersion(page), names);
    if (!check.ok())
        throw common::RunError(QStringLiteral("更新文件的签名校验失败：") + check.reason);
    for (const QString &name : std::as_const(names))
        m_expected << check.sha256.value(name);
}

bool SignedList::matches(int i, const QByteArray &sha256) const
{
    if (!m_signed)
        return true;
    return i >= 0 && i < m_expected.size() && m_expected.at(i) == sha256;
}

} // namespace mslupdate
