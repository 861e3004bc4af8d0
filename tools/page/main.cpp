// mosalune-page: shows the maker what each window of both programs will read
// from a release page, before the page goes live.

#include "pagecheck.h"
#include "samplepage.h"
#include "signaturecheck.h"

#include "common/errors.h"
#include "common/inet.h"
#include "common/releasepage.h"
#include "common/texthelpers.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QStringList>

#include <cstdio>
#include <optional>

namespace {

enum ExitCode { ExitRead = 0, ExitReaderFailed = 1, ExitUsage = 2 };

const char kHelp[] =
    "用法：\n"
    "  mosalune-page check [--json] [--resolve] [--key 公钥] 页面\n"
    "      读取发布页，列出各窗口将读到的内容：版本、更新日志（更新窗口中的样子）、\n"
    "      更新文件列表、消息推送开关和推送内容（对话框中的样子）；\n"
    "      读取失败的项目会说明是哪个标记或规则出了问题。\n"
    "      --json     输出一个 JSON 对象，键为 version、changeLog、files、pushSwitch、\n"
    "                 pushMessage、pushText 和 errors；读取失败的项为 null。\n"
    "      --resolve  同时读取列表中每个文件的分享页并给出下载地址\n"
    "                 （JSON 中另加 resolved 数组）。\n"
    "      --key 公钥  用发布公钥（minisign.pub 的第二行）校验页面旁的 SHA256SUMS 和\n"
    "                 SHA256SUMS.minisig，与更新程序的校验相同；加 --resolve 时还下载\n"
    "                 每个文件并比对 SHA-256（JSON 中另加 signature 对象）。\n"
    "  mosalune-page share [--json] 页面\n"
    "      读取一个分享页，给出其中的下载地址。\n"
    "  mosalune-page sample\n"
    "      输出一份各项都能正确读取的示例发布页。\n"
    "  mosalune-page --help\n"
    "      显示本说明。\n"
    "\n"
    "“页面”是文件路径，或以 http:// 或 https:// 开头的网址（超时 60 秒）。\n"
    "退出码：0 各项读取成功；1 有读取失败或签名未通过校验的项目；2 用法错误或页面无法读取。\n";

void print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

int usageError(const QString &message)
{
    print(stderr, message + QStringLiteral("\n用 mosalune-page --help 查看用法。\n"));
    return ExitUsage;
}

bool isAddress(const QString &where)
{
    return where.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
           || where.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

// The page's bytes from a file or over HTTP; throws RunError when they
// cannot be had.
QByteArray fetch(common::Inet &inet, const QString &where)
{
    if (isAddress(where))
        return inet.fetchBytes(where);
    const QFileInfo info(where);
    if (!info.exists())
        throw common::RunError(QStringLiteral("页面文件“%1”不存在。").arg(where));
    if (info.isDir())
        throw common::RunError(QStringLiteral("“%1”是文件夹，不是页面文件。").arg(where));
    QFile file(where);
    if (!file.open(QIODevice::ReadOnly))
        throw common::RunError(
            QStringLiteral("无法打开页面文件“%1”（没有读取权限或文件被占用）。").arg(where));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw common::RunError(QStringLiteral("读取页面文件“%1”时出错。").arg(where));
    return bytes;
}

struct Options
{
    bool json = false;
    bool resolve = false;
    std::optional<QString> key;
    QString page;
};

// Reads the options after the command; returns an error text on misuse.
QString parseOptions(const QStringList &args, bool resolveAllowed, Options &options)
{
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (!optionsEnded && resolveAllowed && arg == QLatin1String("--key")) {
            if (i + 1 == args.size() || args.at(i + 1).isEmpty())
                return QStringLiteral("--key 后面缺少公钥。");
            options.key = args.at(++i);
        } else if (!optionsEnded && arg == QLatin1String("--")) {
            optionsEnded = true;
        } else if (!optionsEnded && arg == QLatin1String("--json")) {
            options.json = true;
        } else if (!optionsEnded && resolveAllowed && arg == QLatin1String("--resolve")) {
            options.resolve = true;
        } else if (!optionsEnded && arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            return QStringLiteral("未知的选项：%1").arg(arg);
        } else if (options.page.isEmpty()) {
            if (arg.isEmpty())
                return QStringLiteral("页面不能为空。");
            options.page = arg;
        } else {
            return QStringLiteral("只能给出一个页面，多出了：%1").arg(arg);
        }
    }
    if (options.page.isEmpty())
        return QStringLiteral("缺少页面：请给出文件路径或网址。");
    return QString();
}

int runCheck(common::Inet &inet, const Options &options)
{
    QString page;
    try {
        page = common::DecodeUtf8(fetch(inet, options.page));
    } catch (const common::RunError &error) {
        print(stderr, QStringLiteral("无法读取页面：%1\n").arg(error.message()));
        return ExitUsage;
    }
    pagetool::PageReport report = pagetool::checkPage(page);
    if (options.resolve) {
        report.resolveAsked = true;
        if (report.files) {
            for (const common::FileEntry &entry : *report.files) {
                try {
                    const QString sharePage =
                        common::DecodeUtf8(inet.fetchBytes(entry.shareAddress));
                    report.resolved.append(pagetool::resolveShare(entry.shareAddress, sharePage));
                } catch (const common::RunError &error) {
                    report.resolved.append(
                        {entry.shareAddress, std::nullopt,
                         QStringLiteral("无法读取分享页：%1").arg(error.message())});
                }
            }
        }
    }
    std::optional<pagetool::SignatureReport> signature;
    if (options.key)
        signature = pagetool::checkSignature(
            inet, [&inet](const QString &where) { return fetch(inet, where); }, options.page,
            report, *options.key);
    if (options.json) {
        QJsonObject json = pagetool::reportJson(report);
        if (signature)
            json.insert(QStringLiteral("signature"), pagetool::signatureJson(*signature));
        print(stdout, QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Indented)));
    } else {
        print(stdout, pagetool::reportText(report, common::OwnVersion()));
        if (signature)
            print(stdout, pagetool::signatureText(*signature));
    }
    const bool signatureHolds = !signature || signature->problems.isEmpty();
    return report.allRead() && signatureHolds ? ExitRead : ExitReaderFailed;
}

