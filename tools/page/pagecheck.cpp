#include "pagecheck.h"

#include "common/errors.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QStringList>

namespace pagetool {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

template <typename Reader> std::optional<Failure> attempt(Reader reader)
{
    try {
        reader();
    } catch (const common::ReadError &error) {
        return Failure{error.rule(), error.message()};
    } catch (const common::RunError &error) {
        return Failure{QString(), error.message()};
    }
    return std::nullopt;
}

// Shows a window's text one line per CR LF; a lone CR or LF that the page
// carried is made visible, since the window would show it oddly.
QString indented(const QString &text, const QString &indent)
{
    if (text.isEmpty())
        return indent + QStringLiteral("（空）\n");
    QString out;
    for (QString line : text.split(kCrLf)) {
        line.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
        line.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
        out += indent + line + QLatin1Char('\n');
    }
    return out;
}

QString failureLine(const QString &what, const Failure &failure)
{
    QString line = what + QStringLiteral("：读取失败。") + failure.message;
    if (!failure.rule.isEmpty())
        line += QStringLiteral("（规则：%1）").arg(failure.rule);
    return line + QLatin1Char('\n');
}

} // namespace

bool PageReport::allRead() const
{
    if (versionError || changeLogError || filesError || pushError)
        return false;
    for (const Resolved &one : resolved) {
        if (!one.direct)
            return false;
    }
    return true;
}

PageReport checkPage(const QString &page)
{
    PageReport report;
    report.versionError = attempt([&] { report.version = common::PageVersion(page); });
    // The programs compare whatever follows "Ver"; the maker is told when
    // that is not a version at all (an earlier "Ver" in the title or a font
    // name, markup, a space), before every user is asked to update to it.
    static const QRegularExpression wellFormed(QStringLiteral("^\\d\\d\\.\\d\\d\\.\\d\\d$"));
    if (report.version && !wellFormed.match(*report.version).hasMatch()) {
        report.versionError = Failure{
            QStringLiteral("NN.NN.NN"),
            QStringLiteral("“Ver”后面读到的是“%1”，不是版本号。“Ver”后面应紧跟 8 个字符的版本号"
                           "（如 13.04.21），中间不能有空格、冒号或标记，页面中也不能更早出现"
                           "“Ver”（如标题或字体名 Verdana）。")
                .arg(*report.version)};
        report.version.reset();
    }
    report.changeLogError = attempt([&] {
        report.changeLog = common::NoticeLogText(common::ChangeLogSection(page));
    });
    report.filesError = attempt([&] { report.files = common::FileEntries(page); });
    report.pushError = attempt([&] {
        report.push = common::ReadPush(page);
        report.pushText = common::DialogText(report.push->pushMessage);
    });
    if (report.pushError)
        report.push.reset();
    return report;
}

Resolved resolveShare(const QString &share, const QString &sharePage)
{
    Resolved one;
    one.share = share;
    if (const auto failure = attempt([&] { one.direct = common::DirectAddress(sharePage); }))
        one.error = failure->message;
    return one;
}

