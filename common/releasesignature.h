#pragma once

#include "common/errors.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace common {

// A signed release: beside the release page the maker publishes SHA256SUMS
// (sha256sum's own output, one line per file of the page's list) and
// SHA256SUMS.minisig, its minisign signature whose trusted comment is
// "Mosalune <version>". Everything here is pure: the caller fetches the two
// files. The readers throw ReadError; VerifyRelease never throws.

inline constexpr char kChecksumsName[] = "SHA256SUMS";
inline constexpr char kChecksumsSignatureName[] = "SHA256SUMS.minisig";

// The two files' addresses: same site, same folder as the page.
QString ChecksumsAddress(const QString &pageAddress);
QString ChecksumsSignatureAddress(const QString &pageAddress);

// A minisign public key: the base64 line of a minisign.pub file.
struct MinisignKey
{
    QByteArray keyId; // 8 bytes
    QByteArray key;   // 32 bytes, Ed25519
};
MinisignKey ReadMinisignKey(const QByteArray &base64Line);

// A .minisig file: untrusted comment, signature line, trusted comment,
// global signature.
struct MinisignSignature
{
    bool prehashed = false;         // "ED": the signature covers BLAKE2b-512 of the file
    QByteArray keyId;               // 8 bytes
    QByteArray signature;           // 64 bytes
    QByteArray trustedComment;      // after "trusted comment: ", as bytes
    QByteArray globalSignature;     // 64 bytes, over signature || trustedComment
};
MinisignSignature ReadMinisignSignature(const QByteArray &file);

struct ChecksumLine
{
    QByteArray sha256; // 32 bytes
    QString name;
};
// sha256sum's text ("HASH  NAME", or "HASH *NAME" in its binary mode), one
// line per file; a name that sha256sum had to escape is refused.
QList<ChecksumLine> ReadChecksums(const QByteArray &file);

enum class SignatureFault {
    None,
    BadKey,        // the built-in key is not a minisign public key
    Unreadable,    // SHA256SUMS or its signature breaks its format
    OtherKey,      // signed by another key
    BadSignature,  // the signature or the global signature does not verify
    OtherVersion,  // the trusted comment names another release
    ListMismatch,  // the page's list and the signed one do not name the same files once each
};

struct ReleaseCheck
{
    SignatureFault fault = SignatureFault::None;
    QString reason;                     // in Chinese, empty when ok
    QHash<QString, QByteArray> sha256;  // per file of the page's list, 32 bytes each

    bool ok() const { return fault == SignatureFault::None; }
};

// Why the signed lines and the page's list do not name exactly the same
// files, each once; empty when they do.
QString ListMismatchReason(const QList<ChecksumLine> &lines, const QStringList &listedFiles);

// Whether checksums, signed by key for "Mosalune <version>", name exactly
// the files of the page's list, each once.
ReleaseCheck VerifyRelease(const QString &keyLine, const QByteArray &checksums,
                           const QByteArray &signature, const QString &version,
                           const QStringList &listedFiles);

} // namespace common