int runShare(common::Inet &inet, const Options &options)
{
    QString page;
    try {
        page = common::DecodeUtf8(fetch(inet, options.page));
    } catch (const common::RunError &error) {
        print(stderr, QStringLiteral("无法读取分享页：%1\n").arg(error.message()));
        return ExitUsage;
    }
    const pagetool::Resolved one = pagetool::resolveShare(options.page, page);
    if (options.json) {
        const QJsonObject json{
            {QStringLiteral("direct"),
             one.direct ? QJsonValue(*one.direct) : QJsonValue(QJsonValue::Null)},
            {QStringLiteral("error"),
             one.direct ? QJsonValue(QJsonValue::Null) : QJsonValue(one.error)}};
        print(stdout, QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Indented)));
    } else if (one.direct) {
        print(stdout, QStringLiteral("下载地址：%1\n").arg(*one.direct));
    } else {
        print(stdout, QStringLiteral("读取失败。%1\n").arg(one.error));
    }
    return one.direct ? ExitRead : ExitReaderFailed;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        print(stdout, QString::fromUtf8(kHelp));
        return ExitRead;
    }
    if (args.isEmpty())
        return usageError(QStringLiteral("缺少命令。"));

    const QString command = args.first();
    if (command == QLatin1String("sample")) {
        if (args.size() > 1)
            return usageError(QStringLiteral("sample 命令不带参数。"));
        print(stdout, pagetool::samplePage());
        return ExitRead;
    }
    if (command != QLatin1String("check") && command != QLatin1String("share"))
        return usageError(QStringLiteral("未知的命令：%1").arg(command));

    Options options;
    const QString misuse = parseOptions(args.mid(1), command == QLatin1String("check"), options);
    if (!misuse.isEmpty())
        return usageError(misuse);

    common::Inet inet;
    inet.setRequestTimeout(60);
    try {
        return command == QLatin1String("check") ? runCheck(inet, options)
                                                 : runShare(inet, options);
    } catch (const common::RunError &error) {
        print(stderr, QStringLiteral("出错：%1\n").arg(error.message()));
        return ExitUsage;
    }
}