QString reportText(const PageReport &report, const QString &ownVersion)
{
    QString out;
    if (report.version) {
        out += QStringLiteral("版本：%1\n").arg(*report.version);
        out += *report.version == ownVersion
                   ? QStringLiteral("  与本程序的版本 %1 相同：启动时不提示更新。\n").arg(ownVersion)
                   : QStringLiteral("  与本程序的版本 %1 不同：启动时会提示更新。\n").arg(ownVersion);
    } else {
        out += failureLine(QStringLiteral("版本"), *report.versionError);
    }

    if (report.changeLog) {
        out += QStringLiteral("更新日志（更新窗口中显示的样子）：\n");
        out += indented(*report.changeLog, QStringLiteral("  "));
    } else {
        out += failureLine(QStringLiteral("更新日志"), *report.changeLogError);
    }

    if (report.files) {
        out += QStringLiteral("更新文件（共 %1 个，按下载顺序）：\n").arg(report.files->size());
        if (report.files->isEmpty())
            out += QStringLiteral("  列表为空：下载窗口会提示“更新失败”。\n");
        for (qsizetype i = 0; i < report.files->size(); ++i) {
            const common::FileEntry &entry = report.files->at(i);
            out += QStringLiteral("  %1. 文件名：%2\n").arg(i + 1).arg(entry.fileName);
            out += QStringLiteral("     分享页：%1\n").arg(entry.shareAddress);
            if (i < report.resolved.size()) {
                const Resolved &one = report.resolved.at(i);
                out += one.direct ? QStringLiteral("     下载地址：%1\n").arg(*one.direct)
                                  : QStringLiteral("     下载地址：读取失败。%1\n").arg(one.error);
            }
        }
    } else {
        out += failureLine(QStringLiteral("更新文件"), *report.filesError);
    }

    if (report.push) {
        out += QStringLiteral("消息推送开关：%1（%2）\n")
                   .arg(report.push->pushSwitch,
                        report.push->isOn() ? QStringLiteral("开启，程序启动约三分钟后弹出消息")
                                            : QStringLiteral("关闭，不弹出消息"));
        out += QStringLiteral("消息推送内容（联网时对话框中显示的样子）：\n");
        out += indented(report.pushText, QStringLiteral("  "));
    } else {
        out += failureLine(QStringLiteral("消息推送"), *report.pushError);
    }

    out += report.allRead() ? QStringLiteral("结果：各项都能正确读取。\n")
                            : QStringLiteral("结果：有读取失败的项目，请按上面的说明修改页面。\n");
    return out;
}

QJsonObject reportJson(const PageReport &report)
{
    QJsonObject json;
    QJsonObject errors;
    const auto put = [&](const QString &key, const std::optional<QString> &value,
                         const std::optional<Failure> &failure) {
        json.insert(key, value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null));
        if (failure)
            errors.insert(key, failure->message);
    };
    put(QStringLiteral("version"), report.version, report.versionError);
    put(QStringLiteral("changeLog"), report.changeLog, report.changeLogError);

    if (report.files) {
        QJsonArray files;
        for (const common::FileEntry &entry : *report.files) {
            files.append(QJsonObject{{QStringLiteral("entry"), entry.displayEntry},
                                     {QStringLiteral("name"), entry.fileName},
                                     {QStringLiteral("share"), entry.shareAddress}});
        }
        json.insert(QStringLiteral("files"), files);
    } else {
        json.insert(QStringLiteral("files"), QJsonValue::Null);
        errors.insert(QStringLiteral("files"), report.filesError->message);
    }

    const auto pushPart = [&](auto member) -> std::optional<QString> {
        if (!report.push)
            return std::nullopt;
        return member(*report.push);
    };
    put(QStringLiteral("pushSwitch"),
        pushPart([](const common::PushSection &push) { return push.pushSwitch; }),
        report.pushError);
    put(QStringLiteral("pushMessage"),
        pushPart([](const common::PushSection &push) { return push.pushMessage; }),
        report.pushError);
    put(QStringLiteral("pushText"),
        pushPart([&](const common::PushSection &) { return report.pushText; }), report.pushError);
    json.insert(QStringLiteral("errors"), errors);

    if (report.resolveAsked) {
        QJsonArray resolved;
        for (const Resolved &one : report.resolved) {
            resolved.append(QJsonObject{
                {QStringLiteral("share"), one.share},
                {QStringLiteral("direct"),
                 one.direct ? QJsonValue(*one.direct) : QJsonValue(QJsonValue::Null)},
                {QStringLiteral("error"),
                 one.direct ? QJsonValue(QJsonValue::Null) : QJsonValue(one.error)}});
        }
        json.insert(QStringLiteral("resolved"), resolved);
    }
    return json;
}

} // namespace pagetool
