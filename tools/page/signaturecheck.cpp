#include "signaturecheck.h"

#include "common/inet.h"
#include "common/releasesignature.h"

#include <QEventLoop>
#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QUrl>

namespace pagetool {

namespace {

bool isAddress(const QString &where)
{
    return where.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
           || where.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

// A file's SHA-256 as the updater takes it: hashed while it streams in.
QByteArray downloadedSha256(common::Inet &inet, const QString &address, QString *error)
{
    QEventLoop loop;
    auto outcome = common::Inet::Outcome::Failed;
    const auto connection = QObject::connect(&inet, &common::Inet::finished, &loop,
                                             [&](common::Inet::Outcome o) { outcome = o; loop.quit(); });
    inet.setHashBodies(true);
    inet.startDownload(address);
    loop.exec();
    QObject::disconnect(connection);
    QFile::remove(inet.releaseBodyFile());
    if (outcome != common::Inet::Outcome::Completed)
        *error = inet.lastError();
    return outcome == common::Inet::Outcome::Completed ? inet.bodySha256() : QByteArray();
}

} // namespace

SignatureReport checkSignature(common::Inet &inet,
                               const std::function<QByteArray(const QString &)> &fetch,
                               const QString &pageWhere, const PageReport &report,
                               const QString &key)
{
    SignatureReport out;
    if (!report.version || !report.files) {
        out.problems << QStringLiteral("页面的版本或文件列表读取失败，无法校验签名。");
        return out;
    }
    const auto beside = [&](const char *name) {
        const QString file = QString::fromLatin1(name);
        return isAddress(pageWhere) ? QUrl(pageWhere).resolved(QUrl(file)).toString()
                                    : QFileInfo(pageWhere).absoluteDir().filePath(file);
    };
    QByteArray checksums;
    QByteArray signature;
    for (auto [name, bytes] : {std::pair{common::kChecksumsName, &checksums},
                               std::pair{common::kChecksumsSignatureName, &signature}}) {
        try {
            *bytes = fetch(beside(name));
        } catch (const common::RunError &error) {
            out.problems << QStringLiteral("无法取得 %1：%2").arg(beside(name), error.message());
            return out;
        }
    }
    QStringList names;
    for (const common::FileEntry &entry : *report.files)
        names << entry.fileName;
    const common::ReleaseCheck check =
        common::VerifyRelease(key, checksums, signature, *report.version, names);
    if (!check.ok()) {
        out.problems << check.reason;
        return out;
    }
    out.verified << QStringLiteral("SHA256SUMS 由该密钥为“Mosalune %1”签名，页面的 %2 个文件各有一行。")
                        .arg(*report.version)
                        .arg(names.size());
    for (qsizetype i = 0; i < report.resolved.size() && i < names.size(); ++i) {
        const Resolved &one = report.resolved.at(i);
        if (!one.direct) {
            out.problems << QStringLiteral("“%1”：没有下载地址，无法比对 SHA-256。").arg(names.at(i));
            continue;
        }
        QString error;
        const QByteArray sha256 = downloadedSha256(inet, *one.direct, &error);
        if (sha256.isEmpty())
            out.problems << QStringLiteral("“%1”：无法下载（%2）。").arg(names.at(i), error);
        else if (sha256 != check.sha256.value(names.at(i)))
            out.problems << QStringLiteral("“%1”：下载到的文件的 SHA-256 与签名的列表不符。").arg(names.at(i));
        else
            out.verified << QStringLiteral("“%1”：SHA-256 相符。").arg(names.at(i));
    }
    return out;
}

QString signatureText(const SignatureReport &report)
{
    QString out = QStringLiteral("签名：%1\n").arg(report.problems.isEmpty() ? QStringLiteral("校验通过")
                                                                           : QStringLiteral("校验失败"));
    for (const QString &line : report.verified)
        out += QStringLiteral("  ") + line + QLatin1Char('\n');
    for (const QString &line : report.problems)
        out += QStringLiteral("  未通过：") + line + QLatin1Char('\n');
    return out;
}

QJsonObject signatureJson(const SignatureReport &report)
{
    return {{QStringLiteral("verified"), QJsonArray::fromStringList(report.verified)},
            {QStringLiteral("problems"), QJsonArray::fromStringList(report.problems)}};
}

} // namespace pagetool
