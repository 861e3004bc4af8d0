#include "common/releasesignature.h"

#include <QUrl>

#include <cctype>

#include <sodium.h>

#include <algorithm>

namespace common {

namespace {

constexpr qsizetype kKeyIdBytes = 8;
constexpr qsizetype kSignatureBytes = crypto_sign_BYTES;
constexpr qsizetype kHashHexDigits = 64;
const QByteArray kUntrusted = "untrusted comment: ";
const QByteArray kTrusted = "trusted comment: ";

QByteArray strictBase64(const QByteArray &text, const QString &rule, const QString &what)
{
    const auto decoded =
        QByteArray::fromBase64Encoding(text.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        throw ReadError(rule, QStringLiteral("%1不是有效的 base64 文本").arg(what));
    return *decoded;
}

// Lines without their LF (or CR LF) ends; a last line without an end counts.
QList<QByteArray> lines(const QByteArray &text)
{
    QList<QByteArray> out = text.split('\n');
    if (!out.isEmpty() && out.last().isEmpty())
        out.removeLast();
    for (QByteArray &line : out) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return out;
}

bool verifies(const QByteArray &signature, const QByteArray &message, const QByteArray &key)
{
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char *>(signature.constData()),
                                       reinterpret_cast<const unsigned char *>(message.constData()),
                                       quint64(message.size()),
                                       reinterpret_cast<const unsigned char *>(key.constData()))
           == 0;
}

QString besidePage(const QString &pageAddress, const char *name)
{
    return QUrl(pageAddress).resolved(QUrl(QString::fromLatin1(name))).toString();
}

ReleaseCheck failure(SignatureFault fault, QString reason)
{
    ReleaseCheck check;
    check.fault = fault;
    check.reason = std::move(reason);
    return check;
}

} // namespace

QString ChecksumsAddress(const QString &pageAddress)
{
    return besidePage(pageAddress, kChecksumsName);
}

QString ChecksumsSignatureAddress(const QString &pageAddress)
{
    return besidePage(pageAddress, kChecksumsSignatureName);
}

MinisignKey ReadMinisignKey(const QByteArray &base64Line)
{
    const QByteArray raw = strictBase64(base64Line, QStringLiteral("Key.base64"), QStringLiteral("公钥"));
    if (raw.size() != 2 + kKeyIdBytes + crypto_sign_PUBLICKEYBYTES || !raw.startsWith("Ed"))
        throw ReadError(QStringLiteral("Key.layout"),
                        QStringLiteral("公钥不是 minisign 的 Ed25519 公钥（应为 minisign -G 生成的公钥文件的第二行）"));
    return {raw.mid(2, kKeyIdBytes), raw.mid(2 + kKeyIdBytes)};
}

MinisignSignature ReadMinisignSignature(const QByteArray &file)
{
    const QList<QByteArray> text = lines(file);
    if (text.size() != 4)
        throw ReadError(QStringLiteral("Signature.lines"),
                        QStringLiteral("签名文件应有四行，实有 %1 行").arg(text.size()));
    if (!text[0].startsWith(kUntrusted))
        throw ReadError(QStringLiteral("Signature.untrusted"),
                        QStringLiteral("签名文件第一行不是“untrusted comment: ”开头"));
    if (!text[2].startsWith(kTrusted))
        throw ReadError(QStringLiteral("Signature.trusted"),
                        QStringLiteral("签名文件第三行不是“trusted comment: ”开头"));

    const QByteArray raw = strictBase64(text[1], QStringLiteral("Signature.base64"),
                                        QStringLiteral("签名文件第二行"));
    if (raw.size() != 2 + kKeyIdBytes + kSignatureBytes)
        throw ReadError(QStringLiteral("Signature.layout"),
                        QStringLiteral("签名文件第二行的长度不对（%1 字节）").arg(raw.size()));
    MinisignSignature signature;
    if (raw.startsWith("ED"))
        signature.prehashed = true;
    else if (!raw.startsWith("Ed"))
        throw ReadError(QStringLiteral("Signature.algorithm"),
                        QStringLiteral("签名算法“%1”不是 Ed 或 ED").arg(QString::fromLatin1(raw.left(2).toHex())));
    signature.keyId = raw.mid(2, kKeyIdBytes);
    signature.signature = raw.mid(2 + kKeyIdBytes);
    signature.trustedComment = text[2].mid(kTrusted.size());

    signature.globalSignature = strictBase64(text[3], QStringLiteral("Signature.global"),
                                             QStringLiteral("签名文件第四行"));
    if (signature.globalSignature.size() != kSignatureBytes)
        throw ReadError(QStringLiteral("Signature.global"),
                        QStringLiteral("签名文件第四行的长度不对（%1 字节）")
                            .arg(signature.globalSignature.size()));
    return signature;
}

QList<ChecksumLine> ReadChecksums(const QByteArray &file)
{
    QList<ChecksumLine> out;
    int number = 0;
    for (const QByteArray &line : lines(file)) {
        ++number;
        const QByteArray hex = line.left(kHashHexDigits);
        const QByteArray mark = line.mid(kHashHexDigits, 2);
        bool hexOnly = hex.size() == kHashHexDigits;
        for (const char c : hex)
            hexOnly = hexOnly && std::isxdigit(static_cast<unsigned char>(c));
        if (!hexOnly || (mark != "  " && mark != " *") || line.size() == kHashHexDigits + 2)
            throw ReadError(QStringLiteral("Checksums.line"),
                            QStringLiteral("SHA256SUMS 第 %1 行不是“64 位十六进制校验值、两个空格、文件名”")
                                .arg(number));
        const QString name = QString::fromUtf8(line.mid(kHashHexDigits + 2));
        out.append({QByteArray::fromHex(hex), name});
    }
    return out;
}

QString ListMismatchReason(const QList<ChecksumLine> &lines, const QStringList &listedFiles)
{
    for (const QString &file : listedFiles) {
        const auto found = std::count_if(lines.begin(), lines.end(),
                                         [&file](const ChecksumLine &line) { return line.name == file; });
        if (found != 1)
            return found == 0 ? QStringLiteral("SHA256SUMS 中没有“%1”").arg(file)
                              : QStringLiteral("SHA256SUMS 中“%1”出现了 %2 次").arg(file).arg(found);
    }
    // A signed file the page does not list would be left out of the update:
    // new files beside old ones are a release nobody built.
    for (const ChecksumLine &line : lines) {
        if (!listedFiles.contains(line.name))
            return QStringLiteral("发布页的文件列表中没有 SHA256SUMS 里的“%1”").arg(line.name);
    }
    return QString();
}

ReleaseCheck VerifyRelease(const QString &keyLine, const QByteArray &checksums,
                           const QByteArray &signatureFile, const QString &version,
                           const QStringList &listedFiles)
{
    if (sodium_init() < 0)
        return failure(SignatureFault::BadSignature, QStringLiteral("无法初始化校验库"));
    MinisignKey key;
    try {
        key = ReadMinisignKey(keyLine.toLatin1());
    } catch (const ReadError &error) {
        return failure(SignatureFault::BadKey, error.message());
    }
    MinisignSignature signature;
    QList<ChecksumLine> lines;
    try {
        signature = ReadMinisignSignature(signatureFile);
        lines = ReadChecksums(checksums);
    } catch (const ReadError &error) {
        return failure(SignatureFault::Unreadable, error.message());
    }

    if (signature.keyId != key.keyId)
        return failure(SignatureFault::OtherKey,
                       QStringLiteral("SHA256SUMS 不是用本程序的发布密钥签名的（密钥编号不符）"));
    QByteArray signedBytes = checksums;
    if (signature.prehashed) {
        signedBytes.resize(crypto_generichash_BYTES_MAX);
        crypto_generichash(reinterpret_cast<unsigned char *>(signedBytes.data()),
                           size_t(signedBytes.size()),
                           reinterpret_cast<const unsigned char *>(checksums.constData()),
                           quint64(checksums.size()), nullptr, 0);
    }
    if (!verifies(signature.signature, signedBytes, key.key))
        return failure(SignatureFault::BadSignature,
                       QStringLiteral("SHA256SUMS 的签名不对：文件在签名后被改过，或签名不属于它"));
    if (!verifies(signature.globalSignature, signature.signature + signature.trustedComment, key.key))
        return failure(SignatureFault::BadSignature,
                       QStringLiteral("签名文件的可信注释在签名后被改过"));

    const QByteArray expected = "Mosalune " + version.toUtf8();
    if (signature.trustedComment != expected)
        return failure(SignatureFault::OtherVersion,
                       QStringLiteral("签名是给“%1”的，不是给本次发布“%2”的")
                           .arg(QString::fromUtf8(signature.trustedComment),
                                QString::fromUtf8(expected)));

    ReleaseCheck check;
    check.reason = ListMismatchReason(lines, listedFiles);
    if (!check.reason.isEmpty()) {
        check.fault = SignatureFault::ListMismatch;
        return check;
    }
    for (const ChecksumLine &line : std::as_const(lines))
        check.sha256.insert(line.name, line.sha256);
    return check;
}

} // namespace common
