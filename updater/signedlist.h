#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace common {
class Inet;
}

namespace mslupdate {

// The maker's signed SHA-256 list of the release being installed. In a
// build that carries a release key nothing is put in place unless the list
// is signed with it for the page's version and every downloaded body has its
// line's hash; an unsigned build (empty key) checks nothing.
class SignedList
{
public:
    // Fetches SHA256SUMS and SHA256SUMS.minisig beside the page (through
    // inet, with the limits of pages) and verifies them against key for the
    // page's version and file list. Throws RunError when they do not verify.
    void load(common::Inet &inet, const QString &key, const QString &pageAddress,
              const QString &page);

    // Whether the body of the list's file i hashed to sha256; always true
    // in an unsigned build.
    bool matches(int i, const QByteArray &sha256) const;

private:
    bool m_signed = false;
    QList<QByteArray> m_expected; // in page order
};

} // namespace mslupdate
