#include "updater/signedlist.h"

#include "common/inet.h"
#include "common/releasepage.h"
#include "common/releasesignature.h"

#include <QDebug>

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
    // The user is only asked whether to fetch the release by hand; the
    // reason is for whoever reads the updater's output.
    const auto fetch = [&inet](const QString &address) {
        try {
            return inet.fetchBytes(address);
        } catch (const common::TransferError &error) {
            qWarning().noquote() << QStringLiteral("无法取得 %1：%2").arg(address, error.message());
            throw;
        }
    };
    const QByteArray checksums = fetch(common::ChecksumsAddress(pageAddress));
    const QByteArray signature = fetch(common::ChecksumsSignatureAddress(pageAddress));
    const common::ReleaseCheck check =
        common::VerifyRelease(key, checksums, signature, common::PageVersion(page), names);
    if (!check.ok()) {
        qWarning().noquote() << QStringLiteral("更新文件的签名校验失败：") + check.reason;
        throw common::RunError(check.reason);
    }
    for (const QString &name : std::as_const(names))
        m_expected << check.sha256.value(name);
}

bool SignedList::matches(int i, const QByteArray &sha256) const
{
    if (!m_signed)
        return true;
    const bool same = i >= 0 && i < m_expected.size() && m_expected.at(i) == sha256;
    if (!same)
        qWarning().noquote() << QStringLiteral("第 %1 个更新文件的 SHA-256 与签名的列表不符").arg(i + 1);
    return same;
}

} // namespace mslupdate
